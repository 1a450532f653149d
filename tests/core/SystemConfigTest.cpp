#include "SettingsTestSupport.h"
#include "TestSupport.h"
#include "core/Client_SystemConfig.h"
#include "core/FontDescriptor.h"
#include "core/XmlFile.h"
#include "platform/DebugOutput.h"
#include "platform/Exception.h"
#include <gtest/gtest.h>

using namespace pelvox;
using namespace pelvox::test;

namespace {

struct ConfigFixture : ::testing::Test {
    TempAppRoot root;
    QString userRoot = root.File(QStringLiteral("Users/1001/"));
    FakeSettingsSession session{userRoot};
};

// Section and element names of a saved file, in file order.
QStringList Layout(const QString& path)
{
    pugi::xml_document doc;
    EXPECT_EQ(XmlFile::Load(path, doc), XmlFile::TLoadResult::Loaded);
    QStringList out;
    for (const pugi::xml_node section : doc.document_element().children()) {
        QStringList elements;
        for (const pugi::xml_node e : section.children()) elements << XmlName(e);
        out << XmlName(section) + u':' + elements.join(u',');
    }
    return out;
}

} // namespace

TEST_F(ConfigFixture, NewUserGetsDefaultsAndLoginStepWritesTheFile)
{
    TSystemConfig config(&session);
    config.LoadData();
    EXPECT_FALSE(config.GeneralOptions().AutoLogin);
    EXPECT_TRUE(config.GeneralOptions().AutoHideMainWnd);
    EXPECT_EQ(config.GeneralOptions().ZVS_Groups_SortType, gstGroupId);
    EXPECT_EQ(config.SoundOptions().Message, root.File(QStringLiteral("Sound/Message.wav")));
    EXPECT_EQ(config.SoundOptions().ShakeWindow, root.File(QStringLiteral("Sound/ShakeWindow.wav")));
    EXPECT_EQ(config.SoftUpdateOptions().UpdateType, utAutoInstall);
    EXPECT_EQ(config.LoginStatusOptions().NoneMouseTime, 5);
    EXPECT_EQ(config.LoginStatusOptions().NoneMouseLoginStatus, lsLeave);
    EXPECT_EQ(config.ChatOptions().SendMsgKey, skCtrlEnter);
    EXPECT_EQ(config.ChatOptions().BusyText, QStringLiteral("我正在忙，稍后再与您联系。"));
    EXPECT_TRUE(config.ChatOptions().QuickReplyList.isEmpty());
    EXPECT_EQ(config.FileTransOptions().SafeLevel, slLow);
    EXPECT_TRUE(config.FileTransOptions().SavePath().isEmpty());
    EXPECT_EQ(config.MultimediaOptions().VideoQuality, vqMedium);
    EXPECT_EQ(config.MultimediaOptions().MicDeviceName, QStringLiteral("默认设备"));
    ASSERT_EQ(config.NetworkOptions().Items().size(), 1u);

    // The login step.
    config.InitWhenLoginSuccess();
    config.GeneralOptions().AutoLogin = true;
    config.SaveData();

    const QString file = userRoot + QStringLiteral("Config.xml");
    const QByteArray bytes = ReadFileBytes(file);
    ASSERT_TRUE(bytes.startsWith("\xFF\xFE"));
    const QString text = ReadUtf16File(file);
    EXPECT_TRUE(text.startsWith(QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-16\"?>"))) << text.left(60).toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("<SavePath>%AppRoot%Users/1001/Received Files/</SavePath>")));
    EXPECT_TRUE(text.contains(QStringLiteral("<AutoLogin>True</AutoLogin>")));
    EXPECT_TRUE(text.contains(QStringLiteral("<Message>%AppRoot%Sound/Message.wav</Message>")));
    EXPECT_FALSE(text.contains(QStringLiteral("Enable_Message")));
    EXPECT_TRUE(QFile::exists(root.File(QStringLiteral("Config/Network.xml"))));
    EXPECT_TRUE(QFile::exists(root.File(QStringLiteral("Config/Multimedia.xml"))));

    const QStringList expected{
        "GeneralOptions:AutoRun,AutoLogin,ShowLoginInfo,TopMost,AutoHideMainWnd,QueryWhenCloseMainWnd,"
        "ExitAppWhenCloseMainWnd,ZVS_Contacts_LargeShow,ZVS_Contacts_ShowUserId,ZVS_Contacts_SortType,"
        "ZVS_Groups_LargeShow,ZVS_Groups_SortType,ZVS_Rooms_LargeShow,ZVS_Rooms_SortType,ZVS_WebApps_LargeShow,"
        "ZVS_WebApps_ShowAppURL,KeepFileTransHint",
        "HotkeyOptions:ReadMsg,ReadMsg_KeyValue,OpenMsgBox,OpenMsgBox_KeyValue,ScreenCapture,ScreenCapture_KeyValue",
        "SoundOptions:Enable,Message,GroupMessage,RoomMessage,WebVisitorMessage,OtherUserLogin,Multimedia,ShakeWindow",
        "UserRootOptions:UserRootType,CustomUserRoot",
        "SoftUpdateOptions:SoftUpdateOptions",
        "LoginStatusOptions:AutoLoginStatus,NoneMouseTime,NoneMouseLoginStatus,TurnToBusyWhenFullScreen",
        "ChatOptions:FontString,ShowWritingStatus,EnableShakeWindow,SendMsgKey,HideWhenSnapScreen,BusyRelay,"
        "BusyText,LeaveRelay,LeaveText,QuietRelay,QuietText,QuickReplyList",
        "FileTransOptions:SavePath,SafeLevel,RenameExecuteFile",
    };
    EXPECT_EQ(Layout(file), expected);
    EXPECT_EQ(Layout(root.File(QStringLiteral("Config/Multimedia.xml"))).size(), 8); // leaf elements

    // A second login keeps an existing save path.
    config.FileTransOptions().SetSavePath(QStringLiteral("/data/in"));
    config.InitWhenLoginSuccess();
    EXPECT_EQ(config.FileTransOptions().SavePath(), QStringLiteral("/data/in/"));
}

