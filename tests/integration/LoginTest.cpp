#include "SessionFixture.h"
#include "core/Client_LocalUsers.h"
#include "core/ECC.h"
#include "platform/Exception.h"
#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace pelvox::test {
namespace {

using namespace std::chrono_literals;

// The names and types of a document's root children, in order.
QStringList Shape(const TLoggedPacket& p)
{
    TBitDocument doc;
    doc.LoadFromBytes(p.Payload);
    QStringList out;
    for (TBitNode* n : doc.Root()->ChildNodes()) out << n->NodeName() + QLatin1Char('/') + QString::number(n->NodeType());
    return out;
}

QString StringNode(const TLoggedPacket& p, const char16_t* name)
{
    TBitDocument doc;
    doc.LoadFromBytes(p.Payload);
    return doc.ReadString(name);
}

TEST_F(SessionTest, LoginByNameAndByIdSendsTheDocumentsAndSignsIn)
{
    for (const QString& loginName : {QStringLiteral("anna"), QStringLiteral("20001")}) {
        SCOPED_TRACE(loginName.toStdString());
        Server.ClearLog();
        Events.Clear();
        const int active = Service->ActiveLoginedCount();
        ASSERT_TRUE(SignIn(loginName)) << Events.Log().join(u' ').toStdString();
        EXPECT_EQ(Events.Log(), QStringList({"OnLoging:0", "OnLoging:1", "OnLoging:2", "OnLoging:3", "OnLoginSuccess:0"}));
        EXPECT_TRUE(Client->Logined());
        EXPECT_FALSE(Client->IsLoging());
        EXPECT_EQ(Client->CurrentUser().UserId(), 20001);
        EXPECT_EQ(Client->CurrentUser().NickName(), QStringLiteral("安娜"));
        EXPECT_EQ(Client->ServerInfo().Port_SubCmd(), Server.SubCmdPort());
        EXPECT_EQ(Client->ServerInfo().Port_Httpd(), Server.WebPort());

        const auto safe = Sent(QStringLiteral("Users.CreateSafeSession"));
        ASSERT_EQ(safe.size(), 1u);
        EXPECT_EQ(Shape(safe[0]), QStringList({"clientpublickey/14"}));
        EXPECT_EQ(StringNode(safe[0], u"clientpublickey"), Client->ClientECC().PublicKey());
        const auto login = Sent(QStringLiteral("Users.Login"));
        ASSERT_EQ(login.size(), 1u);
        EXPECT_EQ(Shape(login[0]),
                  QStringList({"SuportsServerVersion/14", "LoginName/14", "Password/14", "LoginStatus/3"}));
        EXPECT_EQ(StringNode(login[0], u"SuportsServerVersion"), QStringLiteral("Pelvox Server 2.0.2.2"));
        EXPECT_EQ(StringNode(login[0], u"LoginName"), loginName);
        const QString digest = StringNode(login[0], u"Password");
        EXPECT_EQ(digest, QStringLiteral("5EBE2294ECD0E0F08EAB7690D2A6EE69")); // MD5("secret"), upper case

        // After the login: "Users.ActiveLogined" follows the login, nothing before the answer.
        ASSERT_TRUE(RunLoopUntil([&] { return Service->ActiveLoginedCount() > active; }));
        QStringList order;
        for (const auto& p : Server.Log()) if (!p.DocName.isEmpty()) order << p.DocName;
        EXPECT_EQ(order, QStringList({"Users.CreateSafeSession", "Users.Login", "Users.ActiveLogined"}));

        // The remembered account and the user's folders.
        const QString root = Root.Path() + QStringLiteral("Users/20001/");
        EXPECT_EQ(Client->CurrentUser().GetUserRoot(), root);
        for (const char* f : {"Received Files", "ChatFiles", "ShareFiles"}) EXPECT_TRUE(QFileInfo(root + f).isDir()) << f;
        EXPECT_TRUE(QFileInfo::exists(root + QStringLiteral("UserTheme.xml")));
        TLocalUserManager saved;
        saved.LoadLocalUsers();
        ASSERT_EQ(saved.LocalUsers().size(), 1u);
        EXPECT_EQ(saved.LocalUsers()[0]->UserId, 20001);
        EXPECT_EQ(saved.LocalUsers()[0]->LoginName, loginName);
        EXPECT_TRUE(Client->HasTimer(TIMER_DELAYDOWN));

        // Logout: "Users.Logout" answered, connection closed, both events, no timer left.
        Events.Clear();
        Client->Logout();
        EXPECT_EQ(Sent(QStringLiteral("Users.Logout")).size(), 1u);
        EXPECT_EQ(Events.Log(), QStringList({"OnBeforeLogout:0", "OnAfterLogout:0"}));
        EXPECT_FALSE(Client->Logined());
        EXPECT_FALSE(Client->MainCmdSocket().Connected());
        EXPECT_FALSE(Client->HasTimer(TIMER_DELAYDOWN));
        EXPECT_FALSE(Client->HasTimer(TIMER_LOGINSTATUS_AUTOCHANGE));
        EXPECT_EQ(Client->CurrentUser().LoginStatus(), lsOffline);
    }
}

struct TRefusal {
    const char* Name;
    const char* Password;
    const char* Version; // the version the server accepts
    int Code;
};

TEST_F(SessionTest, RefusedLoginsReportTheServersCodeAndCloseTheConnection)
{
    const TRefusal cases[] = {
        {"anna", "wrong", nullptr, 10},
        {"nobody", "secret", nullptr, 9},
        {"bo", "secret", nullptr, 11},
        {"anna", "secret", "Pelvox Server 9.9", 2},
    };
    for (const TRefusal& c : cases) {
        SCOPED_TRACE(c.Name);
        QJsonObject dir = SmallDirectory();
        if (c.Version) dir.insert(QStringLiteral("server"), QJsonObject{{QStringLiteral("version"), QString::fromLatin1(c.Version)}});
        Service = std::make_unique<testserver::TLoginService>(Server, testserver::TDirectoryFixture::FromJson(dir));
        Service->Install();
        Events.Clear();
        StartLogin(QLatin1String(c.Name), QLatin1String(c.Password));
        const QString expected = QStringLiteral("OnLoginError:%1").arg(c.Code);
        ASSERT_TRUE(RunLoopUntil([&] { return Events.Has(expected) && !Client->HasLoginThreadRunning(); }))
            << Events.Log().join(u' ').toStdString();
        EXPECT_FALSE(Client->Logined());
        EXPECT_FALSE(Client->IsLoging());
        EXPECT_EQ(Client->LoginErrCode(), c.Code);
        EXPECT_FALSE(Client->MainCmdSocket().Connected());
        EXPECT_FALSE(QFileInfo::exists(TLocalUserManager::FileName()));
    }
    // Still ready for a good login.
    Service = std::make_unique<testserver::TLoginService>(Server, testserver::TDirectoryFixture::FromJson(SmallDirectory()));
    Service->Install();
    Events.Clear();
    EXPECT_TRUE(SignIn());
}

TEST_F(SessionTest, UnreachableAndSilentServers)
{
    // Nobody listens: a connect error once the connect time is used up.
    TestServer closed;
    ASSERT_TRUE(closed.Start());
    const int deadPort = closed.CmdPort();
    closed.Stop();
    MakeClient(FastOptions(), deadPort);
    StartLogin(QStringLiteral("anna"), QStringLiteral("secret"));
    ASSERT_TRUE(RunLoopUntil([&] { return Events.Has(QStringLiteral("OnConnectError:0")) && !Client->HasLoginThreadRunning(); }));
    EXPECT_FALSE(Client->IsLoging());

    // The server never answers the key exchange, then never the login.
    for (const char* silent : {"Users.CreateSafeSession", "Users.Login"}) {
        SCOPED_TRACE(silent);
        Client.reset();
        Events.Clear();
        Server.ClearAnswerRules();
        Server.SetAnswerRule(QLatin1String(silent), {0ms, true});
        StartLogin(QStringLiteral("anna"), QStringLiteral("secret"));
        ASSERT_TRUE(RunLoopUntil([&] { return Events.Has(QStringLiteral("OnLoginTimeOut:0")) && !Client->HasLoginThreadRunning(); }));
        EXPECT_FALSE(Client->IsLoging());
        EXPECT_FALSE(Client->Logined());
        EXPECT_FALSE(Client->MainCmdSocket().Connected());
    }
}

TEST_F(SessionTest, AMalformedKeyExchangeAnswerEndsTheLoginAtOnce)
{
    struct TCase {
        const char* Key;
        const char* SessionKey;
    };
    for (const TCase& c : {TCase{"", "x"}, TCase{"AAAA", "####"}, TCase{nullptr, "@@@@@@@@@@@@@@@@"}}) {
        Server.RegisterHandler(TPortKind::Cmd, QStringLiteral("Users.CreateSafeSession"), [&](const testserver::TRequest& r) {
            TBitDocument doc(QStringLiteral("Users.CreateSafeSession[ACK]"));
            doc.Root()->AddInt32Node(QStringLiteral("errorcode"), 0);
            doc.Root()->AddStringNode(QStringLiteral("serverpublickey"),
                                      c.Key ? QLatin1String(c.Key) : Service->ServerPublicKey());
            doc.Root()->AddStringNode(QStringLiteral("sessionkey"), QLatin1String(c.SessionKey));
            r.Answer(doc);
        });
        Client.reset();
        Events.Clear();
        // A long wait that the test would notice: the error must come from the answer.
        auto o = FastOptions();
        o.LoginTimings.KeyExchangeAnswer = 60000;
        MakeClient(o);
        StartLogin(QStringLiteral("anna"), QStringLiteral("secret"));
        ASSERT_TRUE(RunLoopUntil([&] { return Events.Has(QStringLiteral("OnLoginError:1")) && !Client->HasLoginThreadRunning(); }, 20s));
        EXPECT_FALSE(Client->MainCmdSocket().Connected());
        EXPECT_TRUE(Sent(QStringLiteral("Users.Login")).empty());
    }
}

// A manager that cannot take the answer, and a store that records when it opens.
struct TProbe {
    QStringList Calls;
};
class TThrowingManager : public IDataManager {
public:
    explicit TThrowingManager(TProbe& p) : FProbe(p) {}
    void InitWhenLoginSuccess(const TBitDocument&) override
    {
        FProbe.Calls << QStringLiteral("init");
        throw Exception(QStringLiteral("missing section"));
    }
    void UpdateDataWhenLogout() override { FProbe.Calls << QStringLiteral("drop"); }
    TProbe& FProbe;
};
class TStoreProbe : public IDataManager, public IMessageStore {
public:
    explicit TStoreProbe(TProbe& p) : FProbe(p) {}
    bool OpenUserDatabase(const QString& root) override
    {
        FProbe.Calls << QStringLiteral("open:") + root.section(u'/', -2, -2);
        return true;
    }
    void CloseUserDatabase() override { FProbe.Calls << QStringLiteral("close"); }
    void InitWhenLoginSuccess(const TBitDocument&) override { FProbe.Calls << QStringLiteral("store-init"); }
    TProbe& FProbe;
};

TEST_F(SessionTest, TheStoreOpensBeforeTheManagersAndAnUnappliableAnswerLeavesNothingSignedIn)
{
    TProbe probe;
    RegisterManagerFactory(TManagerKind::USERDB, [&] { return std::make_unique<TStoreProbe>(probe); });
    RegisterManagerFactory(TManagerKind::Department, [&] {
        struct TFirst : IDataManager {
            TProbe& P;
            explicit TFirst(TProbe& p) : P(p) {}
            void InitWhenLoginSuccess(const TBitDocument& d) override
            {
                P.Calls << QStringLiteral("departments:") + QString::number(d.FindNode(u"departmentusers")->ChildNodes().Count());
            }
        };
        return std::make_unique<TFirst>(probe);
    });
    ASSERT_TRUE(SignIn());
    EXPECT_EQ(probe.Calls, QStringList({"open:20001", "departments:2", "store-init"}));
    probe.Calls.clear();
    Client->Logout();
    EXPECT_EQ(probe.Calls, QStringList({"close"}));
    Client.reset();

    probe.Calls.clear();
    Events.Clear();
    RegisterManagerFactory(TManagerKind::Group, [&] { return std::make_unique<TThrowingManager>(probe); });
    StartLogin(QStringLiteral("anna"), QStringLiteral("secret"));
    ASSERT_TRUE(RunLoopUntil([&] { return Events.Has(QStringLiteral("OnLoginError:1")) && !Client->HasLoginThreadRunning(); }));
    EXPECT_FALSE(Client->Logined());
    EXPECT_FALSE(Client->MainCmdSocket().Connected());
    EXPECT_TRUE(probe.Calls.contains(QStringLiteral("drop")));
    EXPECT_EQ(probe.Calls.last(), QStringLiteral("close"));
    ClearManagerFactories();
}

TEST_F(SessionTest, LostConnectionsAndForcedLogout)
{
    ASSERT_TRUE(SignIn());
    // Dropped: the connection resumes its session and stays signed in.
    const int first = Server.LastConnection(TPortKind::Cmd);
    Server.CloseConnection(first);
    ASSERT_TRUE(RunLoopUntil([&] {
        const int now = Server.LastConnection(TPortKind::Cmd);
        return now != 0 && now != first && Client->MainCmdSocket().Connected();
    }));
    EXPECT_TRUE(Client->Logined());
    EXPECT_EQ(Server.SessionCount(), 1u);

    // Forced offline: logout, then the event with the server's text.
    Events.Clear();
    ASSERT_TRUE(Service->ForceOffline(Server.LastConnection(TPortKind::Cmd), QStringLiteral("您的账号在别处登录")));
    ASSERT_TRUE(RunLoopUntil([&] { return Events.Has(QStringLiteral("OnForceOffline:0")); }));
    EXPECT_EQ(Events.Log(), QStringList({"OnBeforeLogout:0", "OnAfterLogout:0", "OnForceOffline:0"}));
    EXPECT_EQ(Client->GetForceOfflineDescription(), QStringLiteral("您的账号在别处登录"));
    EXPECT_FALSE(Client->Logined());

    // Refused resumption: logout and the disconnect event.
    Events.Clear();
    ASSERT_TRUE(SignIn());
    Events.Clear();
    Server.SetHandshakeMode(testserver::THandshakeMode::Refuse);
    Server.CloseAll(TPortKind::Cmd);
    ASSERT_TRUE(RunLoopUntil([&] { return Events.Has(QStringLiteral("OnMainCmdDisconnect:0")); }, 20s));
    EXPECT_EQ(Events.Log(), QStringList({"OnBeforeLogout:0", "OnAfterLogout:0", "OnMainCmdDisconnect:0"}));
    EXPECT_FALSE(Client->Logined());
    Server.SetHandshakeMode(testserver::THandshakeMode::Accept);

    // A connection lost after the logout is not news.
    Events.Clear();
    Client->WndProc(WM_MAINCMDDISCONNECT, 0, 0);
    EXPECT_TRUE(Events.Log().isEmpty());
}

TEST_F(SessionTest, LogoutDuringEachStageEndsTheLoginQuietly)
{
    struct TStage {
        int Stage;
        std::function<void(TestServer&)> Stall;
    };
    const TStage stages[] = {
        {1, [](TestServer& s) { s.SetHandshakeMode(testserver::THandshakeMode::Silent); }},
        {2, [](TestServer& s) { s.SetAnswerRule(QStringLiteral("Users.CreateSafeSession"), {0ms, true}); }},
        {3, [](TestServer& s) { s.SetAnswerRule(QStringLiteral("Users.Login"), {0ms, true}); }},
    };
    for (const TStage& s : stages) {
        SCOPED_TRACE(s.Stage);
        Server.ClearAnswerRules();
        Server.SetHandshakeMode(testserver::THandshakeMode::Accept);
        s.Stall(Server);
        Client.reset();
        Events.Clear();
        auto o = FastOptions();
        o.LoginTimings.ConnectAttempt = o.LoginTimings.ConnectTotal = 60000;
        o.LoginTimings.KeyExchangeAnswer = o.LoginTimings.LoginAnswer = 60000;
        MakeClient(o);
        StartLogin(QStringLiteral("anna"), QStringLiteral("secret"));
        ASSERT_TRUE(RunLoopUntil([&] { return Events.Has(QStringLiteral("OnLoging:%1").arg(s.Stage)); }));
        RunLoopFor(30ms);
        Client->Logout();
        EXPECT_FALSE(Client->HasLoginThread());
        EXPECT_FALSE(Client->IsLoging());
        EXPECT_FALSE(Client->MainCmdSocket().Connected());
        EXPECT_EQ(Client->MainCmdSocket().SocketHandle(), -1);
        RunLoopFor(50ms);
        EXPECT_EQ(Events.Log().filter(QStringLiteral("OnLoging")).size(), s.Stage + 1);
        EXPECT_EQ(Events.Log().size(), s.Stage + 1) << Events.Log().join(u' ').toStdString();
        // And a login works again afterwards.
        Server.ClearAnswerRules();
        Server.SetHandshakeMode(testserver::THandshakeMode::Accept);
        Events.Clear();
        EXPECT_TRUE(SignIn());
        Client->Logout();
    }
}

TEST_F(SessionTest, CompressedDocumentsAreRaisedUnderTheirInnerNameAndLoginTwiceStartsOneThread)
{
    StartLogin(QStringLiteral("anna"), QStringLiteral("secret"));
    Client->Login(); // refused while the first runs
    ASSERT_TRUE(RunLoopUntil([&] { return Events.Has(QStringLiteral("OnLoginSuccess:0")) && !Client->HasLoginThreadRunning(); }));
    EXPECT_EQ(Sent(QStringLiteral("Users.Login")).size(), 1u);

    int seen = 0;
    QString text;
    TBindingEvent probe(QStringLiteral("Server:Probe"), [&](TBindingEvent& e) {
        ++seen;
        text = e.Param1As<TBitDocument>()->ReadString(u"text");
    });
    TBindingEvent wrapper(QStringLiteral("Server:Wrapper"), [&](TBindingEvent&) { seen += 100; });
    TBitDocument doc(QStringLiteral("server:probe"));
    doc.Root()->AddStringNode(QStringLiteral("text"), QStringLiteral("压缩"));
    ASSERT_TRUE(Server.SendDocument(Server.LastConnection(TPortKind::Cmd), doc, /*compressed=*/true));
    ASSERT_TRUE(Server.SendDocument(Server.LastConnection(TPortKind::Cmd), doc, false));
    ASSERT_TRUE(RunLoopUntil([&] { return seen >= 2; }));
    EXPECT_EQ(seen, 2);
    EXPECT_EQ(text, QStringLiteral("压缩"));
}

TEST_F(SessionTest, TheDemoFixtureAcceptsDemo)
{
    const QString file = QFileInfo(QStringLiteral(__FILE__)).dir().filePath(QStringLiteral("../../testserver/fixtures/demo.json"));
    QString error;
    auto dir = testserver::TDirectoryFixture::Load(file, &error);
    ASSERT_TRUE(dir) << error.toStdString();
    Service = std::make_unique<testserver::TLoginService>(Server, dir);
    Service->Install();
    ASSERT_TRUE(SignIn(QStringLiteral("demo"), QStringLiteral("pelvox")));
    EXPECT_EQ(Client->CurrentUser().UserId(), 10001);
    EXPECT_EQ(Client->CurrentUser().NickName(), QStringLiteral("演示用户"));
    EXPECT_EQ(Client->CurrentUser().DepartName(), QStringLiteral("研发部"));
}

} // namespace
} // namespace pelvox::test
