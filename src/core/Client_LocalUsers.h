#pragma once
#include "core/Client_SystemConfig.h"
#include "core/Client_UserEnums.h"
#include <QString>
#include <memory>
#include <optional>
#include <vector>

namespace pelvox {

class TBitDocument;
class TLoginParams;
class TCurrentUser;

// One account that has signed in on this computer.
class TLocalUser {
public:
    QString LoginName;
    QString Password; // the digest sent at login; empty unless remembered
    TLoginStatus LoginStatus = lsOnline;
    bool RememberPWD = false;
    bool AutoLogin = false;
    int32_t UserId = 0;
    QString UserName;
    QString NickName;
    QString ActualName;
    QString FaceFile;
    QString UserRoot; // absolute, ending with "/"

    QString GetShowName() const { return NickName + QLatin1Char('(') + UserName + QLatin1Char(')'); }
};

// The remembered accounts, most recent first: "Config/LocalUsers.xml" under
// the application root. UI thread.
class TLocalUserManager : public IRememberedAutoLogin {
public:
    // The key text of the stored passwords (files written under one key
    // cannot be read under another).
    static const QString AESKey_Password;

    TLocalUserManager() = default;

    static QString FileName();
    // Replaces the list with the file's accounts. A corrupt file is set aside
    // (".bad") and gives an empty list; it never throws.
    void LoadLocalUsers();
    // Writes the whole list atomically, readable by its owner only.
    void SaveLocalUsers();
    TLocalUser* FindLocalUser(int32_t AUserId) const;
    void DeleteLocalUser(int32_t AUserId);
    void ClearLocalUsers() { FLocalUsers.clear(); }
    const std::vector<std::unique_ptr<TLocalUser>>& LocalUsers() const { return FLocalUsers; }
    std::vector<std::unique_ptr<TLocalUser>>& LocalUsers() { return FLocalUsers; }

    // Records the account that has just signed in and saves; the current
    // user's root becomes the stored one when that lies in the application root.
    void InitWhenLoginSuccess(const TBitDocument& ADoc, const TLoginParams& AParams, TCurrentUser& ACurrentUser);

    // IRememberedAutoLogin
    std::optional<bool> FindAutoLogin(uint32_t AUserId) const override;
    void SetAutoLoginAndSave(uint32_t AUserId, bool AAutoLogin) override;

    // Accounts beyond this many in a file are ignored.
    static constexpr size_t MaxAccounts = 1000;

private:
    std::vector<std::unique_ptr<TLocalUser>> FLocalUsers;
};

// True when APath lies inside the application root (after resolving "..").
bool IsInsideAppRoot(const QString& APath);

} // namespace pelvox
