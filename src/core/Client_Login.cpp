#include "core/Client_Login.h"
#include "core/BitDocument.h"
#include "core/Client_Base.h"
#include "core/Client_BugReport.h"
#include "core/Client_GlobalClient.h"
#include "core/Client_PersonDownloads.h"
#include <QFile>
#include "core/Client_OEM.h"
#include "core/Client_SubCmdObjects.h"
#include "core/Client_UserTheme.h"
#include "core/ECC.h"
#include "platform/DebugOutput.h"
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>

namespace pelvox {

namespace {
const QString kModule = QStringLiteral("VUDezero.dll");
const QString kUnit = QStringLiteral("Client_GlobalClient");

// The order in which the managers take the login answer (the message box
// comes before file transfer and chat).
constexpr TManagerKind InitOrder[] = {
    TManagerKind::Department, TManagerKind::Contact,   TManagerKind::AddressList, TManagerKind::Group,
    TManagerKind::Room,       TManagerKind::WebVisitor, TManagerKind::WebApp,     TManagerKind::RecentItem,
    TManagerKind::MsgBox,     TManagerKind::FileTrans, TManagerKind::Chat,        TManagerKind::AVChat,
    TManagerKind::RemoteDesktop, TManagerKind::USERDB, TManagerKind::Search};
// The managers that send requests after a login, in their order.
constexpr TManagerKind AfterLoginOrder[] = {TManagerKind::WebApp, TManagerKind::Chat, TManagerKind::FileTrans,
                                            TManagerKind::MsgBox};
} // namespace

void TGlobalClient::InstallSessionHandlers()
{
    auto& n = *FNotifyFromServer;
    n.RegisterHandler(QStringLiteral("Users.CreateSafeSession[ACK]"),
                      [this](const TBitDocument& d, uint32_t) { OnCreateSafeSessionAck(d); });
    n.RegisterHandler(QStringLiteral("Users.Login[ACK]"), [this](const TBitDocument& d, uint32_t) { OnLoginAck(d); });
    n.RegisterHandler(QStringLiteral("Users.Logout[ACK]"), [this](const TBitDocument& d, uint32_t) { OnLogoutAck(d); });
    n.RegisterHandler(QStringLiteral("Server:ForceOffline"),
                      [this](const TBitDocument& d, uint32_t) { OnServerForceOffline(d); });
}

// ---- Login (UI thread) --------------------------------------------------------

void TGlobalClient::Login()
{
    if (Logined() || IsLoging() || FInLogout) return;
    FIsLoging = true;
    CancelTCPConnect.Set(false);
    CancelSubCmd.Set(false);
    FForceOfflineDescription.clear();
    FLoginSignal.ResetEvent();
    // A thread that has raised its outcome may still be ending: let it.
    if (FLoginThread) {
        FLoginThread->WaitFor();
        FLoginThread.reset();
    }
    FLoginThread = std::make_unique<TWorkerThread>([this](TWorkerThread& t) { DoLogin(t); });
    if (IPersonDownloads* d = PersonDownloads()) {
        d->ClearDelayList();
        d->StartThreads();
    }
}

// ---- Login thread ---------------------------------------------------------------

TGlobalClient::TWaitResult TGlobalClient::WaitForFlag(TWorkerThread& AThread, const std::atomic<bool>& AFlag,
                                                      int ATimeoutMs)
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(ATimeoutMs);
    const auto poll = std::chrono::milliseconds(std::max(1, FOptions.LoginTimings.Poll));
    for (;;) {
        if (AThread.Terminated()) return TWaitResult::Terminated;
        if (AFlag.load()) return TWaitResult::Done;
        const auto now = Clock::now();
        if (now >= deadline) return TWaitResult::TimedOut;
        FLoginSignal.WaitFor(std::min(poll, std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now) +
                                                 std::chrono::milliseconds(1)));
    }
}

void TGlobalClient::EndLoginFailed(const QString& AEvent, uintptr_t AParam)
{
    // A failed login never leaves a half-open session behind to be resumed.
    FMainCmdSocket->Disconnect();
    FIsLoging = false;
    if (!AEvent.isEmpty()) RaiseEvent(AEvent, AParam);
}

bool TGlobalClient::RunOnUIThread(TWorkerThread& AThread, const std::function<void()>& AStep)
{
    if (AThread.Terminated()) return false;
    bool ran = false;
    Synchronize([&] {
        // Checked again on the UI thread: a Logout may have begun meanwhile.
        if (AThread.Terminated()) return;
        AStep();
        ran = true;
    });
    return ran;
}

