#include "BuildConfig.h"
#include "core/Client_Base.h"
#include "core/Client_BindingEvents.h"
#include "core/Client_GlobalClient.h"
#include "core/Client_OEM.h"
#include "core/MD5.h"
#include "data/Client_Managers.h"
#include "data/DataLayer.h"
#include "platform/Application.h"
#include "platform/DebugOutput.h"
#include "platform/Memory.h"
#include "platform/UIThread.h"
#include <QCoreApplication>
#include <QSocketNotifier>
#include <csignal>
#include <cstdio>
#include <sys/socket.h>
#include <unistd.h>

using namespace pelvox;

namespace {

// SIGINT and SIGTERM reach the Qt loop through a socket pair.
int gSignalFds[2] = {-1, -1};
void OnStopSignal(int)
{
    const char c = 1;
    [[maybe_unused]] const auto n = ::write(gSignalFds[1], &c, 1);
}

void PrintLine(const QString& line)
{
    std::printf("%s\n", qPrintable(line));
    std::fflush(stdout);
}

// Until the windows exist: sign in from the command line and stay signed in.
int RunHeadless(QCoreApplication& app, const QString& loginName, const QString& digest)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, gSignalFds) != 0) return 1;
    struct sigaction sa {};
    sa.sa_handler = OnStopSignal;
    ::sigaction(SIGINT, &sa, nullptr);
    ::sigaction(SIGTERM, &sa, nullptr);

    InstallDataLayer();
    auto client = std::make_unique<TGlobalClient>();
    int exitCode = 0;
    bool stopping = false;
    auto stop = [&](int code) {
        if (stopping) return;
        stopping = true;
        exitCode = code;
        QMetaObject::invokeMethod(&app, [&] { app.exit(exitCode); }, Qt::QueuedConnection);
    };

    std::vector<std::unique_ptr<TBindingEvent>> events;
    auto on = [&](const char* name, std::function<void(uintptr_t)> then) {
        const QString n = QLatin1String(name);
        events.push_back(std::make_unique<TBindingEvent>(n, [n, then](TBindingEvent& e) {
            PrintLine(n + QLatin1Char(' ') + QString::number(e.EventParam1()));
            if (then) then(e.EventParam1());
        }));
    };
    on("Client:OnLoging", nullptr);
    on("Client:OnLoginSuccess", [&](uintptr_t) {
        const TCurrentUser& u = client->CurrentUser();
        PrintLine(QStringLiteral("signed in as %1 (%2), user root %3")
                      .arg(u.GetShowName(true)).arg(u.UserId()).arg(u.GetUserRoot()));
        if (TDepartmentManager* d = DepartmentManager())
            PrintLine(QStringLiteral("directory: %1 colleagues").arg(d->ColleagueCount()));
        if (TContactManager* c = ContactManager()) PrintLine(QStringLiteral("contacts: %1").arg(c->ContactCount()));
        if (TMsgBoxManager* b = MsgBoxManager()) PrintLine(QStringLiteral("message box: %1 items").arg(b->Items().Count()));
    });
    on("Client:OnReceivedSysMsg", [&](uintptr_t) {
        TMsgBoxManager* b = MsgBoxManager();
        if (!b) return;
        // As the notification window would: show the set-aside system messages and drop them.
        for (int i = b->StoredItems().Count() - 1; i >= 0; --i)
            if (auto* m = dynamic_cast<TMsgBoxItem_System*>(b->StoredItems()[i])) {
                PrintLine(QStringLiteral("system message: %1: %2").arg(m->Title(), m->Content()));
                b->StoredItems().Delete(i);
            }
    });
    on("Client:OnLoginError", [&](uintptr_t) { stop(1); });
    on("Client:OnLoginTimeOut", [&](uintptr_t) { stop(1); });
    on("Client:OnConnectError", [&](uintptr_t) { stop(1); });
    on("Client:OnBeforeLogout", nullptr);
    on("Client:OnAfterLogout", nullptr);
    on("Client:OnForceOffline", [&](uintptr_t) {
        PrintLine(client->GetForceOfflineDescription());
        stop(1);
    });
    on("Client:OnMainCmdDisconnect", [&](uintptr_t) { stop(1); });

    QSocketNotifier notifier(gSignalFds[0], QSocketNotifier::Read);
    QObject::connect(&notifier, &QSocketNotifier::activated, [&] {
        char c;
        [[maybe_unused]] const auto n = ::read(gSignalFds[0], &c, 1);
        stop(0);
    });

    client->LoginParams().SetLoginName(loginName);
    client->LoginParams().SetPassword(digest);
    client->Login();
    app.exec();
    client->Logout();
    client.reset();
    events.clear();
    return exitCode;
}

} // namespace

int main(int argc, char** argv)
{
    TuneAllocatorForLargePackets();
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Pelvox"));
    QCoreApplication::setApplicationVersion(QStringLiteral(PELVOX_VERSION_STRING));
    SetCommandLineArguments(QCoreApplication::arguments().mid(1));
    SetApplicationExceptionHandler(DefaultApplicationExceptionHandler);
    MutableOEM() = CompiledOEMDefaults();
    TBindingEventManager::Instance();

    std::printf("Pelvox %s\napplication root: %s\ndefault server: %s:%d\n",
                qPrintable(QCoreApplication::applicationVersion()), qPrintable(GetAppRoot()),
                qPrintable(OEM().OEMServerAddress), OEM().OEMServerPort);
    std::fflush(stdout);

    // -user <id or name> with -pwd <upper-case MD5 digest> or --password <plain text>.
    QString user, digest, plain;
    int result = 0;
    if (GetCmdLineSwitch(QStringLiteral("user"), user) && !user.isEmpty()) {
        if (GetCmdLineSwitch(QStringLiteral("-password"), plain)) digest = PasswordDigest(plain);
        else GetCmdLineSwitch(QStringLiteral("pwd"), digest);
        result = RunHeadless(app, user, digest);
    }
    UIThread::Shutdown();
    return result;
}
