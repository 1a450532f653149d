#include "TestSupport.h"
#include "core/BitDocument.h"
#include "core/Client_BindingEvents.h"
#include "core/Client_CurrentUser.h"
#include "core/Client_LocalUsers.h"
#include "core/Client_Login.h"
#include "core/Client_NotifyFromServer.h"
#include "core/Client_ServerInfo.h"
#include "platform/DebugOutput.h"
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>

namespace pelvox::test {
namespace {

constexpr double Ms = 1.0 / 86400000.0;

TEST(ServerInfo, ClockAnchorsAtTheMidpointAcrossTheTickWrap)
{
    uint32_t tick = 0;
    TServerInfo info([&] { return tick; });
    // Sent 400 ms before the wrap, answered 600 ms after it: anchored 100 ms after the wrap.
    tick = 0xFFFFFFFFu - 399;
    info.SetBeginTickCount();
    TBitDocument answer(QStringLiteral("Users.Login[ACK]"));
    TBitNode* si = answer.Root()->AddDirectoryNode(QStringLiteral("ServerInfo"));
    const TDateTime serverUTC = NowUTC() + 2.0 / 24; // two hours ahead
    si->AddFloat64Node(QStringLiteral("ServerTime"), serverUTC);
    si->AddInt32Node(QStringLiteral("SubCmd"), 6802);
    si->AddStringNode(QStringLiteral("P2PService"), QStringLiteral("not a number"));
    tick = 600;
    info.InitWhenLoginSuccess(answer);
    const TDateTime anchored = UTCToLocalTime(serverUTC);
    EXPECT_NEAR(info.ServerTime(), anchored + 500 * Ms, 0.5 * Ms);
    tick += 1000;
    EXPECT_NEAR(info.ServerTime(), anchored + 1500 * Ms, 0.5 * Ms);
    tick += 60000;
    EXPECT_NEAR(info.ServerTime(), anchored + 61500 * Ms, 0.5 * Ms);
    EXPECT_EQ(info.Port_SubCmd(), 6802);
    EXPECT_EQ(info.Port_P2PService(), 5803); // unreadable: the default stays
    EXPECT_EQ(info.Port_Httpd(), 5880);
}

TEST(ServerInfo, OffsetTexts)
{
    const struct {
        int64_t Seconds;
        const char16_t* Text;
    } cases[] = {{0, u"刚刚"},         {59, u"刚刚"},         {61, u"1分钟前"},  {3599, u"59分钟前"},
                 {3600, u"1小时前"},   {3 * 3600 + 59 * 60, u"3小时前"}, {25 * 3600, u"1天前"}, {-61, u"1分钟前"}};
    for (const auto& c : cases) EXPECT_EQ(TServerInfo::OffsetText(c.Seconds), QString::fromUtf16(c.Text)) << c.Seconds;

    uint32_t tick = 1000;
    TServerInfo info([&] { return tick; });
    info.SetServerTime(1000, 1000, EncodeDateTime(2025, 1, 1, 12));
    EXPECT_EQ(info.GetOffsetTimeStr(EncodeDateTime(2025, 1, 1, 11, 59, 1)), QStringLiteral("刚刚"));
    EXPECT_EQ(info.GetOffsetTimeStr(EncodeDateTime(2025, 1, 1, 11, 58, 59)), QStringLiteral("1分钟前"));
}

class LocalUsersTest : public ::testing::Test {
protected:
    TempAppRoot Root;