void TGlobalClient::DoLogin(TWorkerThread& AThread)
{
    const TLoginTimings& t = FOptions.LoginTimings;
    FLoginThreadOver = false;
    FLoginErrCode = 0;
    FCreateSafeSessionAckGetted = false;
    FServerPublicKeyGetted = false;
    FSessionKeyGetted = false;

    RaiseEvent(QStringLiteral("Client:OnLoging"), 0);
    SelectNetworkItem(AThread);
    if (AThread.Terminated()) return EndLoginFailed({}, 0);

    RaiseEvent(QStringLiteral("Client:OnLoging"), 1);
    if (FMainCmdSocket->Connected()) FMainCmdSocket->Disconnect();
    {
        // The network item is changed only on the UI thread; copy it there.
        TNetworkItem item;
        if (!RunOnUIThread(AThread, [&] { item.Assign(FSystemConfig->NetworkOptions().CurrentItem()); }))
            return EndLoginFailed({}, 0);
        FMainCmdSocket->SetAutoReconnect(true);
        FMainCmdSocket->SetUseComInThread(true);
        FMainCmdSocket->SetServerAddress(item.Address());
        FMainCmdSocket->SetServerPort(item.Port);
        FMainCmdSocket->SetLocalPort(item.LocalPort);
    }
    const auto connectStart = Clock::now();
    bool connected = FMainCmdSocket->Connect(t.ConnectAttempt);
    while (!connected) {
        FMainCmdSocket->Disconnect();
        if (AThread.Terminated()) return EndLoginFailed({}, 0);
        AThread.SleepFor(std::chrono::milliseconds(t.ConnectRetryPause));
        if (AThread.Terminated()) return EndLoginFailed({}, 0);
        if (Clock::now() - connectStart >= std::chrono::milliseconds(t.ConnectTotal)) break;
        connected = FMainCmdSocket->Connect(t.ConnectAttempt);
    }
    if (!connected) return EndLoginFailed(QStringLiteral("Client:OnConnectError"), 0);
    if (AThread.Terminated()) return EndLoginFailed({}, 0);

    RaiseEvent(QStringLiteral("Client:OnLoging"), 2);
    {
        TBitDocument doc(QStringLiteral("Users.CreateSafeSession"));
        doc.Root()->AddStringNode(QStringLiteral("clientpublickey"), FClientECC->PublicKey());
        SendMainCmdData(doc, false);
    }
    switch (WaitForFlag(AThread, FCreateSafeSessionAckGetted, t.KeyExchangeAnswer)) {
    case TWaitResult::Terminated: return EndLoginFailed({}, 0);
    case TWaitResult::TimedOut: return EndLoginFailed(QStringLiteral("Client:OnLoginTimeOut"), 0);
    case TWaitResult::Done: break;
    }
    if (!FServerPublicKeyGetted || !FSessionKeyGetted)
        return EndLoginFailed(QStringLiteral("Client:OnLoginError"), lecUnknown);

    RaiseEvent(QStringLiteral("Client:OnLoging"), 3);
    FServerInfo->SetBeginTickCount();
    {
        TBitDocument doc(QStringLiteral("Users.Login"));
        TBitNode* r = doc.Root();
        r->AddStringNode(QStringLiteral("SuportsServerVersion"), OEM().OEMServerVersion);
        r->AddStringNode(QStringLiteral("LoginName"), FLoginParams->LoginName());
        r->AddStringNode(QStringLiteral("Password"), FLoginParams->Password());
        r->AddInt32Node(QStringLiteral("LoginStatus"), int32_t(FLoginParams->LoginStatus()));
        SendMainCmdData(doc, false);
    }
    switch (WaitForFlag(AThread, FLoginThreadOver, t.LoginAnswer)) {
    case TWaitResult::Terminated: return EndLoginFailed({}, 0);
    case TWaitResult::TimedOut: return EndLoginFailed(QStringLiteral("Client:OnLoginTimeOut"), 0);
    case TWaitResult::Done: break;
    }
    if (!Logined()) return EndLoginFailed(QStringLiteral("Client:OnLoginError"), uintptr_t(FLoginErrCode.load()));
    FIsLoging = false;
    if (!RunOnUIThread(AThread, [this] { OpenUserDatabase(); })) return;
    if (AThread.Terminated()) return;
    RaiseEvent(QStringLiteral("Client:OnLoginSuccess"), 0);
    RunOnUIThread(AThread, [this] { AfterLoginSuccess(); });
}

