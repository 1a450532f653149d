#include "core/Client_GlobalClient.h"
#include "core/Client_PersonDownloads.h"
#include "core/BitDocument.h"
#include "core/Client_Base.h"
#include "core/Client_BugReport.h"
#include "core/ECC.h"
#include "core/ZStream.h"
#include "platform/Application.h"
#include "platform/Text.h"
#include <QBuffer>
#include <QDir>

namespace pelvox {

namespace {
std::atomic<TGlobalClient*> gGlobalClient{nullptr};

// Folders the application keeps under its root.
const char* const AppFolders[] = {"Config",      "Images",          "Images/Emotions", "Images/WebBrowser",
                                  "Skins",       "Skins/Style",     "Skins/Background", "Sound",
                                  "Temp",        "Temp/Users",      "Temp/Faces",      "Temp/Photos",
                                  "Temp/WebApps", "Update",         "Users"};

// Inflated documents larger than a packet may be are refused.
constexpr qsizetype MaxInflatedDocument = qsizetype(TCP_MAX_DATA_SIZE);
} // namespace

const QString TGlobalClient::ClientPrivateKey = QStringLiteral("5C3A91E07B2D");
const QString TGlobalClient::ClientRandomParamter = QStringLiteral("A47F20C9D3E8");

TGlobalClient* GlobalClient() { return gGlobalClient.load(); }

TGlobalClient::TGlobalClient(TGlobalClientOptions AOptions) : FOptions(std::move(AOptions))
{
    FWindowHandle = std::make_unique<THiddenWindow>(
        [this](uint32_t m, uintptr_t w, intptr_t l) { return WndProc(m, w, l); });

    FClientECC = std::make_unique<TECC>();
    FClientECC->Init(QLatin1String(ClientCurvePrime));
    FClientECC->SetRandomParamter(ClientRandomParamter);
    FClientECC->SetPrivateKey(ClientPrivateKey);
    FServerPublicECC = std::make_unique<TPublicECC>();
    FServerPublicECC->Init(QLatin1String(ServerCurvePrime));
    FServerPublicECC->SetRandomParamter(ClientRandomParamter);

    FMainCmdSocket = std::make_unique<TTCPClient>();
    FMainCmdSocket->SetTimings(FOptions.TCPTimings);
    FMainCmdSocket->SetOnRecvData([this](TTCPClient*, const TTCPRECVDATA* d) { OnMainCmdRecvData(d); });
    FMainCmdSocket->SetOnDisconnect([this](TTCPClient*) { OnMainCmdDisconnect(); });

    const QString root = GetAppRoot();
    for (const char* f : AppFolders) QDir().mkpath(root + QLatin1String(f));

    FNotifyFromServer = std::make_unique<TNotifyFromServer>(this);
    InstallSessionHandlers();
    RunDocumentHandlerInstallers(*FNotifyFromServer);

    FLoginParams = std::make_unique<TLoginParams>(this);
    FServerInfo = std::make_unique<TServerInfo>(FOptions.Ticks);
    FCurrentUser = std::make_unique<TCurrentUser>(this);
    FLocalUserManager = std::make_unique<TLocalUserManager>();
    FLocalUserManager->LoadLocalUsers();

    FSystemConfig = std::make_unique<TSystemConfig>(this);
    FSystemConfig->SetRememberedAutoLogin(FLocalUserManager.get());

    for (int i = 0; i < ManagerKindCount; ++i) FManagers[size_t(i)] = CreateManager(TManagerKind(i));

    FActivity = FOptions.Activity ? FOptions.Activity : CreateDesktopUserActivity();
    gGlobalClient.store(this);
    SetSession(this);
}

TGlobalClient::~TGlobalClient()
{
    Logout();
    if (gGlobalClient.load() == this) gGlobalClient.store(nullptr);
    if (Session() == this) SetSession(nullptr);
    FNotifyFromServer.reset();
    FLoginParams.reset();
    FServerInfo.reset();
    FCurrentUser.reset();
    FLocalUserManager.reset();
    FSystemConfig.reset();
    for (auto& m : FManagers) m.reset();
    FWhoMoveMeToBlackList.clear();
    FDelayStartChatList.clear();
    FMainCmdSocket.reset();
    FServerPublicECC.reset();
    FClientECC.reset();
    FWindowHandle.reset();
}

void TGlobalClient::SendMainCmdData(TBitDocument& ABtdoc, bool AEncrypt)
{
    if (!AEncrypt) {
        const QByteArray bytes = ABtdoc.SaveToBytes();
        FMainCmdSocket->SendData(bytes.constData(), uint32_t(bytes.size()), 0, 0);
        return;
    }
    TBitDocument wrapper(ABtdoc.Name());
    wrapper.Root()->AddBinaryNode(QStringLiteral("encryptdata"), ZCompress(ABtdoc.SaveToBytes()));
    const QByteArray bytes = wrapper.SaveToBytes();
    FMainCmdSocket->SendData(bytes.constData(), uint32_t(bytes.size()), 1, 0);
}

void TGlobalClient::OnMainCmdRecvData(const TTCPRECVDATA* ARecvData)
{
    // A malformed document is dropped; the connection and the session go on.
    auto raise = [&](const QByteArray& bytes) {
        TBitDocument doc;
        try {
            int16_t code;
            uint8_t version;
            QString name;
            if (!TBitDocument::PrefetchDocumentHeader(bytes.constData(), bytes.size(), code, version, name)) return;
            doc.LoadFromBytes(bytes);
        } catch (const std::exception&) {
            return;
        }
        // The managers build their share of a login answer here, so the UI
        // thread only swaps it in.
        if (doc.Name() == QLatin1String("Users.Login[ACK]") && IsLoging() && !Logined() &&
            doc.ReadInt32(u"errorcode", -1) == 0)
            for (const auto& m : FManagers) m->PrepareLoginData(doc);
        TBindingEventManager::Instance().ExecuteEvent(0, doc.Name(), reinterpret_cast<uintptr_t>(&doc),
                                                      ARecvData->SID);
    };
    const QByteArray payload = QByteArray::fromRawData(reinterpret_cast<const char*>(ARecvData->pDataBuffer),
                                                       qsizetype(ARecvData->dwDataSize));
    if (ARecvData->dwReserved1 == 0) {
        raise(payload);
    } else if (ARecvData->dwReserved1 == 1) {
        QByteArray packed;
        try {
            TBitDocument wrapper;
            wrapper.LoadFromBytes(payload);
            packed = wrapper.ReadBinary(u"encryptdata");
        } catch (const std::exception&) {
            return;
        }
        if (auto inner = ZDecompress(packed, MaxInflatedDocument)) raise(*inner);
    }
}

void TGlobalClient::OnMainCmdDisconnect() { FWindowHandle->Post(WM_MAINCMDDISCONNECT); }

intptr_t TGlobalClient::WndProc(uint32_t msg, uintptr_t wParam, intptr_t lParam)
{
    switch (msg) {
    case WM_TIMER:
        if (wParam == TIMER_LOGINSTATUS_AUTOCHANGE) OnLoginStatusAutoChangeTimer();
        if (wParam == TIMER_DELAYDOWN)
            if (IPersonDownloads* d = PersonDownloads()) d->OnDelayDownTimer();
        // Timer 2 serves the delayed downloads, which the download work adds.
        return 0;
    case WM_FORCEOFFLINE:
        if (FInLogout || !(Logined() || IsLoging())) return 0;
        Logout();
        RaiseEvent(QStringLiteral("Client:OnForceOffline"));
        return 0;
    case WM_MAINCMDDISCONNECT:
        // Only a session that was signed in (or signing in) has lost anything;
        // a connection dropped after a logout or a failed login is not news.
        if (FInLogout || !(Logined() || IsLoging())) return 0;
        Logout();
        RaiseEvent(QStringLiteral("Client:OnMainCmdDisconnect"));
        return 0;
    default:
        return 0;
    }
}

void TGlobalClient::StartLoginStatusAutoChangeTimer()
{
    if (!Logined() || FLoginStatusAutoChangeTimerActive) return;
    FLoginStatusAutoChangeTimerActive = true;
    FWindowHandle->SetTimer(TIMER_LOGINSTATUS_AUTOCHANGE, 1000);
}

void TGlobalClient::StopLoginStatusAutoChangeTimer()
{
    FWindowHandle->KillTimer(TIMER_LOGINSTATUS_AUTOCHANGE);
    FLoginStatusAutoChangeTimerActive = false;
}

void TGlobalClient::StartDelayDownTimer()
{
    if (!Logined() || FDelayDownTimerActive) return;
    FDelayDownTimerActive = true;
    FWindowHandle->SetTimer(TIMER_DELAYDOWN, 1000);
}

void TGlobalClient::StopDelayDownTimer()
{
    FWindowHandle->KillTimer(TIMER_DELAYDOWN);
    FDelayDownTimerActive = false;
}

void TGlobalClient::OnLoginStatusAutoChangeTimer()
{
    // The rules only ever change the status of a signed-in session; a status
    // change while signed out would start a login.
    if (!Logined() || FInLogout) return;
    const auto& o = FSystemConfig->LoginStatusOptions();
    const std::optional<uint32_t> idle = FActivity->IdleMs();
    if (!idle) return;
    const bool isIdle = int64_t(*idle) >= o.NoneMouseTimeMs();
    if (isIdle) {
        const TLoginStatus target = o.NoneMouseLoginStatus;
        if (target != FCurrentUser->LoginStatus() && (target == lsLeave || target == lsBusy) &&
            !FCurrentLoginStatusChanged_NoneMouseAction) {
            FStoredCurrentLoginStatus_NoneMouseAction = FCurrentUser->LoginStatus();
            FCurrentUser->ChangeLoginStatus(target);
            FCurrentLoginStatusChanged_NoneMouseAction = true;
            return;
        }
    } else if (FCurrentLoginStatusChanged_NoneMouseAction) {
        FCurrentLoginStatusChanged_NoneMouseAction = false;
        FCurrentUser->ChangeLoginStatus(FStoredCurrentLoginStatus_NoneMouseAction);
        return;
    }
    if (!o.TurnToBusyWhenFullScreen) return;
    if (FActivity->ScreenSaverRunning().value_or(true)) return;
    const std::optional<bool> fills = FActivity->ForegroundFillsScreen();
    if (!fills) return;
    if (*fills) {
        if (!FCurrentLoginStatusChanged_FullScreenApp) {
            FStoredCurrentLoginStatus_FullScreenApp = FCurrentUser->LoginStatus();
            FCurrentUser->ChangeLoginStatus(lsBusy);
            FCurrentLoginStatusChanged_FullScreenApp = true;
        }
    } else if (FCurrentLoginStatusChanged_FullScreenApp) {
        FCurrentLoginStatusChanged_FullScreenApp = false;
        FCurrentUser->ChangeLoginStatus(FStoredCurrentLoginStatus_FullScreenApp);
    }
}

void TGlobalClient::SendCommand(const QString& AName)
{
    TBitDocument doc(AName);
    SendMainCmdData(doc, false);
}

void TGlobalClient::GetUserInfo(const QString& AUserIdOrName)
{
    if (!Logined()) return;
    TBitDocument doc(QStringLiteral("Users.GetUserInfo"));
    doc.Root()->AddStringNode(QStringLiteral("useridorname"), AUserIdOrName);
    SendMainCmdData(doc, false);
}

void TGlobalClient::ChangeSysMsgDetail_Readed(int64_t sysmsgid)
{
    if (!Logined()) return;
    TBitDocument doc(QStringLiteral("SysMsg.ChangeSysMsgDetail_Readed"));
    doc.Root()->AddInt64Node(QStringLiteral("sysmsgid"), sysmsgid);
    SendMainCmdData(doc, false);
}

std::shared_ptr<TOtherUser> TGlobalClient::FindOtherUser(const QString& AUserIdOrName) const
{
    if (auto dir = PersonDirectory()) return dir->FindOtherUser(AUserIdOrName);
    return nullptr;
}

QString TGlobalClient::ConvertURLVariants(const QString& url) const
{
    static const QString variable = QStringLiteral("[%HTTP_HOST%]");
    QString host = FSystemConfig->NetworkOptions().CurrentItem().Address();
    if (FServerInfo->Port_Httpd() != 80) host += QLatin1Char(':') + QString::number(FServerInfo->Port_Httpd());
    QString result;
    qsizetype from = 0;
    for (;;) {
        qsizetype at = -1;
        for (qsizetype i = from; i + variable.size() <= url.size(); ++i)
            if (SameText(QStringView(url).mid(i, variable.size()), variable)) {
                at = i;
                break;
            }
        if (at < 0) break;
        result += QStringView(url).mid(from, at - from);
        result += host;
        from = at + variable.size();
    }
    result += QStringView(url).mid(from);
    return result;
}

} // namespace pelvox
