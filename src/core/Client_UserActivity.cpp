#include "core/Client_UserActivity.h"

namespace pelvox {

namespace {
class TUnknownUserActivity final : public IUserActivity {
public:
    std::optional<uint32_t> IdleMs() override { return std::nullopt; }
    std::optional<bool> ScreenSaverRunning() override { return std::nullopt; }
    std::optional<bool> ForegroundFillsScreen() override { return std::nullopt; }
};
} // namespace

std::shared_ptr<IUserActivity> CreateDesktopUserActivity() { return std::make_shared<TUnknownUserActivity>(); }

} // namespace pelvox
