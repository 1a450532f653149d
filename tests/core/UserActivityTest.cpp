#include "core/Client_UserActivity.h"
#include <QProcess>
#include <QStandardPaths>
#include <cstdlib>
#include <gtest/gtest.h>
// Last: Xlib's macros (None, Status...) clash with names in the headers above.
#include <X11/Xatom.h>
#include <X11/Xlib.h>

using namespace pelvox;

namespace {

// A private X server for the test; it says its display number when ready.
class PrivateXServer {
public:
    PrivateXServer()
    {
        const QString xvfb = QStandardPaths::findExecutable(QStringLiteral("Xvfb"));
        if (xvfb.isEmpty()) return;
        FProcess.start(xvfb, {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"),
                              QStringLiteral("0"), QStringLiteral("800x600x24"), QStringLiteral("-nolisten"),
                              QStringLiteral("tcp")});
        QByteArray out;
        while (!out.contains('\n') && FProcess.waitForReadyRead(10000)) out += FProcess.readAllStandardOutput();
        if (out.trimmed().isEmpty()) return;
        FDisplay = ":" + out.trimmed().toStdString();
    }
    ~PrivateXServer()
    {
        FProcess.terminate();
        FProcess.waitForFinished(5000);
    }
    const std::string& Display() const { return FDisplay; }

private:
    QProcess FProcess;
    std::string FDisplay;
};

class EnvDisplay {
public:
    explicit EnvDisplay(const std::string& value)
    {
        if (const char* old = std::getenv("DISPLAY")) FOld = old;
        if (value.empty()) ::unsetenv("DISPLAY");
        else ::setenv("DISPLAY", value.c_str(), 1);
    }
    ~EnvDisplay()
    {
        if (FOld) ::setenv("DISPLAY", FOld->c_str(), 1);
        else ::unsetenv("DISPLAY");
    }

private:
    std::optional<std::string> FOld;
};

void SetActive(::Display* d, Window w)
{
    const Atom prop = XInternAtom(d, "_NET_ACTIVE_WINDOW", False);
    XChangeProperty(d, DefaultRootWindow(d), prop, XA_WINDOW, 32, PropModeReplace, reinterpret_cast<unsigned char*>(&w), 1);
    XSync(d, False);
}

} // namespace

TEST(UserActivity, WithoutADisplayEverythingIsUnknown)
{
    EnvDisplay none("");
    auto activity = CreateDesktopUserActivity();
    EXPECT_FALSE(activity->IdleMs().has_value());
    EXPECT_FALSE(activity->ScreenSaverRunning().has_value());
    EXPECT_FALSE(activity->ForegroundFillsScreen().has_value());
}

TEST(UserActivity, ReadsIdleTimeAndTheForegroundWindowFromX11)
{
    PrivateXServer server;
    if (server.Display().empty()) GTEST_SKIP() << "Xvfb is not available";
    EnvDisplay display(server.Display());
    auto activity = CreateDesktopUserActivity();
    ASSERT_TRUE(activity->IdleMs().has_value());
    EXPECT_EQ(activity->ScreenSaverRunning(), std::optional<bool>(false));
    EXPECT_FALSE(activity->ForegroundFillsScreen().has_value()); // no window manager, no foreground window

    // Play the window manager: a window covering the screen becomes the active one.
    ::Display* d = XOpenDisplay(server.Display().c_str());
    ASSERT_NE(d, nullptr);
    const Window w = XCreateSimpleWindow(d, DefaultRootWindow(d), 0, 0, 800, 600, 0, 0, 0);
    XMapWindow(d, w);
    SetActive(d, w);
    EXPECT_EQ(activity->ForegroundFillsScreen(), std::optional<bool>(true));

    XMoveResizeWindow(d, w, 10, 10, 400, 300);
    XSync(d, False);
    EXPECT_EQ(activity->ForegroundFillsScreen(), std::optional<bool>(false));

    // The desktop covers the screen but is no application.
    XMoveResizeWindow(d, w, 0, 0, 800, 600);
    Atom desktop = XInternAtom(d, "_NET_WM_WINDOW_TYPE_DESKTOP", False);
    XChangeProperty(d, w, XInternAtom(d, "_NET_WM_WINDOW_TYPE", False), XA_ATOM, 32, PropModeReplace,
                    reinterpret_cast<unsigned char*>(&desktop), 1);
    XSync(d, False);
    EXPECT_FALSE(activity->ForegroundFillsScreen().has_value());

    // A window that has gone is no foreground window, and no crash.
    const Window gone = XCreateSimpleWindow(d, DefaultRootWindow(d), 0, 0, 800, 600, 0, 0, 0);
    XDestroyWindow(d, gone);
    SetActive(d, gone);
    EXPECT_FALSE(activity->ForegroundFillsScreen().has_value());
    XCloseDisplay(d);
}
