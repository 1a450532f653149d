#include "core/Client_SystemConfig.h"
#include "core/Client_Base.h"
#include "core/Client_Session.h"
#include "core/FontDescriptor.h"
#include "platform/HiddenWindow.h"
#include <QDir>

namespace pelvox {

namespace {

// Stored sort orders: not a number keeps the value; only 0 and 1 are orders.
const TIntRule SortRule = KeepOrDefault(0, 1);

} // namespace

// ---- TGeneralOptions -------------------------------------------------------------

const std::vector<TSettingsField<TGeneralOptions>>& TGeneralOptions::Fields()
{
    using G = TGeneralOptions;
    static const std::vector<TSettingsField<G>> fields{
        BoolField("AutoRun", &G::AutoRun),
        BoolField("AutoLogin", &G::AutoLogin),
        BoolField("ShowLoginInfo", &G::ShowLoginInfo),
        BoolField("TopMost", &G::TopMost),
        BoolField("AutoHideMainWnd", &G::AutoHideMainWnd),
        BoolField("QueryWhenCloseMainWnd", &G::QueryWhenCloseMainWnd),
        BoolField("ExitAppWhenCloseMainWnd", &G::ExitAppWhenCloseMainWnd),
        BoolField("ZVS_Contacts_LargeShow", &G::ZVS_Contacts_LargeShow),
        BoolField("ZVS_Contacts_ShowUserId", &G::ZVS_Contacts_ShowUserId),
        IntField("ZVS_Contacts_SortType", &G::ZVS_Contacts_SortType, cstUserId, false, SortRule),
        BoolField("ZVS_Groups_LargeShow", &G::ZVS_Groups_LargeShow),
        IntField("ZVS_Groups_SortType", &G::ZVS_Groups_SortType, gstGroupId, false, SortRule),
        BoolField("ZVS_Rooms_LargeShow", &G::ZVS_Rooms_LargeShow),
        IntField("ZVS_Rooms_SortType", &G::ZVS_Rooms_SortType, rstRoomId, false, SortRule),
        BoolField("ZVS_WebApps_LargeShow", &G::ZVS_WebApps_LargeShow),
        BoolField("ZVS_WebApps_ShowAppURL", &G::ZVS_WebApps_ShowAppURL),
        BoolField("KeepFileTransHint", &G::KeepFileTransHint),
    };
    return fields;
}

// ---- THotkeyOptions --------------------------------------------------------------

const std::vector<TSettingsField<THotkeyOptions>>& THotkeyOptions::Fields()
{
    using H = THotkeyOptions;
    // Not a number, or not a 16-bit shortcut, reads as 0 (no key).
    const TIntRule key = MapNumber(0, [](int32_t n) { return n >= 0 && n <= 0xFFFF ? n : 0; });
    static const std::vector<TSettingsField<H>> fields{
        BoolField("ReadMsg", &H::ReadMsg),
        IntField("ReadMsg_KeyValue", &H::ReadMsg_KeyValue, 0, true, key),
        BoolField("OpenMsgBox", &H::OpenMsgBox),
        IntField("OpenMsgBox_KeyValue", &H::OpenMsgBox_KeyValue, 0, true, key),
        BoolField("ScreenCapture", &H::ScreenCapture),
        IntField("ScreenCapture_KeyValue", &H::ScreenCapture_KeyValue, 0, true, key),
    };
    return fields;
}

// ---- TSoundOptions ---------------------------------------------------------------

struct TSoundOptions::TSound {
    const char* Name; // the queued text
    const char* Element;
    bool TSoundOptions::*Switch;
    QString TSoundOptions::*Path;
    const char* DefaultFile;
};

const std::vector<TSoundOptions::TSound>& TSoundOptions::Sounds()
{
    using S = TSoundOptions;
    static const std::vector<TSound> sounds{
        {"PlaySound_Message", "Message", &S::Enable_Message, &S::Message, "Message.wav"},
        {"PlaySound_GroupMessage", "GroupMessage", &S::Enable_GroupMessage, &S::GroupMessage, "Message.wav"},
        {"PlaySound_RoomMessage", "RoomMessage", &S::Enable_RoomMessage, &S::RoomMessage, "Message.wav"},
        {"PlaySound_WebVisitorMessage", "WebVisitorMessage", &S::Enable_WebVisitorMessage, &S::WebVisitorMessage,
         "Message.wav"},
        {"PlaySound_OtherUserLogin", "OtherUserLogin", &S::Enable_OtherUserLogin, &S::OtherUserLogin,
         "OtherUserLogin.wav"},
        {"PlaySound_Multimedia", "Multimedia", &S::Enable_Multimedia, &S::Multimedia, "Multimedia.wav"},
        {"PlaySound_ShakeWindow", "ShakeWindow", &S::Enable_ShakeWindow, &S::ShakeWindow, "ShakeWindow.wav"},
    };
    return sounds;
}

TSoundOptions::TSoundOptions(TSystemConfig* AOwner) : TOptionsBase(AOwner), FPlayer(PlayWaveFile)
{
    const QString folder = GetAppRoot() + QStringLiteral("Sound/");
    for (const TSound& s : Sounds()) this->*s.Path = folder + QString::fromLatin1(s.DefaultFile);
    FWindow = std::make_unique<THiddenWindow>([this](uint32_t msg, uintptr_t wParam, intptr_t) -> intptr_t {
        if (msg == WM_TIMER && wParam == TimerId) PlayQueued();
        return 0;
    });
    FWindow->SetTimer(TimerId, TimerInterval);
}

TSoundOptions::~TSoundOptions()
{
    FWindow->KillTimer(TimerId);
}

const std::vector<TSettingsField<TSoundOptions>>& TSoundOptions::Fields()
{
    static const std::vector<TSettingsField<TSoundOptions>> fields = [] {
        std::vector<TSettingsField<TSoundOptions>> f{BoolField("Enable", &TSoundOptions::Enable)};
        for (const TSound& s : Sounds()) f.push_back(PathField(s.Element, s.Path));
        return f;
    }();
    return fields;
}

void TSoundOptions::Queue(size_t AIndex)
{
    const TSound& s = Sounds()[AIndex];
    if (!Enable || !(this->*s.Switch)) return;
    const QString name = QString::fromLatin1(s.Name);
    if (!FPlayList.contains(name)) FPlayList.append(name);
}

void TSoundOptions::PlaySound_Message() { Queue(0); }
void TSoundOptions::PlaySound_GroupMessage() { Queue(1); }
void TSoundOptions::PlaySound_RoomMessage() { Queue(2); }
void TSoundOptions::PlaySound_WebVisitorMessage() { Queue(3); }
void TSoundOptions::PlaySound_OtherUserLogin() { Queue(4); }
void TSoundOptions::PlaySound_Multimedia() { Queue(5); }
void TSoundOptions::PlaySound_ShakeWindow() { Queue(6); }

void TSoundOptions::SetWavePlayer(TWavePlayer APlayer) { FPlayer = APlayer ? std::move(APlayer) : PlayWaveFile; }

void TSoundOptions::PlayQueued()
{
    while (!FPlayList.isEmpty()) {
        const QString name = FPlayList.takeFirst();
        for (const TSound& s : Sounds()) {
            if (!SameText(name, QString::fromLatin1(s.Name))) continue;
            // A sound that cannot be played is not worth a report.
            try {
                FPlayer(this->*s.Path);
            } catch (...) {
            }
            break;
        }
    }
}

// ---- TUserRootOptions, TSoftUpdateOptions, TLoginStatusOptions -----------------------

const std::vector<TSettingsField<TUserRootOptions>>& TUserRootOptions::Fields()
{
    using U = TUserRootOptions;
    static const std::vector<TSettingsField<U>> fields{
        IntField("UserRootType", &U::UserRootType, ptInstallPath, true, KeepOrDefault(ptInstallPath, ptCustomUserRoot)),
        PathField("CustomUserRoot", &U::CustomUserRoot),
    };
    return fields;
}

const std::vector<TSettingsField<TSoftUpdateOptions>>& TSoftUpdateOptions::Fields()
{
    static const std::vector<TSettingsField<TSoftUpdateOptions>> fields{
        IntField("SoftUpdateOptions", &TSoftUpdateOptions::UpdateType, utAutoInstall, true,
                 MapNumber(0, [](int32_t n) { return n >= utNone && n <= utQueryUpdate ? n : utAutoDownload; })),
    };
    return fields;
}

const std::vector<TSettingsField<TLoginStatusOptions>>& TLoginStatusOptions::Fields()
{
    using L = TLoginStatusOptions;
    static const std::vector<TSettingsField<L>> fields{
        BoolField("AutoLoginStatus", &L::AutoLoginStatus),
        IntField("NoneMouseTime", &L::NoneMouseTime, 5, true, KeepOrDefault(1, MaxNoneMouseTime)),
        IntField("NoneMouseLoginStatus", &L::NoneMouseLoginStatus, lsLeave, true,
                 MapNumber(lsLeave, [](int32_t n) { return n == lsBusy ? lsBusy : lsLeave; })),
        BoolField("TurnToBusyWhenFullScreen", &L::TurnToBusyWhenFullScreen),
    };
    return fields;
}

// ---- TChatOptions ----------------------------------------------------------------

TChatOptions::TChatOptions(TSystemConfig* AOwner) : TOptionsBase(AOwner), FontString(DefaultFontString()) {}

QString TChatOptions::DefaultFontString()
{
    TFontDescriptor font;
    font.Name = InterfaceFontName();
    font.Size = 9;
    font.Color = InterfaceFontColor();
    return FontToString(font, true);
}

const std::vector<TSettingsField<TChatOptions>>& TChatOptions::Fields()
{
    using C = TChatOptions;
    TSettingsField<C> quickReplies{
        "QuickReplyList",
        [](const C& c, pugi::xml_node p) {
            pugi::xml_node list = p.append_child("QuickReplyList");
            for (const QString& t : c.QuickReplyList) AppendTextElement(list, "Text", t);
        },
        [](C& c, const pugi::xml_node& e) {
            // Every child element counts, whatever its name; texts stay untrimmed.
            c.QuickReplyList.clear();
            for (const pugi::xml_node child : e.children())
                if (child.type() == pugi::node_element && c.QuickReplyList.size() < MaxQuickReplies)
                    c.QuickReplyList.append(XmlText(child));
        }};
    static const std::vector<TSettingsField<C>> fields{
        TextField("FontString", &C::FontString),
        BoolField("ShowWritingStatus", &C::ShowWritingStatus),
        BoolField("EnableShakeWindow", &C::EnableShakeWindow),
        IntField("SendMsgKey", &C::SendMsgKey, skCtrlEnter, true,
                 MapNumber(skCtrlEnter, [](int32_t n) { return n == skEnter ? skEnter : skCtrlEnter; })),
        BoolField("HideWhenSnapScreen", &C::HideWhenSnapScreen),
        BoolField("BusyRelay", &C::BusyRelay),
        TextField("BusyText", &C::BusyText),
        BoolField("LeaveRelay", &C::LeaveRelay),
        TextField("LeaveText", &C::LeaveText),
        BoolField("QuietRelay", &C::QuietRelay),
        TextField("QuietText", &C::QuietText),
        quickReplies,
    };
    return fields;
}

// ---- TFileTransOptions -----------------------------------------------------------

void TFileTransOptions::SetSavePath(const QString& AValue) { FSavePath = NormaliseFolderPath(AValue); }

const std::vector<TSettingsField<TFileTransOptions>>& TFileTransOptions::Fields()
{
    using F = TFileTransOptions;
    static const std::vector<TSettingsField<F>> fields{
        AccessorField<F>("SavePath", [](const F& f) { return WritePathText(f.FSavePath); },
                         [](F& f, const QString& t) { f.SetSavePath(ReadPathText(t)); }),
        IntField("SafeLevel", &F::SafeLevel, slLow, true,
                 MapNumber(slMedium, [](int32_t n) { return n == slLow ? slLow : n == slHigh ? slHigh : slMedium; })),
        BoolField("RenameExecuteFile", &F::RenameExecuteFile),
    };
    return fields;
}

// ---- TSystemConfig ---------------------------------------------------------------

TSystemConfig::TSystemConfig(const ISession* ASession)
    : FSession(ASession),
      FGeneralOptions(std::make_unique<TGeneralOptions>(this)),
      FHotkeyOptions(std::make_unique<THotkeyOptions>(this)),
      FSoundOptions(std::make_unique<TSoundOptions>(this)),
      FUserRootOptions(std::make_unique<TUserRootOptions>(this)),
      FNetworkOptions(std::make_unique<TNetworkOptions>(this)),
      FSoftUpdateOptions(std::make_unique<TSoftUpdateOptions>(this)),
      FLoginStatusOptions(std::make_unique<TLoginStatusOptions>(this)),
      FChatOptions(std::make_unique<TChatOptions>(this)),
      FMultimediaOptions(std::make_unique<TMultimediaOptions>(this)),
      FFileTransOptions(std::make_unique<TFileTransOptions>(this))
{
}

TSystemConfig::~TSystemConfig()
{
    FGeneralOptions.reset();
    FHotkeyOptions.reset();
    FSoundOptions.reset();
    FUserRootOptions.reset();
    FNetworkOptions.reset();
    FSoftUpdateOptions.reset();
    FLoginStatusOptions.reset();
    FChatOptions.reset();
    FMultimediaOptions.reset();
    FFileTransOptions.reset();
}

QString TSystemConfig::UserRoot() const
{
    const ISession* s = FSession ? FSession : Session();
    return s ? s->UserRoot() : QString();
}

QString TSystemConfig::ConfigFileName() const
{
    const QString root = UserRoot();
    return root.isEmpty() ? QString() : root + QStringLiteral("Config.xml");
}

namespace {

// Calls AVisit(sectionName, options) for every section of "Config.xml", in file order.
template <class Config, class Visit>
void ForEachSection(Config& c, Visit&& AVisit)
{
    AVisit("GeneralOptions", c.GeneralOptions());
    AVisit("HotkeyOptions", c.HotkeyOptions());
    AVisit("SoundOptions", c.SoundOptions());
    AVisit("UserRootOptions", c.UserRootOptions());
    AVisit("SoftUpdateOptions", c.SoftUpdateOptions());
    AVisit("LoginStatusOptions", c.LoginStatusOptions());
    AVisit("ChatOptions", c.ChatOptions());
    AVisit("FileTransOptions", c.FileTransOptions());
}

} // namespace

void TSystemConfig::BuildConfig(pugi::xml_document& ADoc) const
{
    pugi::xml_node root = ResetDocument(ADoc, "Config");
    ForEachSection(const_cast<TSystemConfig&>(*this), [&](const char* name, const auto& options) {
        WriteFields(std::decay_t<decltype(options)>::Fields(), options, root.append_child(name));
    });
}

void TSystemConfig::ReadConfig(const pugi::xml_document& ADoc)
{
    const pugi::xml_node root = ADoc.document_element();
    ForEachSection(*this, [&](const char* name, auto& options) {
        if (const pugi::xml_node section = root.child(name))
            ReadFields(std::decay_t<decltype(options)>::Fields(), options, section);
    });
}

QByteArray TSystemConfig::ConfigToBytes()
{
    pugi::xml_document doc;
    BuildConfig(doc);
    return XmlFile::ToBytes(doc);
}

void TSystemConfig::LoadData()
{
    FNetworkOptions->LoadData();
    FMultimediaOptions->LoadData();
    LoadConfigFile();
}

void TSystemConfig::LoadConfigFile()
{
    const QString file = ConfigFileName();
    if (file.isEmpty()) return;
    pugi::xml_document doc;
    if (XmlFile::Load(file, doc) == XmlFile::TLoadResult::Loaded) ReadConfig(doc);
}

void TSystemConfig::SaveConfigFile()
{
    const QString root = UserRoot();
    // Nobody signed in: there is no per-user file to write.
    if (root.isEmpty()) return;
    QDir().mkpath(root);
    pugi::xml_document doc;
    BuildConfig(doc);
    XmlFile::Save(ConfigFileName(), doc);
}

void TSystemConfig::SaveData()
{
    FNetworkOptions->SaveData();
    FMultimediaOptions->SaveData();
    SaveConfigFile();
    if (UserRoot().isEmpty()) return;

    const ISession* s = FSession ? FSession : Session();
    if (FRememberedAutoLogin && s) {
        const uint32_t id = s->CurrentUserId();
        const std::optional<bool> remembered = FRememberedAutoLogin->FindAutoLogin(id);
        if (remembered && *remembered != FGeneralOptions->AutoLogin)
            FRememberedAutoLogin->SetAutoLoginAndSave(id, FGeneralOptions->AutoLogin);
    }
}

void TSystemConfig::InitWhenLoginSuccess(const TBitDocument*)
{
    if (Trim(FFileTransOptions->SavePath()).isEmpty() && !UserRoot().isEmpty())
        FFileTransOptions->SetSavePath(UserRoot() + QStringLiteral("Received Files/"));
}

} // namespace pelvox