TEST_F(ConfigFixture, SaveThenLoadReproducesEveryField)
{
    auto fill = [&](TSystemConfig& c) {
        auto& g = c.GeneralOptions();
        g.AutoRun = g.AutoLogin = g.ShowLoginInfo = g.TopMost = true;
        g.AutoHideMainWnd = g.QueryWhenCloseMainWnd = false;
        g.ExitAppWhenCloseMainWnd = true;
        g.ZVS_Contacts_LargeShow = false;
        g.ZVS_Contacts_ShowUserId = true;
        g.ZVS_Contacts_SortType = cstShowName;
        g.ZVS_Groups_LargeShow = false;
        g.ZVS_Groups_SortType = gstGroupName;
        g.ZVS_Rooms_LargeShow = false;
        g.ZVS_Rooms_SortType = rstRoomName;
        g.ZVS_WebApps_LargeShow = false;
        g.ZVS_WebApps_ShowAppURL = true;
        g.KeepFileTransHint = false;
        auto& h = c.HotkeyOptions();
        h.ReadMsg = h.OpenMsgBox = h.ScreenCapture = true;
        h.ReadMsg_KeyValue = 0x6041;
        h.OpenMsgBox_KeyValue = 0x4042;
        h.ScreenCapture_KeyValue = 0x2043;
        auto& s = c.SoundOptions();
        s.Enable = false;
        QString TSoundOptions::*paths[] = {&TSoundOptions::Message, &TSoundOptions::GroupMessage,
                                            &TSoundOptions::RoomMessage, &TSoundOptions::WebVisitorMessage,
                                            &TSoundOptions::OtherUserLogin, &TSoundOptions::Multimedia,
                                            &TSoundOptions::ShakeWindow};
        int n = 0;
        for (auto p : paths) s.*p = root.File(QStringLiteral("Sound/s%1.wav").arg(n++));
        s.GroupMessage = QStringLiteral("/elsewhere/声音.wav");
        c.UserRootOptions().UserRootType = ptCustomUserRoot;
        c.UserRootOptions().CustomUserRoot = root.File(QStringLiteral("Mine/"));
        c.SoftUpdateOptions().UpdateType = utQueryUpdate;
        auto& l = c.LoginStatusOptions();
        l.AutoLoginStatus = true;
        l.NoneMouseTime = 30;
        l.NoneMouseLoginStatus = lsBusy;
        l.TurnToBusyWhenFullScreen = false;
        auto& ch = c.ChatOptions();
        ch.FontString = QStringLiteral("\"宋体\", 12, [Bold|Italic], [0000FF]");
        ch.ShowWritingStatus = ch.EnableShakeWindow = false;
        ch.SendMsgKey = skEnter;
        ch.HideWhenSnapScreen = ch.BusyRelay = ch.LeaveRelay = ch.QuietRelay = true;
        ch.BusyText = QStringLiteral("busy <&> \"x\"");
        ch.LeaveText = QStringLiteral("away");
        ch.QuietText = QStringLiteral("quiet");
        ch.QuickReplyList = {QStringLiteral("好的"), QStringLiteral(" spaced "), QStringLiteral("third")};
        c.FileTransOptions().SetSavePath(root.File(QStringLiteral("Inbox")));
        c.FileTransOptions().SafeLevel = slHigh;
        c.FileTransOptions().RenameExecuteFile = false;
        auto& m = c.MultimediaOptions();
        m.MicDeviceID = 3;
        m.MicDeviceName = QStringLiteral("Mic");
        m.SpeakerDeviceID = 4;
        m.SpeakerDeviceName = QStringLiteral("Speaker");
        m.CameraDeviceID = 5;
        m.CameraDeviceName = QStringLiteral("Cam");
        m.VideoQuality = vqHigh;
        m.SetPictureSavePath(root.File(QStringLiteral("Pictures")));
    };

    TSystemConfig saved(&session);
    fill(saved);
    saved.SaveData();
    const QByteArray first = ReadFileBytes(userRoot + QStringLiteral("Config.xml"));

    TSystemConfig loaded(&session);
    loaded.LoadData();
    TSystemConfig expected(&session);
    fill(expected);
    // Every field in the per-user file and the devices file comes back.
    EXPECT_EQ(loaded.ConfigToBytes(), expected.ConfigToBytes());
    EXPECT_EQ(loaded.ConfigToBytes(), first);
    EXPECT_EQ(loaded.ChatOptions().QuickReplyList, expected.ChatOptions().QuickReplyList);
    EXPECT_EQ(loaded.SoundOptions().GroupMessage, QStringLiteral("/elsewhere/声音.wav"));
    EXPECT_EQ(loaded.FileTransOptions().SavePath(), root.File(QStringLiteral("Inbox/")));
    EXPECT_EQ(loaded.LoginStatusOptions().NoneMouseLoginStatus, lsBusy);
    auto& m = loaded.MultimediaOptions();
    EXPECT_EQ(std::tuple(m.MicDeviceID, m.SpeakerDeviceID, m.CameraDeviceID, m.VideoQuality), std::tuple(3, 4, 5, vqHigh));
    EXPECT_EQ(QStringList({m.MicDeviceName, m.SpeakerDeviceName, m.CameraDeviceName, m.PictureSavePath()}),
              QStringList({"Mic", "Speaker", "Cam", root.File(QStringLiteral("Pictures/"))}));
    EXPECT_TRUE(ReadUtf16File(TMultimediaOptions::FileName()).contains(QStringLiteral("%AppRoot%Pictures/")));
}

