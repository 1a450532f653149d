#include "TestFixture.h"
#include "core/BitDocument.h"
#include "core/MD5.h"
#include "platform/DateTime.h"
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>

namespace pelvox::testserver {

namespace {

constexpr qint64 MaxFixtureSize = 16 * 1024 * 1024;

QVector<QJsonObject> Objects(const QJsonValue& AValue)
{
    QVector<QJsonObject> out;
    for (const QJsonValue& v : AValue.toArray())
        if (v.isObject()) out.push_back(v.toObject());
    return out;
}

// A date in the fixture: ISO text in universal time, or nothing (now).
double UTCDate(const QJsonValue& AValue)
{
    const QDateTime t = QDateTime::fromString(AValue.toString(), Qt::ISODate);
    if (!t.isValid()) return NowUTC();
    const QDateTime u = t.toUTC();
    return DateTimeFromFields(u.date(), u.time());
}

enum class TKind { Str, I16, I32, U8, UTC };
struct TUserNode {
    const char* Key; // the fixture's key; the node is "userdata_" + key
    TKind Kind;
};

// The login answer's own-user nodes, in answer order.
const TUserNode UserNodes[] = {
    {"userid", TKind::I32},         {"username", TKind::Str},         {"usertype", TKind::I16},
    {"canfound", TKind::I16},       {"nickname", TKind::Str},         {"signature", TKind::Str},
    {"actualname", TKind::Str},     {"sex", TKind::I16},              {"age", TKind::I16},
    {"birth_year", TKind::I16},     {"birth_month", TKind::I16},      {"birth_day", TKind::I16},
    {"country", TKind::I16},        {"province", TKind::I16},         {"city", TKind::I16},
    {"area", TKind::I16},           {"address", TKind::Str},          {"telephone", TKind::Str},
    {"telephone_short", TKind::Str}, {"telephone2", TKind::Str},      {"telephone2_short", TKind::Str},
    {"mobile", TKind::Str},         {"mobile_short", TKind::Str},     {"mobile2", TKind::Str},
    {"mobile2_short", TKind::Str},  {"fax", TKind::Str},              {"qq", TKind::Str},
    {"weixin", TKind::Str},         {"weibo", TKind::Str},            {"email", TKind::Str},
    {"roomname", TKind::Str},       {"roomnumber", TKind::Str},       {"idnumber", TKind::Str},
    {"carnumber", TKind::Str},      {"homepage", TKind::Str},         {"departid", TKind::I32},
    {"departname", TKind::Str},     {"jobtitle", TKind::Str},         {"jobnumber", TKind::Str},
    {"introduction", TKind::Str},   {"facefile", TKind::Str},         {"photofile", TKind::Str},
    {"loginstatus", TKind::U8},     {"logintimes", TKind::I32},       {"lastlogintime", TKind::UTC},
    {"clientipaddr", TKind::Str},   {"clientlocation", TKind::Str},   {"lastclientipaddr", TKind::Str},
    {"lastclientlocation", TKind::Str}, {"token", TKind::Str},        {"onlyfindmebyid", TKind::I16},
    {"joinsetting", TKind::U8},     {"joinquestion", TKind::Str},     {"joinanswer", TKind::Str},
    {"linkdepartid", TKind::I32},   {"smstotal", TKind::I32},         {"smsdaystart", TKind::UTC},
    {"smsdaylimit", TKind::I32},    {"smsdaysended", TKind::I32},     {"smstotalsended", TKind::I32},
    {"modifytime", TKind::UTC},     {"createtime", TKind::UTC},
};

// Defaults of fields a fixture user may leave out.
int DefaultInt(const char* AKey)
{
    const QByteArray k(AKey);
    if (k == "age") return -1;
    if (k == "canfound") return 1;
    if (k == "joinsetting") return 2; // confirm
    if (k == "loginstatus") return 1;
    return 0;
}

} // namespace

std::shared_ptr<TDirectoryFixture> TDirectoryFixture::Load(const QString& AFile, QString* AError)
{
    QFile f(AFile);
    if (!f.open(QIODevice::ReadOnly) || f.size() > MaxFixtureSize) {
        if (AError) *AError = QStringLiteral("cannot read fixture %1").arg(AFile);
        return nullptr;
    }
    QJsonParseError pe;
    const QJsonDocument doc = QJsonDocument::fromJson(f.readAll(), &pe);
    if (!doc.isObject()) {
        if (AError) *AError = QStringLiteral("fixture %1: %2").arg(AFile, pe.errorString());
        return nullptr;
    }
    return FromJson(doc.object(), AError);
}

std::shared_ptr<TDirectoryFixture> TDirectoryFixture::FromJson(const QJsonObject& ARoot, QString* AError)
{
    auto d = std::make_shared<TDirectoryFixture>();
    d->FRoot = ARoot;
    d->FUsers = Objects(ARoot.value(QStringLiteral("users")));
    d->FDepartments = Objects(ARoot.value(QStringLiteral("departments")));
    for (const QJsonObject& u : d->FUsers)
        if (u.value(QStringLiteral("id")).toInt() <= 0 || u.value(QStringLiteral("username")).toString().isEmpty()) {
            if (AError) *AError = QStringLiteral("fixture: every user needs an id and a username");
            return nullptr;
        }
    return d;
}

QString TDirectoryFixture::ServerVersion() const
{
    return FRoot.value(QStringLiteral("server")).toObject().value(QStringLiteral("version")).toString(
        QStringLiteral("Pelvox Server 2.0.2.2"));
}

std::optional<QJsonObject> TDirectoryFixture::FindUser(const QString& AUserIdOrName) const
{
    for (const QJsonObject& u : FUsers)
        if (QString::number(u.value(QStringLiteral("id")).toInt()) == AUserIdOrName ||
            u.value(QStringLiteral("username")).toString() == AUserIdOrName)
            return u;
    return std::nullopt;
}

QString TDirectoryFixture::DepartmentName(qint64 AId) const
{
    for (const QJsonObject& d : FDepartments)
        if (d.value(QStringLiteral("id")).toInteger() == AId) return d.value(QStringLiteral("name")).toString();
    return {};
}

QString TDirectoryFixture::PasswordDigest(const QJsonObject& AUser)
{
    return MD5TextToHex(AUser.value(QStringLiteral("password")).toString(), false);
}

void AddUserDataNodes(TBitNode& ARoot, const QJsonObject& AUser, double ALastLoginUTC)
{
    for (const TUserNode& n : UserNodes) {
        const QString key = QLatin1String(n.Key);
        const QString name = QStringLiteral("userdata_") + key;
        const QJsonValue v = key == QLatin1String("userid") ? AUser.value(QStringLiteral("id")) : AUser.value(key);
        const int i = v.isUndefined() ? DefaultInt(n.Key) : v.toInt();
        switch (n.Kind) {
        case TKind::Str: ARoot.AddStringNode(name, v.toString()); break;
        case TKind::I16: ARoot.AddInt16Node(name, int16_t(i)); break;
        case TKind::I32: ARoot.AddInt32Node(name, int32_t(i)); break;
        case TKind::U8: ARoot.AddUInt8Node(name, uint8_t(i)); break;
        case TKind::UTC:
            ARoot.AddFloat64Node(name, key == QLatin1String("lastlogintime") && v.isUndefined() ? ALastLoginUTC
                                                                                                 : UTCDate(v));
            break;
        }
    }
}

void AddDepartmentNodes(TBitNode& ARoot, const TDirectoryFixture& ADir, const std::function<int(int32_t)>& AStatusOf)
{
    TBitNode* deps = ARoot.AddDirectoryNode(QStringLiteral("departments"));
    for (const QJsonObject& d : ADir.Departments()) {
        TBitNode* e = deps->AddDirectoryNode(QStringLiteral("item"));
        e->AddInt64Node(QStringLiteral("$1"), d.value(QStringLiteral("id")).toInteger());
        e->AddStringNode(QStringLiteral("$2"), d.value(QStringLiteral("name")).toString());
        e->AddInt64Node(QStringLiteral("$3"), d.value(QStringLiteral("parent")).toInteger());
    }
    TBitNode* users = ARoot.AddDirectoryNode(QStringLiteral("departmentusers"));
    static const char* const phones[] = {"telephone", "telephone_short", "telephone2", "telephone2_short",
                                         "mobile",    "mobile_short",    "mobile2",    "mobile2_short"};
    for (const QJsonObject& u : ADir.Users()) {
        const int32_t id = u.value(QStringLiteral("id")).toInt();
        const qint64 depart = u.value(QStringLiteral("departid")).toInteger();
        if (depart == 0) continue;
        TBitNode* e = users->AddDirectoryNode(QStringLiteral("item"));
        e->AddInt32Node(QStringLiteral("$1"), id);
        e->AddStringNode(QStringLiteral("$2"), u.value(QStringLiteral("username")).toString());
        e->AddInt16Node(QStringLiteral("$3"), int16_t(u.value(QStringLiteral("usertype")).toInt()));
        e->AddStringNode(QStringLiteral("$4"), u.value(QStringLiteral("nickname")).toString());
        e->AddStringNode(QStringLiteral("$5"), u.value(QStringLiteral("actualname")).toString());
        e->AddInt16Node(QStringLiteral("$6"), int16_t(u.value(QStringLiteral("sex")).toInt()));
        for (int k = 0; k < 8; ++k)
            e->AddStringNode(QStringLiteral("$6.%1").arg(k + 1), u.value(QLatin1String(phones[k])).toString());
        e->AddInt32Node(QStringLiteral("$7"), int32_t(depart));
        e->AddStringNode(QStringLiteral("$8"), ADir.DepartmentName(depart));
        e->AddStringNode(QStringLiteral("$9"), u.value(QStringLiteral("facefile")).toString());
        e->AddStringNode(QStringLiteral("$10"), u.value(QStringLiteral("photofile")).toString());
        e->AddInt16Node(QStringLiteral("$11"), int16_t(AStatusOf(id)));
        e->AddInt32Node(QStringLiteral("$12"), u.value(QStringLiteral("userposition")).toInt());
        e->AddFloat64Node(QStringLiteral("$14"), UTCDate(u.value(QStringLiteral("modifytime"))));
    }
}

void AddContactNodes(TBitNode& ARoot, const TDirectoryFixture& ADir, const QJsonObject& AUser,
                     const std::function<int(int32_t)>& AStatusOf)
{
    struct TGroup {
        int Id;
        QString Name;
    };
    QVector<TGroup> groups = {{0, QStringLiteral("我的好友")}, {1, QStringLiteral("陌生人")}, {2, QStringLiteral("黑名单")}};
    for (const QJsonObject& g : Objects(AUser.value(QStringLiteral("contactgroups"))))
        groups.push_back({g.value(QStringLiteral("id")).toInt(), g.value(QStringLiteral("name")).toString()});
    const QVector<QJsonObject> contacts = Objects(AUser.value(QStringLiteral("contacts")));

    TBitNode* list = ARoot.AddDirectoryNode(QStringLiteral("contactgroups"));
    for (const TGroup& g : groups) {
        TBitNode* e = list->AddDirectoryNode(QStringLiteral("item"));
        e->AddInt32Node(QStringLiteral("$1"), g.Id);
        e->AddStringNode(QStringLiteral("$2"), g.Name);
        for (const char* n : {"$3", "$4", "$5", "$6"}) e->AddInt16Node(QLatin1String(n), 0);
        TBitNode* cl = e->AddDirectoryNode(QStringLiteral("contacts"));
        for (const QJsonObject& c : contacts) {
            if (c.value(QStringLiteral("group")).toInt() != g.Id) continue;
            const std::optional<QJsonObject> p =
                ADir.FindUser(QString::number(c.value(QStringLiteral("userid")).toInt()));
            if (!p) continue;
            const int32_t id = p->value(QStringLiteral("id")).toInt();
            TBitNode* ce = cl->AddDirectoryNode(QStringLiteral("item"));
            ce->AddInt32Node(QStringLiteral("$1"), id);
            ce->AddStringNode(QStringLiteral("$3"), c.value(QStringLiteral("remarkname")).toString());
            for (const char* n : {"$4", "$5", "$6", "$7"}) ce->AddInt16Node(QLatin1String(n), 0);
            ce->AddStringNode(QStringLiteral("$8"), p->value(QStringLiteral("username")).toString());
            ce->AddInt16Node(QStringLiteral("$9"), int16_t(p->value(QStringLiteral("usertype")).toInt()));
            ce->AddStringNode(QStringLiteral("$10"), p->value(QStringLiteral("nickname")).toString());
            ce->AddStringNode(QStringLiteral("$11"), p->value(QStringLiteral("actualname")).toString());
            ce->AddInt16Node(QStringLiteral("$12"), int16_t(p->value(QStringLiteral("sex")).toInt()));
            const qint64 depart = p->value(QStringLiteral("departid")).toInteger();
            ce->AddInt32Node(QStringLiteral("$13"), int32_t(depart));
            ce->AddStringNode(QStringLiteral("$14"), ADir.DepartmentName(depart));
            ce->AddStringNode(QStringLiteral("$15"), p->value(QStringLiteral("facefile")).toString());
            ce->AddStringNode(QStringLiteral("$16"), p->value(QStringLiteral("photofile")).toString());
            ce->AddInt16Node(QStringLiteral("$17"), int16_t(AStatusOf(id)));
            ce->AddFloat64Node(QStringLiteral("$20"), UTCDate(p->value(QStringLiteral("modifytime"))));
        }
    }
    TBitNode* items = ARoot.AddDirectoryNode(QStringLiteral("items"));
    qint64 sid = 1;
    for (const QJsonObject& i : Objects(AUser.value(QStringLiteral("items")))) {
        TBitNode* e = items->AddDirectoryNode(QStringLiteral("item"));
        e->AddInt64Node(QStringLiteral("sid"), sid++);
        e->AddInt16Node(QStringLiteral("itemtype"), int16_t(i.value(QStringLiteral("type")).toInt()));
        e->AddStringNode(QStringLiteral("itemvalue"), i.value(QStringLiteral("value")).toVariant().toString());
        e->AddFloat64Node(QStringLiteral("createtime"), NowUTC());
    }
}

void AddJoinListNodes(TBitNode& ARoot, const QJsonObject& AUser)
{
    struct TList {
        const char* Name;
        const char* IdNode; // "groupid", "roomid" or none
        bool Response;      // responses carry "agree"
    };
    static const TList lists[] = {
        {"joinrequests", nullptr, false},      {"joinresponses", nullptr, true},
        {"joingrouprequests", "groupid", false}, {"joingroupresponses", "groupid", true},
        {"joinroomrequests", "roomid", false},   {"joinroomresponses", "roomid", true},
    };
    for (const TList& l : lists) {
        const QString name = QLatin1String(l.Name);
        if (!AUser.contains(name)) continue;
        TBitNode* list = ARoot.AddDirectoryNode(name);
        for (const QJsonObject& j : Objects(AUser.value(name))) {
            TBitNode* e = list->AddDirectoryNode(QStringLiteral("item"));
            if (l.IdNode) e->AddInt32Node(QLatin1String(l.IdNode), j.value(QLatin1String(l.IdNode)).toInt());
            e->AddStringNode(QStringLiteral("content"), j.value(QStringLiteral("content")).toString());
            if (l.Response) e->AddInt16Node(QStringLiteral("agree"), int16_t(j.value(QStringLiteral("agree")).toInt()));
            e->AddInt32Node(QStringLiteral("sender"), j.value(QStringLiteral("sender")).toInt());
        }
    }
}

std::vector<std::unique_ptr<TBitDocument>> SysMsgPushes(const QJsonObject& AUser)
{
    std::vector<std::unique_ptr<TBitDocument>> pushes;
    for (const QJsonObject& m : Objects(AUser.value(QStringLiteral("sysmsgs")))) {
        auto doc = std::make_unique<TBitDocument>(QStringLiteral("Server:ReceivedSysMsg"));
        TBitNode& r = *doc->Root();
        r.AddInt64Node(QStringLiteral("sysmsgid"), m.value(QStringLiteral("id")).toInteger());
        for (const char* text : {"title", "category", "content", "link", "attachfile"})
            r.AddStringNode(QLatin1String(text), m.value(QLatin1String(text)).toString());
        r.AddInt16Node(QStringLiteral("needreaded"), int16_t(m.value(QStringLiteral("needreaded")).toInt()));
        r.AddInt16Node(QStringLiteral("needfeedback"), int16_t(m.value(QStringLiteral("needfeedback")).toInt()));
        r.AddFloat64Node(QStringLiteral("sendtime"), UTCDate(m.value(QStringLiteral("sendtime"))));
        pushes.push_back(std::move(doc));
    }
    return pushes;
}

} // namespace pelvox::testserver
