#pragma once
#include <QJsonObject>
#include <memory>
#include <vector>
#include <QString>
#include <QVector>
#include <functional>
#include <memory>
#include <optional>

namespace pelvox {
class TBitNode;
class TBitDocument;
}

namespace pelvox::testserver {

// The server's directory as a JSON fixture file:
//   "server":      { "version": "Pelvox Server 2.0.2.2" }  (the client version it accepts)
//   "departments": [ { "id", "name", "parent" } ]
//   "users":       [ { "id", "username", "password" (plain), "frozen", "nickname", "actualname",
//                      "departid", "sex", ... every profile field by its node name without
//                      "userdata_", "contactgroups": [ { "id", "name" } ] (beyond the fixed 0, 1, 2),
//                      "contacts": [ { "userid", "group", "remarkname" } ],
//                      "items": [ { "type", "value" } ] } ]
class TDirectoryFixture {
public:
    // Parses the file; nothing on a missing or malformed file (with the reason).
    static std::shared_ptr<TDirectoryFixture> Load(const QString& AFile, QString* AError = nullptr);
    static std::shared_ptr<TDirectoryFixture> FromJson(const QJsonObject& ARoot, QString* AError = nullptr);

    // The client version text the server accepts.
    QString ServerVersion() const;
    // A user by decimal id or by user name (exact).
    std::optional<QJsonObject> FindUser(const QString& AUserIdOrName) const;
    const QVector<QJsonObject>& Users() const { return FUsers; }
    const QVector<QJsonObject>& Departments() const { return FDepartments; }
    QString DepartmentName(qint64 AId) const;

    // Upper-case MD5 of a user's password, as the client sends it.
    static QString PasswordDigest(const QJsonObject& AUser);

private:
    QJsonObject FRoot;
    QVector<QJsonObject> FUsers;
    QVector<QJsonObject> FDepartments;
};

// The login answer's sections built from the fixture.
// Every "userdata_*" node of AUser at its exact type.
void AddUserDataNodes(TBitNode& ARoot, const QJsonObject& AUser, double ALastLoginUTC);
// "departments" and "departmentusers" (with each colleague's status).
void AddDepartmentNodes(TBitNode& ARoot, const TDirectoryFixture& ADir,
                        const std::function<int(int32_t)>& AStatusOf);
// "contactgroups" (0, 1, 2 and the user's own) with their contacts, and "items".
void AddContactNodes(TBitNode& ARoot, const TDirectoryFixture& ADir, const QJsonObject& AUser,
                     const std::function<int(int32_t)>& AStatusOf);

// The six join lists of the message box, from the user's fixture entries.
void AddJoinListNodes(TBitNode& ARoot, const QJsonObject& AUser);
// One "Server:ReceivedSysMsg" push per system message kept for the user.
std::vector<std::unique_ptr<TBitDocument>> SysMsgPushes(const QJsonObject& AUser);

} // namespace pelvox::testserver