TEST_F(ConfigFixture, PerSoundSwitchesAreNotStored)
{
    {
        TSystemConfig config(&session);
        config.SoundOptions().Enable_Message = false;
        config.SaveData();
        config.LoadData();
        EXPECT_FALSE(config.SoundOptions().Enable_Message); // for the rest of the run
    }
    TSystemConfig restarted(&session);
    restarted.LoadData();
    EXPECT_TRUE(restarted.SoundOptions().Enable_Message);
}

TEST_F(ConfigFixture, ParseEdgeCases)
{
    struct Case {
        const char* section;
        QString content; // inside the section element
        std::function<QString(TSystemConfig&)> get;
        QString expected;
    };
    auto num = [](auto member) { return [member](TSystemConfig& c) { return QString::number(int(member(c))); }; };
    auto softUpdate = num([](TSystemConfig& c) { return c.SoftUpdateOptions().UpdateType; });
    auto mouseStatus = num([](TSystemConfig& c) { return c.LoginStatusOptions().NoneMouseLoginStatus; });
    auto mouseTime = num([](TSystemConfig& c) { return c.LoginStatusOptions().NoneMouseTime; });
    auto sendKey = num([](TSystemConfig& c) { return c.ChatOptions().SendMsgKey; });
    auto safeLevel = num([](TSystemConfig& c) { return c.FileTransOptions().SafeLevel; });
    auto contactSort = num([](TSystemConfig& c) { return c.GeneralOptions().ZVS_Contacts_SortType; });
    auto groupSort = num([](TSystemConfig& c) { return c.GeneralOptions().ZVS_Groups_SortType; });
    auto hotkey = num([](TSystemConfig& c) { return c.HotkeyOptions().ReadMsg_KeyValue; });
    auto rootType = num([](TSystemConfig& c) { return c.UserRootOptions().UserRootType; });
    auto topMost = [](TSystemConfig& c) { return BoolToText(c.GeneralOptions().TopMost); };
    auto autoHide = [](TSystemConfig& c) { return BoolToText(c.GeneralOptions().AutoHideMainWnd); };
    auto replies = [](TSystemConfig& c) { return c.ChatOptions().QuickReplyList.join(u'|'); };
    const QString appRoot = root.Path();

    const std::vector<Case> cases{
        {"SoftUpdateOptions", "<SoftUpdateOptions>7</SoftUpdateOptions>", softUpdate, "2"},
        {"SoftUpdateOptions", "<SoftUpdateOptions>x</SoftUpdateOptions>", softUpdate, "0"},
        {"SoftUpdateOptions", "<SoftUpdateOptions> 3 </SoftUpdateOptions>", softUpdate, "3"},
        {"SoftUpdateOptions", "", softUpdate, "1"},
        {"LoginStatusOptions", "<NoneMouseLoginStatus>1</NoneMouseLoginStatus>", mouseStatus, "2"},
        {"LoginStatusOptions", "<NoneMouseLoginStatus>3</NoneMouseLoginStatus>", mouseStatus, "3"},
        {"LoginStatusOptions", "<NoneMouseTime> 12 </NoneMouseTime>", mouseTime, "12"},
        {"LoginStatusOptions", "<NoneMouseTime>ten</NoneMouseTime>", mouseTime, "5"},
        {"LoginStatusOptions", "<NoneMouseTime>99999999</NoneMouseTime>", mouseTime, "5"},
        {"LoginStatusOptions", "<NoneMouseTime>-1</NoneMouseTime>", mouseTime, "5"},
        {"ChatOptions", "<SendMsgKey>0</SendMsgKey>", sendKey, "0"},
        {"ChatOptions", "<SendMsgKey>5</SendMsgKey>", sendKey, "1"},
        {"FileTransOptions", "<SafeLevel>9</SafeLevel>", safeLevel, "1"},
        {"FileTransOptions", "<SafeLevel>2</SafeLevel>", safeLevel, "2"},
        {"FileTransOptions", "<SafeLevel>low</SafeLevel>", safeLevel, "1"},
        {"GeneralOptions", "<TopMost>  true\t</TopMost>", topMost, "True"},
        {"GeneralOptions", "<TopMost>TRUE</TopMost>", topMost, "True"},
        {"GeneralOptions", "<TopMost>yes</TopMost>", topMost, "False"},
        {"GeneralOptions", "<TopMost> 2 </TopMost>", topMost, "True"},
        {"GeneralOptions", "<topmost>True</topmost>", topMost, "False"},
        {"GeneralOptions", "<AutoHideMainWnd>fALSE</AutoHideMainWnd>", autoHide, "False"},
        {"GeneralOptions", "<AutoHideMainWnd>0</AutoHideMainWnd>", autoHide, "False"},
        {"GeneralOptions", "<AutoHideMainWnd></AutoHideMainWnd>", autoHide, "True"},
        {"GeneralOptions", "<ZVS_Contacts_SortType>1</ZVS_Contacts_SortType>", contactSort, "1"},
        {"GeneralOptions", "<ZVS_Contacts_SortType> 1</ZVS_Contacts_SortType>", contactSort, "0"},
        {"GeneralOptions", "<ZVS_Contacts_SortType>7</ZVS_Contacts_SortType>", contactSort, "0"},
        {"GeneralOptions", "<ZVS_Groups_SortType>0</ZVS_Groups_SortType>", groupSort, "0"},
        {"GeneralOptions", "<ZVS_Groups_SortType>-4</ZVS_Groups_SortType>", groupSort, "1"},
        {"HotkeyOptions", "<ReadMsg_KeyValue> 24641 </ReadMsg_KeyValue>", hotkey, "24641"},
        {"HotkeyOptions", "<ReadMsg_KeyValue>F5</ReadMsg_KeyValue>", hotkey, "0"},
        {"HotkeyOptions", "<ReadMsg_KeyValue>70000</ReadMsg_KeyValue>", hotkey, "0"},
        {"UserRootOptions", "<UserRootType>2</UserRootType>", rootType, "2"},
        {"UserRootOptions", "<UserRootType>9</UserRootType>", rootType, "0"},
        {"UserRootOptions", "<CustomUserRoot> %AppRoot%Data\\Users\\ </CustomUserRoot>",
         [](TSystemConfig& c) { return c.UserRootOptions().CustomUserRoot; }, appRoot + "Data/Users/"},
        {"SoundOptions", "<Message>%AppRoot%Sound\\Ding.wav</Message>",
         [](TSystemConfig& c) { return c.SoundOptions().Message; }, appRoot + "Sound/Ding.wav"},
        {"FileTransOptions", "<SavePath> %AppRoot%Users\\9 </SavePath>",
         [](TSystemConfig& c) { return c.FileTransOptions().SavePath(); }, appRoot + "Users/9/"},
        {"ChatOptions", "<BusyText>  back soon \r\n</BusyText>", [](TSystemConfig& c) { return c.ChatOptions().BusyText; },
         "back soon"},
        {"ChatOptions", "<QuickReplyList><Text>a</Text><Text> b </Text><Other>c</Other></QuickReplyList>", replies,
         "a| b |c"},
        {"ChatOptions", "<QuickReplyList/>", replies, ""},
        {"ChatOptions", "", replies, "old"},
        {"Unknown", "<TopMost>True</TopMost>", topMost, "False"},
    };
    const QString file = userRoot + QStringLiteral("Config.xml");
    for (const Case& c : cases) {
        WriteUtf16File(file, QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-16\"?>\r\n<Config><%1>%2</%1></Config>")
                                 .arg(QLatin1String(c.section), c.content));
        TSystemConfig config(&session);
        config.ChatOptions().QuickReplyList = {QStringLiteral("old")};
        config.LoadData();
        EXPECT_EQ(c.get(config), c.expected) << c.section << ": " << c.content.toStdString();
    }
}

