#include "TestLogin.h"
#include "TestServer.h"
#include "core/BitDocument.h"
#include "core/ECC.h"
#include "platform/DateTime.h"
#include <QRandomGenerator>

namespace pelvox::testserver {

namespace {
// The server's own key texts (12 hexadecimal characters each).
const QString ServerPrivateKey = QStringLiteral("3E9B07C41AD5");
const QString ServerRandomParamter = QStringLiteral("91C6F2A08B3D");

// Requests a client sends after a login whose answers carry nothing yet.
const char* const AfterLoginRequests[] = {"Chat.GetOfflineMessages", "Chat.GetGroupOfflineMessages",
                                          "Chat.GetRoomOfflineMessages", "FileTrans.GetOfflineFiles",
                                          "SysMsg.GetUserSysMsgs"};

QByteArray NewSessionKey()
{
    QByteArray key(16, '\0');
    auto* gen = QRandomGenerator::system();
    static const char hex[] = "0123456789ABCDEF";
    for (char& c : key) c = hex[gen->bounded(16)];
    return key;
}

std::unique_ptr<TBitDocument> Answer(const QString& AName, int32_t AErrorCode)
{
    auto doc = std::make_unique<TBitDocument>(AName);
    doc->Root()->AddInt32Node(QStringLiteral("errorcode"), AErrorCode);
    return doc;
}
} // namespace

TLoginService::TLoginService(TestServer& AServer, std::shared_ptr<const TDirectoryFixture> ADirectory)
    : FServer(AServer), FDirectory(std::move(ADirectory))
{
    if (!FDirectory) FDirectory = TDirectoryFixture::FromJson({});
    FServerECC = std::make_unique<TECC>();
    FServerECC->Init(QLatin1String(ServerCurvePrime));
    FServerECC->SetRandomParamter(ServerRandomParamter);
    FServerECC->SetPrivateKey(ServerPrivateKey);
    FClientCurve = std::make_unique<TPublicECC>();
    FClientCurve->Init(QLatin1String(ClientCurvePrime));
    FClientCurve->SetRandomParamter(ServerRandomParamter);
}

TLoginService::~TLoginService() = default;

QString TLoginService::ServerPublicKey() const { return FServerECC->PublicKey(); }

void TLoginService::Install()
{
    FServer.RegisterHandler(TPortKind::Cmd, QStringLiteral("Users.CreateSafeSession"),
                            [this](const TRequest& r) { OnCreateSafeSession(r); });
    FServer.RegisterHandler(TPortKind::Cmd, QStringLiteral("Users.Login"), [this](const TRequest& r) { OnLogin(r); });
    FServer.RegisterHandler(TPortKind::Cmd, QStringLiteral("Users.Logout"), [this](const TRequest& r) { OnLogout(r); });
    FServer.RegisterHandler(TPortKind::Cmd, QStringLiteral("Users.ActiveLogined"), [this](const TRequest&) {
        std::lock_guard l(FLock);
        ++FActiveLogined;
    });
    for (const char* name : AfterLoginRequests)
        FServer.RegisterHandler(TPortKind::Cmd, QLatin1String(name), [](const TRequest&) {});
    // System messages reach the client only as pushes.
    FServer.RegisterHandler(TPortKind::Cmd, QStringLiteral("SysMsg.GetUserSysMsgs"), [this](const TRequest& r) {
        const int32_t id = UserOf(r.ConnId);
        const auto user = id ? FDirectory->FindUser(QString::number(id)) : std::nullopt;
        if (!user) return;
        for (const auto& push : SysMsgPushes(*user)) FServer.SendDocument(r.ConnId, *push);
    });
}

void TLoginService::OnCreateSafeSession(const TRequest& AReq)
{
    const QString clientKey = AReq.Doc()->ReadString(u"clientpublickey");
    QString cipher;
    {
        std::lock_guard l(FLock);
        try {
            FClientCurve->SetPublicKey(clientKey);
            cipher = FClientCurve->Encrypt(NewSessionKey());
        } catch (const std::exception&) {
            cipher.clear();
        }
    }
    if (clientKey.isEmpty() || cipher.isEmpty()) return AReq.Answer(*Answer(QStringLiteral("Users.CreateSafeSession[ACK]"), 1));
    auto doc = Answer(QStringLiteral("Users.CreateSafeSession[ACK]"), 0);
    doc->Root()->AddStringNode(QStringLiteral("serverpublickey"), FServerECC->PublicKey());
    doc->Root()->AddStringNode(QStringLiteral("sessionkey"), cipher);
    AReq.Answer(*doc);
}

int TLoginService::StatusOf(int32_t AUserId) const
{
    // Called with FLock held.
    for (const auto& [conn, user] : FOnline)
        if (user == AUserId) return 1;
    return 0;
}

void TLoginService::OnLogin(const TRequest& AReq)
{
    static const QString ack = QStringLiteral("Users.Login[ACK]");
    const TBitDocument& req = *AReq.Doc();
    if (req.ReadString(u"SuportsServerVersion") != FDirectory->ServerVersion()) return AReq.Answer(*Answer(ack, 2));
    const std::optional<QJsonObject> user = FDirectory->FindUser(req.ReadString(u"LoginName"));
    if (!user) return AReq.Answer(*Answer(ack, 9));
    if (req.ReadString(u"Password") != TDirectoryFixture::PasswordDigest(*user)) return AReq.Answer(*Answer(ack, 10));
    if (user->value(QStringLiteral("frozen")).toBool()) return AReq.Answer(*Answer(ack, 11));

    const int32_t id = user->value(QStringLiteral("id")).toInt();
    QJsonObject me = *user;
    me.insert(QStringLiteral("loginstatus"), req.ReadInt32(u"LoginStatus", 1));
    if (!me.contains(QStringLiteral("departname")))
        me.insert(QStringLiteral("departname"), FDirectory->DepartmentName(me.value(QStringLiteral("departid")).toInteger()));
    auto doc = Answer(ack, 0);
    TBitNode& root = *doc->Root();
    {
        std::lock_guard l(FLock);
        FOnline[AReq.ConnId] = id;
        AddUserDataNodes(root, me, NowUTC() - 1.0);
        TBitNode* info = root.AddDirectoryNode(QStringLiteral("ServerInfo"));
        info->AddFloat64Node(QStringLiteral("ServerTime"), NowUTC());
        info->AddInt32Node(QStringLiteral("SubCmd"), FServer.SubCmdPort());
        info->AddInt32Node(QStringLiteral("P2PService"), FServer.P2PPort());
        info->AddInt32Node(QStringLiteral("Http_Port"), FServer.WebPort());
        const auto status = [this](int32_t u) {
            const int scripted = FStatusSource ? FStatusSource(u) : -1;
            return scripted >= 0 ? scripted : StatusOf(u);
        };
        if (!FDirectory->Departments().isEmpty()) AddDepartmentNodes(root, *FDirectory, status);
        AddContactNodes(root, *FDirectory, *user, status);
        AddJoinListNodes(root, *user);
    }
    AReq.Answer(*doc);
    if (FPresenceObserver) FPresenceObserver(id, req.ReadInt32(u"LoginStatus", 1));
}

void TLoginService::OnLogout(const TRequest& AReq)
{
    const int32_t user = UserOf(AReq.ConnId);
    {
        std::lock_guard l(FLock);
        FOnline.erase(AReq.ConnId);
    }
    AReq.Answer(*Answer(QStringLiteral("Users.Logout[ACK]"), 0));
    if (user != 0 && FPresenceObserver) FPresenceObserver(user, 0);
}

bool TLoginService::ForceOffline(int AConnId, const QString& ADescription)
{
    TBitDocument doc(QStringLiteral("Server:ForceOffline"));
    doc.Root()->AddStringNode(QStringLiteral("description"), ADescription);
    {
        std::lock_guard l(FLock);
        FOnline.erase(AConnId);
    }
    return FServer.SendDocument(AConnId, doc);
}

int32_t TLoginService::UserOf(int AConnId) const
{
    std::lock_guard l(FLock);
    auto it = FOnline.find(AConnId);
    return it == FOnline.end() ? 0 : it->second;
}

int TLoginService::ConnectionOf(int32_t AUserId) const
{
    std::lock_guard l(FLock);
    for (const auto& [conn, user] : FOnline)
        if (user == AUserId) return conn;
    return 0;
}

int TLoginService::ActiveLoginedCount() const
{
    std::lock_guard l(FLock);
    return FActiveLogined;
}

std::unique_ptr<TLoginService> InstallStandardServices(TestServer& AServer, const QString& AFixtureFile,
                                                       QString* AError)
{
    std::shared_ptr<const TDirectoryFixture> dir;
    if (!AFixtureFile.isEmpty()) {
        dir = TDirectoryFixture::Load(AFixtureFile, AError);
        if (!dir) return nullptr;
    }
    auto login = std::make_unique<TLoginService>(AServer, dir);
    login->Install();
    return login;
}

} // namespace pelvox::testserver
