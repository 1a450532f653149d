#pragma once
#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <map>
#include <memory>
#include <mutex>

namespace pelvox {
class TBitDocument;
}

namespace pelvox::testserver {

class TestServer;
class TLoginService;
struct TRequest;

// The server's side of people: the own-account requests of a signed-in
// client, user information, faces and photos stored and served on the
// sub-command port, and the presence, profile, signature, face and photo
// pushes to every signed-in client when another user changes. Users that are
// not driven by a real client are moved by the scripting calls below.
class TPeopleService {
public:
    // AFacesFolder holds the fixture's face and photo pictures by file name
    // (empty: none).
    TPeopleService(TestServer& AServer, TLoginService& ALogin, QString AFacesFolder = {});
    // Unhooks from the login service (stop the server first).
    ~TPeopleService();
    TPeopleService(const TPeopleService&) = delete;
    TPeopleService& operator=(const TPeopleService&) = delete;

    void Install();

    // Scripting: another fixture user signs in, out or changes. Each pushes to
    // every signed-in connection but the user's own.
    void SignIn(int32_t AUserId, int16_t AStatus = 1);
    void SignOut(int32_t AUserId);
    void ChangeStatus(int32_t AUserId, int16_t AStatus);
    void ChangeSignature(int32_t AUserId, const QString& ASignature);
    // Fields by node name ("nickname", "mobile", "departid" ...).
    void ChangeProfile(int32_t AUserId, const QJsonObject& AFields);
    // Stores the picture under a new server name and tells the others; returns the name.
    QString ChangeFace(int32_t AUserId, const QByteArray& AData, const QString& ASuffix = QStringLiteral("png"));
    QString ChangePhoto(int32_t AUserId, const QByteArray& AData, const QString& ASuffix = QStringLiteral("jpg"));

    // State, for the tests.
    QJsonObject User(int32_t AUserId) const;
    int16_t Status(int32_t AUserId) const;
    QByteArray StoredFile(bool AFace, const QString& AName) const;
    // How often a file was asked for (served or not).
    int DownloadCount(bool AFace, const QString& AName) const;

    // What the account requests accept.
    static constexpr qsizetype MaxFaceSize = 102400;
    static constexpr qsizetype MaxPhotoSize = 307200;

private:
    void Push(int32_t AAboutUser, const TBitDocument& ADoc);
    int32_t Caller(const TRequest& AReq) const;
    QString StoreFile(bool AFace, int32_t AUserId, const QString& ASuffix, const QByteArray& AData);
    void PushFileChanged(bool AFace, int32_t AUserId, const QString& AName);
    void PushInfoChanged(int32_t AUserId);
    void SetStatus(int32_t AUserId, int16_t AStatus, bool ALogin);

    void OnChangeLoginStatus(const TRequest& AReq);
    void OnChangeSignature(const TRequest& AReq);
    void OnChangeUserInfo(const TRequest& AReq);
    void OnChangePassword(const TRequest& AReq);
    void OnChangeLinkDepart(const TRequest& AReq);
    void OnUpdateJoinSetting(const TRequest& AReq);
    void OnGetPwdProtection(const TRequest& AReq);
    void OnSetPwdProtection(const TRequest& AReq);
    void OnValidatePwdProtection(const TRequest& AReq);
    void OnGetUserInfo(const TRequest& AReq);
    void OnUpload(const TRequest& AReq, bool AFace);
    void OnDownload(const TRequest& AReq, bool AFace);

    TestServer& FServer;
    TLoginService& FLogin;
    QString FFacesFolder;
    mutable std::mutex FLock;
    std::map<int32_t, QJsonObject> FUsers;  // the live profile, seeded from the fixture
    std::map<int32_t, int16_t> FStatus;     // scripted presence
    std::map<QString, QByteArray> FFiles[2]; // [face, photo] by server name
    std::map<QString, int> FDownloads[2];
    int FNextFile = 1;
};

// Installs the people service next to the login service; the faces folder is
// "faces/" beside the fixture file.
std::unique_ptr<TPeopleService> InstallPeopleService(TestServer& AServer, TLoginService& ALogin,
                                                     const QString& AFixtureFile);

} // namespace pelvox::testserver