TEST_F(ConfigFixture, MalformedFilesGiveDefaultsAndAreMovedAside)
{
    const QString configFile = userRoot + QStringLiteral("Config.xml");
    const QString networkFile = root.File(QStringLiteral("Config/Network.xml"));
    WriteUtf16File(configFile, QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-16\"?><Config><GeneralOptions><TopMost>True</TopMost><AutoRu"));
    WriteUtf16File(networkFile, QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-16\"?><Network><Item><NetworkName>x</Netw"));
    WriteUtf16File(root.File(QStringLiteral("Config/Multimedia.xml")), QStringLiteral("<Multimedia><MicDeviceID>3</MicDeviceID>"));

    DebugOutputCapture capture;
    std::unique_ptr<TSystemConfig> config;
    ASSERT_NO_THROW(config = std::make_unique<TSystemConfig>(&session)); // start-up survives
    ASSERT_EQ(config->NetworkOptions().Items().size(), 1u);
    EXPECT_EQ(config->NetworkOptions().Items()[0]->NetworkName, QStringLiteral("默认"));
    EXPECT_TRUE(QFile::exists(networkFile + ".bad"));
    EXPECT_FALSE(QFile::exists(networkFile));

    ASSERT_NO_THROW(config->LoadData()); // login survives
    EXPECT_FALSE(config->GeneralOptions().TopMost);
    EXPECT_EQ(config->MultimediaOptions().MicDeviceID, 0);
    EXPECT_TRUE(QFile::exists(configFile + ".bad"));
    EXPECT_TRUE(capture.Contains(QStringLiteral("not well-formed")));

    // The next save writes fresh files.
    config->SaveData();
    TSystemConfig again(&session);
    again.LoadData();
    EXPECT_FALSE(QFile::exists(configFile + ".bad.bad"));
    EXPECT_TRUE(QFile::exists(configFile));
    EXPECT_EQ(again.NetworkOptions().Items().size(), 1u);
}