void TGlobalClient::SelectNetworkItem(TWorkerThread& AThread)
{
    if (Logined()) return;
    // The profiles belong to the UI thread; take a copy, test it here (the
    // tests take up to 2 s each), and store the choice back there.
    std::vector<TNetworkItem> items;
    int p2pPort = 0;
    RunOnUIThread(AThread, [&] {
        auto& options = FSystemConfig->NetworkOptions();
        if (options.Items().empty()) {
            auto item = std::make_unique<TNetworkItem>();
            item->NetworkName = OEM().OEMNetworkName;
            item->SetAddress(OEM().OEMServerAddress);
            item->Port = OEM().OEMServerPort;
            item->LocalPort = OEM().OEMLocalPort;
            options.Items().push_back(std::move(item));
        }
        for (const auto& i : options.Items()) {
            items.emplace_back();
            items.back().Assign(*i);
        }
        p2pPort = FServerInfo->Port_P2PService();
    });
    if (items.empty()) return;
    size_t chosen = 0;
    if (items.size() > 1) {
        for (auto& i : items) {
            if (AThread.Terminated()) return;
            i.TestConnection(p2pPort);
        }
        int best = 999999;
        for (size_t k = 0; k < items.size(); ++k) {
            const int d = items[k].NetworkDelay();
            if (d != -1 && d < best) {
                best = d;
                chosen = k;
            }
        }
    }
    RunOnUIThread(AThread, [&] { FSystemConfig->NetworkOptions().CurrentItem().Assign(items[chosen]); });
}

// ---- Answers (UI thread) --------------------------------------------------------

bool TGlobalClient::LoginAnswerWanted() const
{
    // An answer that arrives after the login was given up (or outside any
    // login) must not sign anybody in.
    return IsLoging() && !Logined() && FLoginThread && !FLoginThread->Terminated() && !FInLogout;
}

void TGlobalClient::OnCreateSafeSessionAck(const TBitDocument& ADoc)
{
    if (!LoginAnswerWanted()) return;
    if (ADoc.ReadInt32(u"errorcode", -1) == 0) {
        const QString serverKey = ADoc.ReadString(u"serverpublickey");
        try {
            FServerPublicECC->SetPublicKey(serverKey);
            FSessionKey = FClientECC->Decrypt(ADoc.ReadString(u"sessionkey"));
            FServerPublicKeyGetted = !serverKey.isEmpty();
            FSessionKeyGetted = !FSessionKey.isEmpty();
        } catch (const std::exception& e) {
            // A malformed key ends the login at once (code 1), not after the wait.
            TQVBugReport::WriteError(ExceptionMessage(e), kModule, kUnit, QStringLiteral("OnCreateSafeSessionAck"));
            FSessionKey.clear();
            FServerPublicKeyGetted = false;
            FSessionKeyGetted = false;
        }
    }
    FCreateSafeSessionAckGetted = true;
    FLoginSignal.SetEvent();
}

void TGlobalClient::OnLoginAck(const TBitDocument& ADoc)
{
    if (!LoginAnswerWanted()) return;
    FLoginErrCode = ADoc.ReadInt32(u"errorcode", lecUnknown);
    if (FLoginErrCode == 0) {
        try {
            InitWhenLoginSuccess(ADoc);
            FLogined = true;
            FIsLoging = false;
        } catch (const std::exception& e) {
            // An answer that cannot be applied ends the login with code 1 and
            // leaves nothing of it behind.
            TQVBugReport::WriteError(ExceptionMessage(e), kModule, kUnit, QStringLiteral("InitWhenLoginSuccess"));
            FLoginErrCode = lecUnknown;
            DropHalfAppliedLogin();
        }
    }
    FLoginThreadOver = true;
    FLoginSignal.SetEvent();
}

void TGlobalClient::OnLogoutAck(const TBitDocument&)
{
    FGetLogoutAck = true;
    UIThread::Wake();
}

void TGlobalClient::OnServerForceOffline(const TBitDocument& ADoc)
{
    FForceOfflineDescription = ADoc.ReadString(u"description");
    FWindowHandle->Post(WM_FORCEOFFLINE);
}

// ---- Applying the login answer (UI thread) ----------------------------------------

void TGlobalClient::InitWhenLoginSuccess(const TBitDocument& ADoc)
{
    FServerInfo->InitWhenLoginSuccess(ADoc);
    FCurrentUser->InitWhenLoginSuccess(ADoc);
    FLocalUserManager->InitWhenLoginSuccess(ADoc, *FLoginParams, *FCurrentUser);
    FCurrentUser->CreateUserFolders();

    IUserThemeService& theme = UserThemeService();
    theme.SetUserThemeFile(FCurrentUser->GetUserRoot() + QStringLiteral("UserTheme.xml"));
    if (QFileInfo::exists(theme.UserThemeFile()))
        theme.LoadCurrentTheme();
    else
        theme.SaveCurrentTheme();

    FSystemConfig->LoadData();
    FSystemConfig->InitWhenLoginSuccess(&ADoc);
    FSystemConfig->GeneralOptions().AutoLogin = FLoginParams->AutoLogin();
    FSystemConfig->SaveData();

    // The store opens before any manager takes the answer, so nothing that
    // arrives from here on (pushes included) finds it closed.
    OpenUserDatabase();
    for (TManagerKind k : InitOrder) Manager(k)->InitWhenLoginSuccess(ADoc);
}

