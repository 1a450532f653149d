#include "core/Client_UserActivity.h"
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/scrnsaver.h>
#include <cstdlib>

namespace pelvox {

namespace {

class TUnknownUserActivity final : public IUserActivity {
public:
    std::optional<uint32_t> IdleMs() override { return std::nullopt; }
    std::optional<bool> ScreenSaverRunning() override { return std::nullopt; }
    std::optional<bool> ForegroundFillsScreen() override { return std::nullopt; }
};

// Windows may vanish between two requests; such errors must not end the program.
int IgnoreXError(Display*, XErrorEvent*) { return 0; }

// Idle time and screen saver from the X screen-saver extension; the
// foreground window from the window manager's _NET_ACTIVE_WINDOW.
class TX11UserActivity final : public IUserActivity {
public:
    explicit TX11UserActivity(Display* ADisplay) : FDisplay(ADisplay), FInfo(XScreenSaverAllocInfo()) {}
    ~TX11UserActivity() override
    {
        if (FInfo) XFree(FInfo);
        XCloseDisplay(FDisplay);
    }
    TX11UserActivity(const TX11UserActivity&) = delete;
    TX11UserActivity& operator=(const TX11UserActivity&) = delete;

    std::optional<uint32_t> IdleMs() override
    {
        if (!Query()) return std::nullopt;
        return uint32_t(FInfo->idle);
    }

    std::optional<bool> ScreenSaverRunning() override
    {
        if (!Query()) return std::nullopt;
        return FInfo->state == ScreenSaverOn;
    }

    std::optional<bool> ForegroundFillsScreen() override
    {
        const Window root = DefaultRootWindow(FDisplay);
        const Window active = ActiveWindow(root);
        if (active == None || active == root || IsDesktop(active)) return std::nullopt;
        XWindowAttributes attr{};
        if (!XGetWindowAttributes(FDisplay, active, &attr)) return std::nullopt;
        int x = 0, y = 0;
        Window child = None;
        XTranslateCoordinates(FDisplay, active, root, 0, 0, &x, &y, &child);
        const int screenW = DisplayWidth(FDisplay, DefaultScreen(FDisplay));
        const int screenH = DisplayHeight(FDisplay, DefaultScreen(FDisplay));
        // The window's rectangle cut to the screen must be the whole screen.
        const int left = std::max(x, 0), top = std::max(y, 0);
        const int right = std::min(x + attr.width, screenW), bottom = std::min(y + attr.height, screenH);
        return left == 0 && top == 0 && right == screenW && bottom == screenH;
    }

private:
    bool Query()
    {
        int event = 0, error = 0;
        if (!FInfo || !XScreenSaverQueryExtension(FDisplay, &event, &error)) return false;
        return XScreenSaverQueryInfo(FDisplay, DefaultRootWindow(FDisplay), FInfo) != 0;
    }

    Window ActiveWindow(Window root)
    {
        const Atom prop = XInternAtom(FDisplay, "_NET_ACTIVE_WINDOW", True);
        if (prop == None) return None;
        Atom type = None;
        int format = 0;
        unsigned long count = 0, after = 0;
        unsigned char* data = nullptr;
        Window w = None;
        if (XGetWindowProperty(FDisplay, root, prop, 0, 1, False, XA_WINDOW, &type, &format, &count, &after, &data) == Success &&
            data && type == XA_WINDOW && format == 32 && count == 1)
            w = Window(*reinterpret_cast<unsigned long*>(data));
        if (data) XFree(data);
        return w;
    }

    // The desktop itself never counts as a full-screen application.
    bool IsDesktop(Window w)
    {
        const Atom typeProp = XInternAtom(FDisplay, "_NET_WM_WINDOW_TYPE", True);
        const Atom desktop = XInternAtom(FDisplay, "_NET_WM_WINDOW_TYPE_DESKTOP", True);
        if (typeProp == None || desktop == None) return false;
        Atom type = None;
        int format = 0;
        unsigned long count = 0, after = 0;
        unsigned char* data = nullptr;
        bool result = false;
        if (XGetWindowProperty(FDisplay, w, typeProp, 0, 16, False, XA_ATOM, &type, &format, &count, &after, &data) == Success &&
            data && format == 32) {
            const auto* atoms = reinterpret_cast<unsigned long*>(data);
            for (unsigned long i = 0; i < count; ++i) result = result || atoms[i] == desktop;
        }
        if (data) XFree(data);
        return result;
    }

    Display* FDisplay;
    XScreenSaverInfo* FInfo;
};

} // namespace

std::shared_ptr<IUserActivity> CreateDesktopUserActivity()
{
    if (const char* d = std::getenv("DISPLAY"); d && *d) {
        if (Display* display = XOpenDisplay(nullptr)) {
            XSetErrorHandler(IgnoreXError);
            return std::make_shared<TX11UserActivity>(display);
        }
    }
    return std::make_shared<TUnknownUserActivity>();
}

} // namespace pelvox
