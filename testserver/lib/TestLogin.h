#pragma once
#include "TestFixture.h"
#include <QString>
#include <functional>
#include <map>
#include <memory>
#include <mutex>

namespace pelvox {
class TECC;
class TPublicECC;
}

namespace pelvox::testserver {

class TestServer;
struct TRequest;

// The server's side of signing in: the key exchange ("Users.CreateSafeSession"),
// "Users.Login" against the fixture's accounts with the complete login answer,
// "Users.ActiveLogined", the requests a client sends after a login, and
// "Users.Logout". Registers its handlers on the server's command port.
class TLoginService {
public:
    // Generates the server's curves (a few hundred milliseconds).
    TLoginService(TestServer& AServer, std::shared_ptr<const TDirectoryFixture> ADirectory);
    ~TLoginService();
    TLoginService(const TLoginService&) = delete;
    TLoginService& operator=(const TLoginService&) = delete;

    void Install();
    // Sends "Server:ForceOffline" with the description to a connection.
    bool ForceOffline(int AConnId, const QString& ADescription);

    // Who is signed in on which connection (0 when nobody).
    int32_t UserOf(int AConnId) const;
    int ConnectionOf(int32_t AUserId) const;
    bool IsOnline(int32_t AUserId) const { return ConnectionOf(AUserId) != 0; }
    // How many "Users.ActiveLogined" arrived.
    int ActiveLoginedCount() const;
    const TDirectoryFixture& Directory() const { return *FDirectory; }

    // Hooks of the people service: a user's status as the others see it in
    // the login answer (negative: not known there; called under the service's
    // lock, so it must not call back), and sign-ins and sign-outs of real
    // clients (status 0 on sign-out).
    void SetStatusSource(std::function<int(int32_t)> ASource) { FStatusSource = std::move(ASource); }
    void SetPresenceObserver(std::function<void(int32_t, int)> AObserver) { FPresenceObserver = std::move(AObserver); }
    QString ServerPublicKey() const;

private:
    void OnCreateSafeSession(const TRequest& AReq);
    void OnLogin(const TRequest& AReq);
    void OnLogout(const TRequest& AReq);
    int StatusOf(int32_t AUserId) const;

    TestServer& FServer;
    std::shared_ptr<const TDirectoryFixture> FDirectory;
    std::unique_ptr<TECC> FServerECC; // the server's key pair on the "6244E9BD" curve
    std::unique_ptr<TPublicECC> FClientCurve;  // enciphers for a client's key ("EE2036A1")
    mutable std::mutex FLock;
    std::map<int, int32_t> FOnline; // connection -> user
    std::function<int(int32_t)> FStatusSource;
    std::function<void(int32_t, int)> FPresenceObserver;
    int FActiveLogined = 0;
};

// Loads the fixture (an empty directory when none is given) and installs the
// services of the test server; the returned object must outlive the server's use.
std::unique_ptr<TLoginService> InstallStandardServices(TestServer& AServer, const QString& AFixtureFile,
                                                       QString* AError = nullptr);

} // namespace pelvox::testserver
