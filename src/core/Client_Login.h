#pragma once
#include "core/Client_Enums.h"
#include <QString>

namespace pelvox {

class TGlobalClient;

// Parameters of the next login, filled by the login window (or the command
// line) before TGlobalClient::Login.
class TLoginParams {
public:
    explicit TLoginParams(TGlobalClient* AClient = nullptr) : FClient(AClient) {}
    // User id or user name as typed.
    const QString& LoginName() const { return FLoginName; }
    void SetLoginName(const QString& v) { FLoginName = v; }
    // The digest that is sent: 32 upper-case hexadecimal digits of the MD5 of
    // the typed password, or the remembered digest.
    const QString& Password() const { return FPassword; }
    void SetPassword(const QString& v) { FPassword = v; }
    TLoginStatus LoginStatus() const { return FLoginStatus; }
    void SetLoginStatus(TLoginStatus v) { FLoginStatus = v; }
    bool RememberPWD() const { return FRememberPWD; }
    void SetRememberPWD(bool v) { FRememberPWD = v; }
    bool AutoLogin() const { return FAutoLogin; }
    void SetAutoLogin(bool v) { FAutoLogin = v; }

private:
    TGlobalClient* FClient;
    QString FLoginName;
    QString FPassword;
    TLoginStatus FLoginStatus = lsOnline;
    bool FRememberPWD = false;
    bool FAutoLogin = false;
};

// The waits of a login and a logout, in milliseconds. Tests shorten them so a
// silent server does not hold them for minutes.
struct TLoginTimings {
    int ConnectAttempt = 15000;   // one Connect
    int ConnectTotal = 180000;    // all connect attempts together
    int ConnectRetryPause = 1000; // between two attempts
    int KeyExchangeAnswer = 300000;
    int LoginAnswer = 180000;
    int LogoutAnswer = 2000;
    int Poll = 10; // longest sleep of an answer wait
};

// Login answer codes.
enum TLoginErrorCode : int32_t {
    lecSuccess = 0,
    lecUnknown = 1,
    lecVersionNotSupported = 2,
    lecInvalidParams = 3,
    lecTimeOut = 6,
    lecWrongAccount = 9,
    lecWrongPassword = 10,
    lecAccountFrozen = 11,
    lecWrongToken = 12,
    lecTooManyUsers = 13,
};

} // namespace pelvox
