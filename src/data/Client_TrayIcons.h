#pragma once
#include <QImage>

namespace pelvox {

// The tray icons of the resource set that message-box items blink with. The
// user-interface library registers the real set at start-up; until then (and
// in tests) plain placeholders stand in. Used on the user-interface thread.
class ITrayIcons {
public:
    virtual ~ITrayIcons() = default;
    virtual const QImage& TrayIcon_SystemMessage() const = 0;
    virtual const QImage& TrayIcon_GroupMessage() const = 0;
    virtual const QImage& TrayIcon_RoomMessage() const = 0;
};

// The registered set, or the placeholders when none is registered.
const ITrayIcons& TrayIcons();
// Registers the set (not owned; null restores the placeholders).
void SetTrayIcons(const ITrayIcons* AIcons);

} // namespace pelvox
