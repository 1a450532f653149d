#include "TestPeople.h"
#include "TestLogin.h"
#include "TestServer.h"
#include "core/BitDocument.h"
#include "core/MD5.h"
#include "platform/DateTime.h"
#include <QFile>
#include <QFileInfo>

namespace pelvox::testserver {

namespace {

enum class TKind { Str, I16, I32 };
struct TProfileNode {
    const char* Name;
    TKind Kind;
    bool InChangeUserInfo; // one of the 32 nodes a client may change
};

// The profile nodes of "Server:OtherUserInfoChanged", in push order.
const TProfileNode ProfileNodes[] = {
    {"nickname", TKind::Str, true},        {"signature", TKind::Str, true},       {"actualname", TKind::Str, true},
    {"sex", TKind::I16, true},             {"age", TKind::I16, true},             {"birth_year", TKind::I16, true},
    {"birth_month", TKind::I16, true},     {"birth_day", TKind::I16, true},       {"country", TKind::I16, true},
    {"province", TKind::I16, true},        {"city", TKind::I16, true},            {"area", TKind::I16, true},
    {"address", TKind::Str, true},         {"telephone", TKind::Str, true},       {"telephone_short", TKind::Str, true},
    {"telephone2", TKind::Str, true},      {"telephone2_short", TKind::Str, true}, {"mobile", TKind::Str, true},
    {"mobile_short", TKind::Str, true},    {"mobile2", TKind::Str, true},         {"mobile2_short", TKind::Str, true},
    {"fax", TKind::Str, true},             {"qq", TKind::Str, true},              {"weixin", TKind::Str, true},
    {"weibo", TKind::Str, true},           {"email", TKind::Str, true},           {"roomname", TKind::Str, true},
    {"roomnumber", TKind::Str, true},      {"idnumber", TKind::Str, true},        {"carnumber", TKind::Str, true},
    {"homepage", TKind::Str, true},        {"departid", TKind::I32, false},       {"departname", TKind::Str, false},
    {"jobtitle", TKind::Str, false},       {"jobnumber", TKind::Str, false},      {"introduction", TKind::Str, true},
};

void AddNode(TBitNode& ARoot, const TProfileNode& n, const QJsonObject& AUser)
{
    const QString name = QLatin1String(n.Name);
    const QJsonValue v = AUser.value(name);
    switch (n.Kind) {
    case TKind::Str: ARoot.AddStringNode(name, v.toString()); break;
    case TKind::I16: ARoot.AddInt16Node(name, int16_t(name == QLatin1String("age") && v.isUndefined() ? -1 : v.toInt())); break;
    case TKind::I32: ARoot.AddInt32Node(name, int32_t(v.toInteger())); break;
    }
}

void ReadNode(const TBitDocument& ADoc, const TProfileNode& n, QJsonObject& AUser)
{
    const QString name = QLatin1String(n.Name);
    if (n.Kind == TKind::Str)
        AUser.insert(name, ADoc.ReadString(name));
    else
        AUser.insert(name, n.Kind == TKind::I16 ? int(ADoc.ReadInt16(name)) : int(ADoc.ReadInt32(name)));
}

std::unique_ptr<TBitDocument> Ack(const QString& ARequest, int32_t AErrorCode)
{
    auto doc = std::make_unique<TBitDocument>(ARequest + QStringLiteral("[ACK]"));
    doc->Root()->AddInt32Node(QStringLiteral("errorcode"), AErrorCode);
    return doc;
}

bool PlainName(const QString& AName)
{
    return !AName.isEmpty() && !AName.contains(QLatin1Char('/')) && !AName.contains(QLatin1Char('\\')) &&
           AName != QLatin1String(".") && AName != QLatin1String("..");
}

} // namespace

TPeopleService::TPeopleService(TestServer& AServer, TLoginService& ALogin, QString AFacesFolder)
    : FServer(AServer), FLogin(ALogin), FFacesFolder(std::move(AFacesFolder))
{
    for (const QJsonObject& u : FLogin.Directory().Users()) {
        QJsonObject user = u;
        if (!user.contains(QStringLiteral("departname")))
            user.insert(QStringLiteral("departname"),
                        FLogin.Directory().DepartmentName(user.value(QStringLiteral("departid")).toInteger()));
        FUsers[user.value(QStringLiteral("id")).toInt()] = user;
    }
}

TPeopleService::~TPeopleService()
{
    FLogin.SetStatusSource({});
    FLogin.SetPresenceObserver({});
}

void TPeopleService::Install()
{
    FLogin.SetStatusSource([this](int32_t AUserId) {
        std::lock_guard l(FLock);
        auto it = FStatus.find(AUserId);
        return it == FStatus.end() ? -1 : int(it->second);
    });
    // Real clients signing in and out are news for the others.
    FLogin.SetPresenceObserver([this](int32_t AUserId, int AStatus) {
        if (AStatus == 0)
            SignOut(AUserId);
        else
            SignIn(AUserId, int16_t(AStatus));
    });
    using M = void (TPeopleService::*)(const TRequest&);
    const std::pair<const char*, M> cmd[] = {
        {"Users.ChangeLoginStatus", &TPeopleService::OnChangeLoginStatus},
        {"Users.ChangeSignature", &TPeopleService::OnChangeSignature},
        {"Users.ChangeUserInfo", &TPeopleService::OnChangeUserInfo},
        {"Users.ChangePassword", &TPeopleService::OnChangePassword},
        {"Users.ChangeLinkDepart", &TPeopleService::OnChangeLinkDepart},
        {"Users.UpdateUserJoinSetting", &TPeopleService::OnUpdateJoinSetting},
        {"Users.GetPwdProtection", &TPeopleService::OnGetPwdProtection},
        {"Users.SetPwdProtection", &TPeopleService::OnSetPwdProtection},
        {"Users.ValidatePwdProtection", &TPeopleService::OnValidatePwdProtection},
        {"Users.GetUserInfo", &TPeopleService::OnGetUserInfo},
    };
    for (const auto& entry : cmd) {
        const auto fn = entry.second;
        FServer.RegisterHandler(TPortKind::Cmd, QLatin1String(entry.first), [this, fn](const TRequest& r) { (this->*fn)(r); });
    }
    for (bool face : {true, false}) {
        FServer.RegisterHandler(TPortKind::SubCmd, face ? QStringLiteral("Users.ChangeFaceFile") : QStringLiteral("Users.ChangePhotoFile"),
                                [this, face](const TRequest& r) { OnUpload(r, face); });
        FServer.RegisterHandler(TPortKind::SubCmd,
                                face ? QStringLiteral("Users.DownloadFaceFile") : QStringLiteral("Users.DownloadPhotoFile"),
                                [this, face](const TRequest& r) { OnDownload(r, face); });
    }
}

// ---- state ---------------------------------------------------------------------------------

QJsonObject TPeopleService::User(int32_t AUserId) const
{
    std::lock_guard l(FLock);
    auto it = FUsers.find(AUserId);
    return it == FUsers.end() ? QJsonObject() : it->second;
}

int16_t TPeopleService::Status(int32_t AUserId) const
{
    {
        std::lock_guard l(FLock);
        auto it = FStatus.find(AUserId);
        if (it != FStatus.end()) return it->second;
    }
    return FLogin.IsOnline(AUserId) ? 1 : 0;
}

QByteArray TPeopleService::StoredFile(bool AFace, const QString& AName) const
{
    {
        std::lock_guard l(FLock);
        auto it = FFiles[AFace ? 0 : 1].find(AName);
        if (it != FFiles[AFace ? 0 : 1].end()) return it->second;
    }
    // The fixture's own pictures, by plain name only.
    if (FFacesFolder.isEmpty() || !PlainName(AName)) return {};
    QFile f(FFacesFolder + QLatin1Char('/') + AName);
    if (!f.open(QIODevice::ReadOnly) || f.size() > MaxPhotoSize) return {};
    return f.readAll();
}

int TPeopleService::DownloadCount(bool AFace, const QString& AName) const
{
    std::lock_guard l(FLock);
    auto it = FDownloads[AFace ? 0 : 1].find(AName);
    return it == FDownloads[AFace ? 0 : 1].end() ? 0 : it->second;
}

int32_t TPeopleService::Caller(const TRequest& AReq) const { return FLogin.UserOf(AReq.ConnId); }

void TPeopleService::Push(int32_t AAboutUser, const TBitDocument& ADoc)
{
    for (int conn : FServer.Connections(TPortKind::Cmd)) {
        const int32_t user = FLogin.UserOf(conn);
        if (user != 0 && user != AAboutUser) FServer.SendDocument(conn, ADoc);
    }
}

QString TPeopleService::StoreFile(bool AFace, int32_t AUserId, const QString& ASuffix, const QByteArray& AData)
{
    std::lock_guard l(FLock);
    const QString name = QStringLiteral("%1_%2.%3").arg(AUserId).arg(FNextFile++).arg(ASuffix);
    FFiles[AFace ? 0 : 1][name] = AData;
    FUsers[AUserId].insert(AFace ? QStringLiteral("facefile") : QStringLiteral("photofile"), name);
    return name;
}

void TPeopleService::PushFileChanged(bool AFace, int32_t AUserId, const QString& AName)
{
    TBitDocument doc(AFace ? QStringLiteral("Server:OtherUserFaceChanged") : QStringLiteral("Server:OtherUserPhotoChanged"));
    doc.Root()->AddInt32Node(QStringLiteral("userid"), AUserId);
    doc.Root()->AddStringNode(AFace ? QStringLiteral("facefile") : QStringLiteral("photofile"), AName);
    Push(AUserId, doc);
}

void TPeopleService::PushInfoChanged(int32_t AUserId)
{
    const QJsonObject user = User(AUserId);
    TBitDocument doc(QStringLiteral("Server:OtherUserInfoChanged"));
    doc.Root()->AddInt32Node(QStringLiteral("userid"), AUserId);
    for (const TProfileNode& n : ProfileNodes) AddNode(*doc.Root(), n, user);
    Push(AUserId, doc);
}

void TPeopleService::SetStatus(int32_t AUserId, int16_t AStatus, bool ALogin)
{
    {
        std::lock_guard l(FLock);
        FStatus[AUserId] = AStatus;
    }
    TBitDocument doc(ALogin ? QStringLiteral("Server:OtherUserLogin") : QStringLiteral("Server:OtherUserLoginStatusChanged"));
    doc.Root()->AddInt32Node(QStringLiteral("userid"), AUserId);
    doc.Root()->AddInt16Node(QStringLiteral("loginstatus"), AStatus);
    Push(AUserId, doc);
}

// ---- scripting -----------------------------------------------------------------------------

void TPeopleService::SignIn(int32_t AUserId, int16_t AStatus) { SetStatus(AUserId, AStatus, true); }

void TPeopleService::SignOut(int32_t AUserId)
{
    {
        std::lock_guard l(FLock);
        FStatus[AUserId] = 0;
    }
    TBitDocument doc(QStringLiteral("Server:OtherUserLogout"));
    doc.Root()->AddInt32Node(QStringLiteral("userid"), AUserId);
    Push(AUserId, doc);
}

void TPeopleService::ChangeStatus(int32_t AUserId, int16_t AStatus) { SetStatus(AUserId, AStatus, false); }

void TPeopleService::ChangeSignature(int32_t AUserId, const QString& ASignature)
{
    {
        std::lock_guard l(FLock);
        FUsers[AUserId].insert(QStringLiteral("signature"), ASignature);
    }
    TBitDocument doc(QStringLiteral("Server:OtherUserSignatureChanged"));
    doc.Root()->AddInt32Node(QStringLiteral("userid"), AUserId);
    doc.Root()->AddStringNode(QStringLiteral("signature"), ASignature);
    Push(AUserId, doc);
}

void TPeopleService::ChangeProfile(int32_t AUserId, const QJsonObject& AFields)
{
    {
        std::lock_guard l(FLock);
        QJsonObject& user = FUsers[AUserId];
        for (auto it = AFields.begin(); it != AFields.end(); ++it) user.insert(it.key(), it.value());
        user.insert(QStringLiteral("modifytime"), QDateTime::currentDateTimeUtc().toString(Qt::ISODate));
    }
    PushInfoChanged(AUserId);
}

QString TPeopleService::ChangeFace(int32_t AUserId, const QByteArray& AData, const QString& ASuffix)
{
    const QString name = StoreFile(true, AUserId, ASuffix, AData);
    PushFileChanged(true, AUserId, name);
    return name;
}

QString TPeopleService::ChangePhoto(int32_t AUserId, const QByteArray& AData, const QString& ASuffix)
{
    const QString name = StoreFile(false, AUserId, ASuffix, AData);
    PushFileChanged(false, AUserId, name);
    return name;
}

// ---- requests of a signed-in client --------------------------------------------------------

void TPeopleService::OnChangeLoginStatus(const TRequest& AReq)
{
    const int32_t me = Caller(AReq);
    if (me == 0) return AReq.Answer(*Ack(AReq.Name, 1));
    AReq.Answer(*Ack(AReq.Name, 0));
    SetStatus(me, AReq.Doc()->ReadInt16(u"loginstatus"), false);
}

void TPeopleService::OnChangeSignature(const TRequest& AReq)
{
    const int32_t me = Caller(AReq);
    if (me == 0) return AReq.Answer(*Ack(AReq.Name, 1));
    const QString signature = AReq.Doc()->ReadString(u"signature");
    auto ack = Ack(AReq.Name, 0);
    ack->Root()->AddStringNode(QStringLiteral("signature"), signature);
    AReq.Answer(*ack);
    ChangeSignature(me, signature);
}

void TPeopleService::OnChangeUserInfo(const TRequest& AReq)
{
    const int32_t me = Caller(AReq);
    if (me == 0) return AReq.Answer(*Ack(AReq.Name, 1));
    QJsonObject user;
    {
        std::lock_guard l(FLock);
        QJsonObject& stored = FUsers[me];
        for (const TProfileNode& n : ProfileNodes)
            if (n.InChangeUserInfo) ReadNode(*AReq.Doc(), n, stored);
        stored.insert(QStringLiteral("modifytime"), QDateTime::currentDateTimeUtc().toString(Qt::ISODate));
        user = stored;
    }
    auto ack = Ack(AReq.Name, 0);
    for (const TProfileNode& n : ProfileNodes)
        if (n.InChangeUserInfo) AddNode(*ack->Root(), n, user);
    AReq.Answer(*ack);
    PushInfoChanged(me);
}

void TPeopleService::OnChangePassword(const TRequest& AReq)
{
    const int32_t me = Caller(AReq);
    int32_t code = me == 0 ? 1 : 0;
    if (code == 0) {
        std::lock_guard l(FLock);
        QJsonObject& user = FUsers[me];
        const QString current = user.contains(QStringLiteral("passworddigest"))
                                    ? user.value(QStringLiteral("passworddigest")).toString()
                                    : TDirectoryFixture::PasswordDigest(user);
        if (AReq.Doc()->ReadString(u"oldpassword") != current)
            code = 2; // the old password does not match
        else
            user.insert(QStringLiteral("passworddigest"), AReq.Doc()->ReadString(u"newpassword"));
    }
    AReq.Answer(*Ack(AReq.Name, code));
}

void TPeopleService::OnChangeLinkDepart(const TRequest& AReq)
{
    const int32_t me = Caller(AReq);
    if (me == 0) return AReq.Answer(*Ack(AReq.Name, 1));
    const int32_t depart = AReq.Doc()->ReadInt32(u"linkdepartid");
    {
        std::lock_guard l(FLock);
        FUsers[me].insert(QStringLiteral("linkdepartid"), depart);
    }
    auto ack = Ack(AReq.Name, 0);
    ack->Root()->AddInt32Node(QStringLiteral("linkdepartid"), depart);
    AReq.Answer(*ack);
}

void TPeopleService::OnUpdateJoinSetting(const TRequest& AReq)
{
    const int32_t me = Caller(AReq);
    if (me == 0) return AReq.Answer(*Ack(AReq.Name, 1));
    const TBitDocument& d = *AReq.Doc();
    auto ack = Ack(AReq.Name, 0);
    ack->Root()->AddInt16Node(QStringLiteral("onlyfindmebyid"), d.ReadInt16(u"onlyfindmebyid"));
    ack->Root()->AddUInt8Node(QStringLiteral("joinsetting"), uint8_t(d.ReadInt16(u"joinsetting")));
    ack->Root()->AddStringNode(QStringLiteral("joinquestion"), d.ReadString(u"joinquestion"));
    ack->Root()->AddStringNode(QStringLiteral("joinanswer"), d.ReadString(u"joinanswer"));
    AReq.Answer(*ack);
}

void TPeopleService::OnGetPwdProtection(const TRequest& AReq)
{
    const QJsonObject user = User(Caller(AReq));
    const QJsonObject p = user.value(QStringLiteral("pwdprotection")).toObject();
    if (p.isEmpty()) return AReq.Answer(*Ack(AReq.Name, 5)); // none set
    auto ack = Ack(AReq.Name, 0);
    for (const char* q : {"question1", "question2", "question3"})
        ack->Root()->AddStringNode(QLatin1String(q), p.value(QLatin1String(q)).toString());
    AReq.Answer(*ack);
}

void TPeopleService::OnSetPwdProtection(const TRequest& AReq)
{
    const int32_t me = Caller(AReq);
    if (me == 0) return AReq.Answer(*Ack(AReq.Name, 1));
    QJsonObject p;
    for (const char* n : {"question1", "answer1", "question2", "answer2", "question3", "answer3"})
        p.insert(QLatin1String(n), AReq.Doc()->ReadString(QString::fromLatin1(n)));
    {
        std::lock_guard l(FLock);
        FUsers[me].insert(QStringLiteral("pwdprotection"), p);
    }
    AReq.Answer(*Ack(AReq.Name, 0));
}

void TPeopleService::OnValidatePwdProtection(const TRequest& AReq)
{
    const QJsonObject p = User(Caller(AReq)).value(QStringLiteral("pwdprotection")).toObject();
    bool ok = !p.isEmpty();
    for (const char* n : {"answer1", "answer2", "answer3"})
        ok = ok && AReq.Doc()->ReadString(QString::fromLatin1(n)) == p.value(QLatin1String(n)).toString();
    AReq.Answer(*Ack(AReq.Name, ok ? 0 : 3));
}

void TPeopleService::OnGetUserInfo(const TRequest& AReq)
{
    const std::optional<QJsonObject> found = FLogin.Directory().FindUser(AReq.Doc()->ReadString(u"useridorname"));
    if (!found) return AReq.Answer(*Ack(AReq.Name, 1));
    const int32_t id = found->value(QStringLiteral("id")).toInt();
    const QJsonObject u = User(id);
    auto ack = Ack(AReq.Name, 0);
    TBitNode& r = *ack->Root();
    r.AddInt32Node(QStringLiteral("userid"), id);
    r.AddStringNode(QStringLiteral("username"), u.value(QStringLiteral("username")).toString());
    r.AddInt16Node(QStringLiteral("usertype"), int16_t(u.value(QStringLiteral("usertype")).toInt()));
    for (const TProfileNode& n : ProfileNodes)
        if (QLatin1String(n.Name) != QLatin1String("introduction")) AddNode(r, n, u);
    for (const char* s : {"introduction", "facefile", "photofile"})
        r.AddStringNode(QLatin1String(s), u.value(QLatin1String(s)).toString());
    r.AddUInt8Node(QStringLiteral("loginstatus"), uint8_t(Status(id)));
    const QDateTime modified = QDateTime::fromString(u.value(QStringLiteral("modifytime")).toString(), Qt::ISODate);
    r.AddFloat64Node(QStringLiteral("modifytime"),
                     modified.isValid() ? DateTimeFromFields(modified.toUTC().date(), modified.toUTC().time()) : 0.0);
    AReq.Answer(*ack);
}

// ---- sub-command port ----------------------------------------------------------------------

void TPeopleService::OnUpload(const TRequest& AReq, bool AFace)
{
    const int32_t user = AReq.Doc()->ReadInt32(u"userid");
    const QByteArray data = AReq.Doc()->ReadBinary(u"filedata");
    const qsizetype limit = AFace ? MaxFaceSize : MaxPhotoSize;
    if (User(user).isEmpty()) return AReq.Answer(*Ack(AReq.Name, 1));
    if (data.isEmpty() || data.size() > limit) return AReq.Answer(*Ack(AReq.Name, 2));
    QString suffix = AReq.Doc()->ReadString(u"filename").section(QLatin1Char('.'), -1).toLower();
    if (suffix.isEmpty() || suffix.size() > 4) suffix = AFace ? QStringLiteral("png") : QStringLiteral("jpg");
    const QString name = StoreFile(AFace, user, suffix, data);
    auto ack = Ack(AReq.Name, 0);
    ack->Root()->AddStringNode(AFace ? QStringLiteral("facefile") : QStringLiteral("photofile"), name);
    AReq.Answer(*ack);
    PushFileChanged(AFace, user, name);
}

void TPeopleService::OnDownload(const TRequest& AReq, bool AFace)
{
    const QString name = AReq.Doc()->ReadString(u"filename");
    {
        std::lock_guard l(FLock);
        ++FDownloads[AFace ? 0 : 1][name];
    }
    const QByteArray data = StoredFile(AFace, name);
    if (data.isEmpty()) return AReq.Answer(*Ack(AReq.Name, 1));
    auto ack = Ack(AReq.Name, 0);
    TBitNode_Binary* n = ack->Root()->AddBinaryNode(AFace ? QStringLiteral("facefile_data") : QStringLiteral("photofile_data"));
    n->SetValue(data);
    AReq.Answer(*ack);
}

std::unique_ptr<TPeopleService> InstallPeopleService(TestServer& AServer, TLoginService& ALogin,
                                                     const QString& AFixtureFile)
{
    const QString faces =
        AFixtureFile.isEmpty() ? QString() : QFileInfo(AFixtureFile).absolutePath() + QStringLiteral("/faces");
    auto people = std::make_unique<TPeopleService>(AServer, ALogin, faces);
    people->Install();
    return people;
}

} // namespace pelvox::testserver
