#pragma once
#include "core/Client_CurrentUser.h"
#include "core/Client_LocalUsers.h"
#include "core/Client_Login.h"
#include "core/Client_NotifyFromServer.h"
#include "core/Client_ServerInfo.h"
#include "core/Client_Session.h"
#include "core/Client_SystemConfig.h"
#include "core/Client_TCPClient.h"
#include "core/Client_UserActivity.h"
#include "platform/HiddenWindow.h"
#include "platform/Sync.h"
#include <QByteArray>
#include <QStringList>
#include <array>
#include <atomic>
#include <memory>

namespace pelvox {

class TBitDocument;
class TECC;
class TPublicECC;

// Messages of the session's hidden window.
constexpr uint32_t WM_FORCEOFFLINE = 1125;
constexpr uint32_t WM_MAINCMDDISCONNECT = 1126;
constexpr uintptr_t TIMER_LOGINSTATUS_AUTOCHANGE = 1;
constexpr uintptr_t TIMER_DELAYDOWN = 2;

// What a test or the start-up code may change about a session before it runs.
struct TGlobalClientOptions {
    TLoginTimings LoginTimings;
    TTCPTimings TCPTimings;
    TTickSource Ticks;                       // null: the system tick count
    std::shared_ptr<IUserActivity> Activity; // null: the desktop's
};

// The one session object of the process: the command connection, the key
// pair, login and logout, the signed-in user and the data managers. Created,
// used and freed on the user-interface thread (the login thread only touches
// flags, the connection and the bus).
class TGlobalClient : public ISession {
public:
    explicit TGlobalClient(TGlobalClientOptions AOptions = {});
    ~TGlobalClient() override;
    TGlobalClient(const TGlobalClient&) = delete;
    TGlobalClient& operator=(const TGlobalClient&) = delete;

    void Login();
    void Logout();

    // ISession
    bool Logined() const override { return FLogined.load(); }
    void SendMainCmdData(TBitDocument& ABtdoc, bool AEncrypt = false) override;
    TDateTime ServerTime() const override { return FServerInfo->ServerTime(); }
    QString UserRoot() const override { return FCurrentUser->GetUserRoot(); }
    uint32_t CurrentUserId() const override { return uint32_t(FCurrentUser->UserId()); }

    bool IsLoging() const { return FIsLoging.load(); }
    TLoginParams& LoginParams() { return *FLoginParams; }
    TServerInfo& ServerInfo() { return *FServerInfo; }
    TCurrentUser& CurrentUser() { return *FCurrentUser; }
    TLocalUserManager& LocalUserManager() { return *FLocalUserManager; }
    TSystemConfig& SystemConfig() { return *FSystemConfig; }
    TNotifyFromServer& NotifyFromServer() { return *FNotifyFromServer; }
    IDataManager* Manager(TManagerKind AKind) const { return FManagers.at(size_t(AKind)).get(); }
    QStringList& WhoMoveMeToBlackList() { return FWhoMoveMeToBlackList; }
    QStringList& DelayStartChatList() { return FDelayStartChatList; }
    QString GetForceOfflineDescription() const { return FForceOfflineDescription; }
    void SetForceOfflineDescription(const QString& v) { FForceOfflineDescription = v; }
    // "errorcode" of the last login answer.
    int32_t LoginErrCode() const { return FLoginErrCode.load(); }
    const QByteArray& SessionKey() const { return FSessionKey; }
    const TECC& ClientECC() const { return *FClientECC; }

    // When signed in: "Users.GetUserInfo" / "SysMsg.ChangeSysMsgDetail_Readed".
    void GetUserInfo(const QString& AUserIdOrName);
    void ChangeSysMsgDetail_Readed(int64_t sysmsgid);
    std::shared_ptr<TOtherUser> FindOtherUser(const QString& AUserIdOrName) const;
    QString ConvertURLVariants(const QString& url) const;

    // The hidden window's procedure and its timers (public for the tests).
    intptr_t WndProc(uint32_t msg, uintptr_t wParam, intptr_t lParam);
    bool HasTimer(uintptr_t AId) const { return FWindowHandle->HasTimer(AId); }
    void StartLoginStatusAutoChangeTimer();
    void StopLoginStatusAutoChangeTimer();
    void StartDelayDownTimer();
    void StopDelayDownTimer();
    void OnLoginStatusAutoChangeTimer();
    // Whether a login thread exists (finished or not).
    bool HasLoginThread() const { return FLoginThread != nullptr; }
    bool HasLoginThreadRunning() const { return FLoginThread && !FLoginThread->Finished(); }
    // The command connection (tests read its state).
    TTCPClient& MainCmdSocket() { return *FMainCmdSocket; }