void TGlobalClient::DropHalfAppliedLogin()
{
    FCurrentUser->UpdateDataWhenLogout();
    for (auto& m : FManagers) {
        GuardedCall(kModule, kUnit, QStringLiteral("DropHalfAppliedLogin"), [&] { m->UpdateDataWhenLogout(); });
    }
    CloseUserDatabase();
}

void TGlobalClient::OpenUserDatabase()
{
    if (FUserDatabaseOpened) return;
    const QString root = FCurrentUser->GetUserRoot();
    const QString target = root + QStringLiteral("USERDB2.FDB");
    const QString templ = GetAppRoot() + QStringLiteral("Bin/USERDB2.FDB");
    if (!QFileInfo::exists(target) && QFileInfo::exists(templ)) QFile::copy(templ, target);
    if (auto* store = dynamic_cast<IMessageStore*>(Manager(TManagerKind::USERDB))) store->OpenUserDatabase(root);
    FUserDatabaseOpened = true;
}

void TGlobalClient::CloseUserDatabase()
{
    if (auto* store = dynamic_cast<IMessageStore*>(Manager(TManagerKind::USERDB))) store->CloseUserDatabase();
    FUserDatabaseOpened = false;
}

void TGlobalClient::AfterLoginSuccess()
{
    if (!Logined()) return;
    SendCommand(QStringLiteral("Users.ActiveLogined"));
    if (IPersonDownloads* d = PersonDownloads()) {
        const TCurrentUser& me = *FCurrentUser;
        if (!me.FaceFile().isEmpty() && !QFile::exists(me.GetLocalFaceFile()))
            d->DownloadFaceFile(me.UserId(), me.FaceFile());
        if (!me.PhotoFile().isEmpty() && !QFile::exists(me.GetLocalPhotoFile()))
            d->DownloadPhotoFile(me.UserId(), me.PhotoFile());
    }
    for (TManagerKind k : AfterLoginOrder) Manager(k)->AfterLoginSuccess();
    if (FSystemConfig->LoginStatusOptions().AutoLoginStatus) StartLoginStatusAutoChangeTimer();
    StartDelayDownTimer();
}

// ---- Logout -----------------------------------------------------------------------

void TGlobalClient::WaitProcessingMessages(const std::function<bool()>& APred, int ATimeoutMs)
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(ATimeoutMs);
    while (!APred()) {
        const auto now = Clock::now();
        if (now >= deadline) return;
        UIThread::WaitUntil(APred, std::min(deadline, now + std::chrono::milliseconds(10)));
        if (UIThread::IsUIThread()) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
}

void TGlobalClient::Logout()
{
    // Waiting below runs messages, among them another Logout (a lost
    // connection, a forced logout): it finds this one under way.
    if (FInLogout) return;
    FInLogout = true;
    struct TReset {
        bool& Flag;
        ~TReset() { Flag = false; }
    } reset{FInLogout};

    StopDelayDownTimer();
    StopLoginStatusAutoChangeTimer();
    CancelTCPConnect.Set(true);
    CancelSubCmd.Set(true);
    if (IPersonDownloads* d = PersonDownloads()) d->StopThreads();

    if (FLoginThread) {
        FLoginThread->Terminate();
        FLoginSignal.SetEvent();
        WaitProcessingMessages([this] { return FLoginThread->Finished(); }, INT32_MAX);
        FLoginThread->WaitFor();
        FLoginThread.reset();
    }
    FIsLoging = false;
    if (!Logined()) {
        // A failed or abandoned login may have left a connection up.
        FMainCmdSocket->Disconnect();
        return;
    }

    RaiseEvent(QStringLiteral("Client:OnBeforeLogout"), 0);
    FCurrentUser->UpdateDataWhenLogout();
    for (auto& m : FManagers)
        GuardedCall(kModule, kUnit, QStringLiteral("Logout"), [&] { m->UpdateDataWhenLogout(); });

    if (FMainCmdSocket->Connected()) {
        FGetLogoutAck = false;
        SendCommand(QStringLiteral("Users.Logout"));
        WaitProcessingMessages([this] { return FGetLogoutAck.load(); }, FOptions.LoginTimings.LogoutAnswer);
    }
    FMainCmdSocket->Disconnect();
    CloseUserDatabase();
    RaiseEvent(QStringLiteral("Client:OnAfterLogout"), 0);
    FLogined = false;
    FIsLoging = false;
    // Timers a handler may have started while we waited do not survive.
    StopDelayDownTimer();
    StopLoginStatusAutoChangeTimer();
}

} // namespace pelvox