    static std::unique_ptr<TLocalUser> Account(int32_t id, bool remember)
    {
        auto u = std::make_unique<TLocalUser>();
        u->LoginName = QString::number(id);
        u->Password = QStringLiteral("5EBE2294ECD0E0F08EAB7690D2A6EE69");
        u->LoginStatus = lsBusy;
        u->RememberPWD = remember;
        u->UserId = id;
        u->UserName = QStringLiteral("u%1").arg(id);
        u->NickName = QStringLiteral("用户");
        u->FaceFile = QStringLiteral("f.png");
        u->UserRoot = TCurrentUser::DefaultUserRoot(id);
        return u;
    }
    static QByteArray Utf8(const QString& file)
    {
        QFile f(file);
        f.open(QIODevice::ReadOnly);
        const QByteArray raw = f.readAll();
        return QString::fromUtf16(reinterpret_cast<const char16_t*>(raw.constData() + 2), (raw.size() - 2) / 2).toUtf8();
    }
};

TEST_F(LocalUsersTest, SaveAndLoadKeepTheAccountsAndTheirRoots)
{
    TLocalUserManager m;
    m.LocalUsers().push_back(Account(7, true));
    m.LocalUsers().push_back(Account(8, false));
    m.SaveLocalUsers();
    const QString file = TLocalUserManager::FileName();
    EXPECT_EQ(QFileInfo(file).permissions() & (QFile::ReadOther | QFile::ReadGroup), QFile::Permissions());
    const QByteArray text = Utf8(file);
    EXPECT_TRUE(text.contains("<UserRoot>%AppRoot%Users/7/</UserRoot>")) << text.constData();
    EXPECT_TRUE(text.contains("<Password></Password>") || text.contains("<Password />")) << text.constData();
    EXPECT_FALSE(text.contains("5EBE2294")); // never in clear

    TLocalUserManager loaded;
    loaded.LoadLocalUsers();
    ASSERT_EQ(loaded.LocalUsers().size(), 2u);
    const TLocalUser& a = *loaded.LocalUsers()[0];
    EXPECT_EQ(a.Password, QStringLiteral("5EBE2294ECD0E0F08EAB7690D2A6EE69"));
    EXPECT_EQ(a.LoginStatus, lsBusy);
    EXPECT_TRUE(a.RememberPWD);
    EXPECT_EQ(a.UserRoot, Root.Path() + QStringLiteral("Users/7/"));
    EXPECT_EQ(a.GetShowName(), QStringLiteral("用户(u7)"));
    EXPECT_TRUE(loaded.LocalUsers()[1]->Password.isEmpty());
}

TEST_F(LocalUsersTest, BadItemsRootsAndFilesNeverStopLoading)
{
    auto item = [](const QString& extra, const QString& root, bool withFace = true) {
        return QStringLiteral("<Item><LoginName>x</LoginName><Password></Password><LoginStatus>online</LoginStatus>"
                              "<RememberPWD>TRUE</RememberPWD><AutoLogin>false</AutoLogin><UserId>%1</UserId><UserName>n</UserName>"
                              "<NickName>k</NickName><ActualName>a</ActualName>%2<UserRoot>%3</UserRoot></Item>")
            .arg(extra, withFace ? QStringLiteral("<FaceFile>f</FaceFile>") : QString(), root);
    };
    const QString xml = QStringLiteral("<?xml version=\"1.0\"?><LocalUsers>") + item(QStringLiteral("1"), QStringLiteral("%AppRoot%Users\\one\\")) +
                        item(QStringLiteral("2"), QStringLiteral("x"), false) +          // no FaceFile: dropped
                        item(QStringLiteral("3"), QStringLiteral("/etc/")) +             // outside: default root
                        item(QStringLiteral("abc"), QStringLiteral("")) +                // no id, no root: dropped
                        QStringLiteral("</LocalUsers>");
    QDir().mkpath(Root.File(QStringLiteral("Config")));
    QFile f(TLocalUserManager::FileName());
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(xml.toUtf8());
    f.close();
    TLocalUserManager m;
    m.LoadLocalUsers();
    ASSERT_EQ(m.LocalUsers().size(), 2u);
    EXPECT_EQ(m.LocalUsers()[0]->UserRoot, Root.Path() + QStringLiteral("Users/one/"));
    EXPECT_EQ(m.LocalUsers()[0]->LoginStatus, lsOnline);
    EXPECT_TRUE(m.LocalUsers()[0]->RememberPWD);
    EXPECT_EQ(m.LocalUsers()[1]->UserRoot, Root.Path() + QStringLiteral("Users/3/"));

    // A corrupt file is set aside and gives an empty list.
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write("<LocalUsers><Item>");
    f.close();
    DebugOutputCapture capture;
    m.LoadLocalUsers();
    EXPECT_TRUE(m.LocalUsers().empty());
    EXPECT_TRUE(QFileInfo::exists(TLocalUserManager::FileName() + QStringLiteral(".bad")));
}

TEST_F(LocalUsersTest, ALoginMovesTheAccountToTheFrontAndKeepsItsRoot)
{
    TLocalUserManager m;
    m.LocalUsers().push_back(Account(7, false));
    m.LocalUsers().push_back(Account(8, false));
    m.LocalUsers()[1]->UserRoot = Root.Path() + QStringLiteral("Elsewhere/8/");
    TBitDocument answer(QStringLiteral("Users.Login[ACK]"));
    answer.Root()->AddInt32Node(QStringLiteral("userdata_userid"), 8);
    answer.Root()->AddStringNode(QStringLiteral("userdata_nickname"), QStringLiteral("新名字"));
    TLoginParams params;
    params.SetLoginName(QStringLiteral("u8"));
    params.SetPassword(QStringLiteral("ABC"));
    params.SetRememberPWD(true);
    TCurrentUser user(nullptr);
    user.InitWhenLoginSuccess(answer);
    m.InitWhenLoginSuccess(answer, params, user);
    ASSERT_EQ(m.LocalUsers().size(), 2u);
    EXPECT_EQ(m.LocalUsers()[0]->UserId, 8);
    EXPECT_EQ(m.LocalUsers()[0]->NickName, QStringLiteral("新名字"));
    EXPECT_EQ(m.LocalUsers()[0]->Password, QStringLiteral("ABC"));
    EXPECT_EQ(user.GetUserRoot(), Root.Path() + QStringLiteral("Elsewhere/8/"));
    EXPECT_TRUE(QFileInfo::exists(TLocalUserManager::FileName()));
}

TEST(CurrentUser, ReadsTheAnswerUntilTheFirstMissingNode)
{
    TempAppRoot root;
    TBitDocument answer(QStringLiteral("Users.Login[ACK]"));
    TBitNode* r = answer.Root();
    r->AddInt32Node(QStringLiteral("userdata_userid"), 10001);
    r->AddStringNode(QStringLiteral("userdata_username"), QStringLiteral("demo"));
    r->AddInt32Node(QStringLiteral("userdata_usertype"), 0x1FFFF); // read at 16 bits: -1
    r->AddInt16Node(QStringLiteral("userdata_canfound"), 1);
    r->AddStringNode(QStringLiteral("userdata_nickname"), QStringLiteral("演示"));
    // "userdata_signature" is missing: reading stops here.
    r->AddStringNode(QStringLiteral("userdata_actualname"), QStringLiteral("never read"));
    TCurrentUser user(nullptr);
    DebugOutputCapture capture;
    user.InitWhenLoginSuccess(answer);
    EXPECT_EQ(user.UserId(), 10001);
    EXPECT_EQ(user.UserType(), -1);
    EXPECT_TRUE(user.CanFound());
    EXPECT_EQ(user.GetShowName(true), QStringLiteral("演示(demo)"));
    EXPECT_TRUE(user.ActualName().isEmpty());
    EXPECT_EQ(user.GetUserRoot(), root.Path() + QStringLiteral("Users/10001/"));
    EXPECT_EQ(capture.Lines().size(), 1);
    EXPECT_TRUE(capture.Lines().value(0).contains(QStringLiteral("TCurrentUser.InitWhenLoginSuccess")));
    user.CreateUserFolders();
    for (const char* f : {"Received Files", "ChatFiles", "ShareFiles"})
        EXPECT_TRUE(QFileInfo(user.GetUserRoot() + f).isDir()) << f;
    user.SetFaceFile(QStringLiteral("../../evil"));
    EXPECT_TRUE(user.GetLocalFaceFile().isEmpty());
}

TEST(NotifyFromServer, HandlersRunForTheirNameWithoutRegardToCase)
{
    TNotifyFromServer n;
    QStringList seen;
    n.RegisterHandler(QStringLiteral("Users.Login[ACK]"), [&](const TBitDocument& d, uint32_t sid) {
        seen << d.Name() + QLatin1Char('#') + QString::number(sid);
    });
    EXPECT_TRUE(n.IsRegistered(QStringLiteral("users.login[ack]")));
    TBitDocument doc(QStringLiteral("users.login[ack]"));
    TBindingEventManager::Instance().ExecuteEvent(0, doc.Name(), reinterpret_cast<uintptr_t>(&doc), 42);
    TBindingEventManager::Instance().ExecuteEvent(0, QStringLiteral("Users.Logout[ACK]"), reinterpret_cast<uintptr_t>(&doc), 1);
    EXPECT_EQ(seen, QStringList({"users.login[ack]#42"}));
}

} // namespace
} // namespace pelvox::test