    // The fixed key texts of the client's key pair.
    static const QString ClientPrivateKey;
    static const QString ClientRandomParamter;

private:
    // Receive path (dispatch thread) and loss of the connection (manage thread).
    void OnMainCmdRecvData(const TTCPRECVDATA* ARecvData);
    void OnMainCmdDisconnect();
    void InstallSessionHandlers();

    // Login thread.
    void DoLogin(TWorkerThread& AThread);
    void SelectNetworkItem(TWorkerThread& AThread);
    enum class TWaitResult { Done, Terminated, TimedOut };
    TWaitResult WaitForFlag(TWorkerThread& AThread, const std::atomic<bool>& AFlag, int ATimeoutMs);
    void EndLoginFailed(const QString& AEvent, uintptr_t AParam);
    bool RunOnUIThread(TWorkerThread& AThread, const std::function<void()>& AStep);

    // Answers (UI thread).
    void OnCreateSafeSessionAck(const TBitDocument& ADoc);
    void OnLoginAck(const TBitDocument& ADoc);
    void OnLogoutAck(const TBitDocument& ADoc);
    void OnServerForceOffline(const TBitDocument& ADoc);
    bool LoginAnswerWanted() const;

    // Applying a login (UI thread).
    void InitWhenLoginSuccess(const TBitDocument& ADoc);
    void DropHalfAppliedLogin();
    void OpenUserDatabase();
    void CloseUserDatabase();
    void AfterLoginSuccess();
    void SendCommand(const QString& AName);
    // Waits on the UI thread, keeping messages flowing.
    void WaitProcessingMessages(const std::function<bool()>& APred, int ATimeoutMs);

    TGlobalClientOptions FOptions;
    std::unique_ptr<THiddenWindow> FWindowHandle;
    std::unique_ptr<TECC> FClientECC;
    std::unique_ptr<TPublicECC> FServerPublicECC;
    QByteArray FSessionKey;
    std::unique_ptr<TTCPClient> FMainCmdSocket;
    std::unique_ptr<TWorkerThread> FLoginThread;
    TEvent FLoginSignal{false, false}; // wakes the login thread's waits
    std::atomic<bool> FLoginThreadOver{false};
    std::atomic<int32_t> FLoginErrCode{0};
    std::atomic<bool> FCreateSafeSessionAckGetted{false};
    std::atomic<bool> FServerPublicKeyGetted{false};
    std::atomic<bool> FSessionKeyGetted{false};
    std::atomic<bool> FIsLoging{false};
    std::atomic<bool> FLogined{false};
    bool FDelayDownTimerActive = false;
    std::atomic<bool> FGetLogoutAck{false};
    bool FInLogout = false;
    bool FUserDatabaseOpened = false;
    std::unique_ptr<TNotifyFromServer> FNotifyFromServer;
    std::unique_ptr<TLoginParams> FLoginParams;
    std::unique_ptr<TServerInfo> FServerInfo;
    std::unique_ptr<TCurrentUser> FCurrentUser;
    std::unique_ptr<TLocalUserManager> FLocalUserManager;
    std::unique_ptr<TSystemConfig> FSystemConfig;
    std::array<std::unique_ptr<IDataManager>, ManagerKindCount> FManagers;
    bool FLoginStatusAutoChangeTimerActive = false;
    bool FCurrentLoginStatusChanged_NoneMouseAction = false;
    TLoginStatus FStoredCurrentLoginStatus_NoneMouseAction = lsOffline;
    bool FCurrentLoginStatusChanged_FullScreenApp = false;
    TLoginStatus FStoredCurrentLoginStatus_FullScreenApp = lsOffline;
    QString FForceOfflineDescription;
    QStringList FWhoMoveMeToBlackList;
    QStringList FDelayStartChatList;
    std::shared_ptr<IUserActivity> FActivity;
};

// The process-wide session object (null when none exists).
TGlobalClient* GlobalClient();

} // namespace pelvox