namespace {
struct FakeAccounts : IRememberedAutoLogin {
    std::optional<bool> flag;
    int saves = 0;
    std::optional<bool> FindAutoLogin(uint32_t id) const override { return id == 1001 ? flag : std::nullopt; }
    void SetAutoLoginAndSave(uint32_t, bool v) override
    {
        flag = v;
        ++saves;
    }
};
} // namespace

TEST_F(ConfigFixture, SaveMirrorsAutoLoginIntoTheRememberedAccount)
{
    FakeAccounts accounts;
    TSystemConfig config(&session);
    config.SetRememberedAutoLogin(&accounts);
    config.GeneralOptions().AutoLogin = true;
    config.SaveData(); // no remembered account: nothing to do
    EXPECT_EQ(accounts.saves, 0);
    accounts.flag = false;
    config.SaveData();
    config.SaveData(); // already equal: not saved again
    EXPECT_EQ(accounts.flag, true);
    EXPECT_EQ(accounts.saves, 1);
}

TEST(SoundQueue, PlaysEachQueuedSoundOncePerTickAndOnlyWhenEnabled)
{
    TempAppRoot root;
    TSystemConfig config;
    TSoundOptions& sound = config.SoundOptions();
    QStringList played;
    sound.SetWavePlayer([&](const QString& f) { played << f; });

    for (int i = 0; i < 10; ++i) sound.PlaySound_Message();
    sound.PlaySound_ShakeWindow();
    EXPECT_EQ(sound.PlayList(), QStringList({"PlaySound_Message", "PlaySound_ShakeWindow"}));
    // The 500 ms timer plays them, front first.
    ASSERT_TRUE(RunLoopUntil([&] { return played.size() == 2; }));
    EXPECT_EQ(played, QStringList({sound.Message, sound.ShakeWindow}));
    EXPECT_TRUE(sound.PlayList().isEmpty());

    played.clear();
    sound.Enable_GroupMessage = false;
    sound.PlaySound_GroupMessage();
    sound.Enable = false;
    sound.PlaySound_Message();
    EXPECT_TRUE(sound.PlayList().isEmpty());

    // A player that fails does not stop the queue.
    sound.Enable = true;
    sound.SetWavePlayer([&](const QString& f) {
        played << f;
        throw Exception(QStringLiteral("no sound device"));
    });
    sound.PlaySound_RoomMessage();
    sound.PlaySound_OtherUserLogin();
    sound.PlayQueued();
    EXPECT_EQ(played, QStringList({sound.RoomMessage, sound.OtherUserLogin}));
}

TEST(FontText, DescriptorTexts)
{
    struct Case {
        TFontDescriptor font;
        bool withColor;
        const char* expected;
    };
    const Case cases[] = {
        {{"微软雅黑", 9, false, false, false, false, 0}, true, "\"微软雅黑\", 9, [], [000000]"},
        {{"Tahoma", 12, true, false, true, false, 0xFF}, true, "\"Tahoma\", 12, [Bold|Underline], [0000FF]"},
        {{"Arial", 10, true, true, true, true, 0xABCDEF}, false, "\"Arial\", 10, [Bold|Italic|Underline|Strikeout]"},
        {{"X", 8, false, false, false, true, 0x1000000}, true, "\"X\", 8, [Strikeout], [1000000]"},
    };
    for (const Case& c : cases) EXPECT_EQ(FontToString(c.font, c.withColor), QString::fromUtf8(c.expected));

    EXPECT_EQ(InterfaceFontName(), QStringLiteral("Tahoma"));
    SetInterfaceFontName(QStringLiteral("微软雅黑"));
    EXPECT_EQ(TChatOptions::DefaultFontString(), QStringLiteral("\"微软雅黑\", 9, [], [000000]"));
    SetInterfaceFontName(QStringLiteral("Tahoma"));
}
