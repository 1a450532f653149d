#pragma once
#include <cstdint>
#include <memory>
#include <optional>

namespace pelvox {

// What the automatic login status asks of the desktop. Every answer may be
// "unknown" (nothing), which skips the rule that needs it.
class IUserActivity {
public:
    virtual ~IUserActivity() = default;
    // Milliseconds since the last keyboard or mouse input.
    virtual std::optional<uint32_t> IdleMs() = 0;
    virtual std::optional<bool> ScreenSaverRunning() = 0;
    // Whether the foreground window (not the desktop) covers the whole screen;
    // nothing when there is no foreground window or it is the desktop.
    virtual std::optional<bool> ForegroundFillsScreen() = 0;
};

// The X11 screen-saver extension where a display is reachable, otherwise a
// provider that answers "unknown" to everything.
std::shared_ptr<IUserActivity> CreateDesktopUserActivity();

} // namespace pelvox
