#pragma once
#include "core/Client_Enums.h"
#include "core/Client_NetworkOptions.h"
#include "core/SettingsFields.h"
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace pelvox {

class ISession;
class TBitDocument;
class THiddenWindow;
class TSystemConfig;

enum TContactSortType : uint8_t { cstUserId = 0, cstShowName = 1 };
enum TGroupSortType : uint8_t { gstGroupName = 0, gstGroupId = 1 };
enum TRoomSortType : uint8_t { rstRoomName = 0, rstRoomId = 1 };

// Option objects: plain read-write fields, named as the settings windows use
// them; each class lists its elements, in file order, in Fields().
class TOptionsBase {
public:
    explicit TOptionsBase(TSystemConfig* AOwner) : FSystemConfig(AOwner) {}
    TSystemConfig* SystemConfig() const { return FSystemConfig; }

private:
    TSystemConfig* FSystemConfig;
};

class TGeneralOptions : public TOptionsBase {
public:
    using TOptionsBase::TOptionsBase;
    bool AutoRun = false;
    bool AutoLogin = false;
    bool ShowLoginInfo = false;
    bool TopMost = false;
    bool AutoHideMainWnd = true;
    bool QueryWhenCloseMainWnd = true;
    bool ExitAppWhenCloseMainWnd = false;
    bool ZVS_Contacts_LargeShow = true;
    bool ZVS_Contacts_ShowUserId = false;
    TContactSortType ZVS_Contacts_SortType = cstUserId;
    bool ZVS_Groups_LargeShow = true;
    TGroupSortType ZVS_Groups_SortType = gstGroupId;
    bool ZVS_Rooms_LargeShow = true;
    TRoomSortType ZVS_Rooms_SortType = rstRoomId;
    bool ZVS_WebApps_LargeShow = true;
    bool ZVS_WebApps_ShowAppURL = false;
    bool KeepFileTransHint = true;
    static const std::vector<TSettingsField<TGeneralOptions>>& Fields();
};

// Each key value is a 16-bit shortcut: virtual-key code in the low byte plus
// the Shift, Ctrl and Alt flags.
class THotkeyOptions : public TOptionsBase {
public:
    using TOptionsBase::TOptionsBase;
    bool ReadMsg = false;
    int ReadMsg_KeyValue = 0;
    bool OpenMsgBox = false;
    int OpenMsgBox_KeyValue = 0;
    bool ScreenCapture = false;
    int ScreenCapture_KeyValue = 0;
    static const std::vector<TSettingsField<THotkeyOptions>>& Fields();
};

// Notification sounds. PlaySound_ calls queue a sound name once; a 500 ms
// timer plays the queue, so a burst of messages plays each sound once.
class TSoundOptions : public TOptionsBase {
public:
    explicit TSoundOptions(TSystemConfig* AOwner);
    ~TSoundOptions();
    TSoundOptions(const TSoundOptions&) = delete;
    TSoundOptions& operator=(const TSoundOptions&) = delete;

    bool Enable = true;
    // Not stored: every start begins with them on.
    bool Enable_Message = true;
    bool Enable_GroupMessage = true;
    bool Enable_RoomMessage = true;
    bool Enable_WebVisitorMessage = true;
    bool Enable_OtherUserLogin = true;
    bool Enable_Multimedia = true;
    bool Enable_ShakeWindow = true;
    // Wave files.
    QString Message;
    QString GroupMessage;
    QString RoomMessage;
    QString WebVisitorMessage;
    QString OtherUserLogin;
    QString Multimedia;
    QString ShakeWindow;

    void PlaySound_Message();
    void PlaySound_GroupMessage();
    void PlaySound_RoomMessage();
    void PlaySound_WebVisitorMessage();
    void PlaySound_OtherUserLogin();
    void PlaySound_Multimedia();
    void PlaySound_ShakeWindow();

    // The player of one wave file; PlayWaveFile unless replaced (tests).
    using TWavePlayer = std::function<void(const QString& AFileName)>;
    void SetWavePlayer(TWavePlayer APlayer);
    QStringList PlayList() const { return FPlayList; }
    // The timer's work: plays and empties the queue, front first.
    void PlayQueued();

    static constexpr uintptr_t TimerId = 1;
    static constexpr int TimerInterval = 500;
    static const std::vector<TSettingsField<TSoundOptions>>& Fields();

private:
    struct TSound;
    static const std::vector<TSound>& Sounds();
    void Queue(size_t AIndex);
    std::unique_ptr<THiddenWindow> FWindow;
    QStringList FPlayList;
    TWavePlayer FPlayer;
};

// Stored and written back; nothing else reads them.
class TUserRootOptions : public TOptionsBase {
public:
    using TOptionsBase::TOptionsBase;
    TUserRootType UserRootType = ptInstallPath;
    QString CustomUserRoot;
    static const std::vector<TSettingsField<TUserRootOptions>>& Fields();
};

class TSoftUpdateOptions : public TOptionsBase {
public:
    using TOptionsBase::TOptionsBase;
    TSoftUpdateType UpdateType = utAutoInstall;
    static const std::vector<TSettingsField<TSoftUpdateOptions>>& Fields();
};

class TLoginStatusOptions : public TOptionsBase {
public:
    using TOptionsBase::TOptionsBase;
    bool AutoLoginStatus = false;
    int NoneMouseTime = 5; // minutes
    TLoginStatus NoneMouseLoginStatus = lsLeave; // lsLeave or lsBusy
    bool TurnToBusyWhenFullScreen = true;
    // Read from a file only within this range, so the milliseconds fit 32 bits.
    static constexpr int MaxNoneMouseTime = INT32_MAX / 60000;
    int64_t NoneMouseTimeMs() const { return int64_t(NoneMouseTime) * 60000; }
    static const std::vector<TSettingsField<TLoginStatusOptions>>& Fields();
};

class TChatOptions : public TOptionsBase {
public:
    // The default font text is built from the interface font at creation.
    explicit TChatOptions(TSystemConfig* AOwner);
    QString FontString;
    bool ShowWritingStatus = true;
    bool EnableShakeWindow = true;
    TSendMsgKey SendMsgKey = skCtrlEnter;
    bool HideWhenSnapScreen = false;
    bool BusyRelay = false;
    QString BusyText = QStringLiteral("我正在忙，稍后再与您联系。");
    bool LeaveRelay = false;
    QString LeaveText = QStringLiteral("您好，我现在不在，有事请留言。");
    bool QuietRelay = false;
    QString QuietText = QStringLiteral("正在工作中，请勿打扰。");
    QStringList QuickReplyList;
    static constexpr qsizetype MaxQuickReplies = 1000;
    static QString DefaultFontString();
    static const std::vector<TSettingsField<TChatOptions>>& Fields();
};

class TFileTransOptions : public TOptionsBase {
public:
    using TOptionsBase::TOptionsBase;
    QString SavePath() const { return FSavePath; }
    // Trimmed; a folder separator is appended when missing.
    void SetSavePath(const QString& AValue);
    TFileTransSafeLevel SafeLevel = slLow;
    bool RenameExecuteFile = true;
    static const std::vector<TSettingsField<TFileTransOptions>>& Fields();

private:
    QString FSavePath;
};

// What the settings need of the remembered accounts ("LocalUsers.xml"): the
// auto-login flag of one account.
class IRememberedAutoLogin {
public:
    virtual ~IRememberedAutoLogin() = default;
    // Nothing when the user has no remembered account.
    virtual std::optional<bool> FindAutoLogin(uint32_t AUserId) const = 0;
    virtual void SetAutoLoginAndSave(uint32_t AUserId, bool AAutoLogin) = 0;
};

// Every client setting: the per-user "Config.xml" and the machine-wide
// "Network.xml" and "Multimedia.xml". UI thread only.
class TSystemConfig {
public:
    // ASession supplies the signed-in user's folder and id; null means the
    // process-wide session. Loads the network profiles at once.
    explicit TSystemConfig(const ISession* ASession = nullptr);
    ~TSystemConfig();
    TSystemConfig(const TSystemConfig&) = delete;
    TSystemConfig& operator=(const TSystemConfig&) = delete;

    TGeneralOptions& GeneralOptions() { return *FGeneralOptions; }
    THotkeyOptions& HotkeyOptions() { return *FHotkeyOptions; }
    TSoundOptions& SoundOptions() { return *FSoundOptions; }
    TUserRootOptions& UserRootOptions() { return *FUserRootOptions; }
    TNetworkOptions& NetworkOptions() { return *FNetworkOptions; }
    TSoftUpdateOptions& SoftUpdateOptions() { return *FSoftUpdateOptions; }
    TLoginStatusOptions& LoginStatusOptions() { return *FLoginStatusOptions; }
    TChatOptions& ChatOptions() { return *FChatOptions; }
    TMultimediaOptions& MultimediaOptions() { return *FMultimediaOptions; }
    TFileTransOptions& FileTransOptions() { return *FFileTransOptions; }

    // Loads the three files. Missing or malformed files, sections and
    // elements keep the current values; never throws for bad content.
    void LoadData();
    // Saves the three files atomically and mirrors AutoLogin into the
    // remembered account. Throws Exception when a file cannot be written.
    void SaveData();
    // Gives SavePath its default below the user root. ADoc is not read.
    void InitWhenLoginSuccess(const TBitDocument* ADoc = nullptr);

    void SetRememberedAutoLogin(IRememberedAutoLogin* AAccounts) { FRememberedAutoLogin = AAccounts; }
    // The signed-in user's folder ("" when nobody is signed in) and its "Config.xml".
    QString UserRoot() const;
    QString ConfigFileName() const;

    // The per-user file alone (LoadData and SaveData call these).
    void LoadConfigFile();
    void SaveConfigFile();
    // Config.xml as bytes, and read from a parsed document.
    QByteArray ConfigToBytes();
    void ReadConfig(const pugi::xml_document& ADoc);

private:
    void BuildConfig(pugi::xml_document& ADoc) const;
    const ISession* FSession;
    IRememberedAutoLogin* FRememberedAutoLogin = nullptr;
    // Created in this order and freed in the same order (see the destructor).
    std::unique_ptr<TGeneralOptions> FGeneralOptions;
    std::unique_ptr<THotkeyOptions> FHotkeyOptions;
    std::unique_ptr<TSoundOptions> FSoundOptions;
    std::unique_ptr<TUserRootOptions> FUserRootOptions;
    std::unique_ptr<TNetworkOptions> FNetworkOptions;
    std::unique_ptr<TSoftUpdateOptions> FSoftUpdateOptions;
    std::unique_ptr<TLoginStatusOptions> FLoginStatusOptions;
    std::unique_ptr<TChatOptions> FChatOptions;
    std::unique_ptr<TMultimediaOptions> FMultimediaOptions;
    std::unique_ptr<TFileTransOptions> FFileTransOptions;
};

} // namespace pelvox
