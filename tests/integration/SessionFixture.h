#pragma once
#include "TestLogin.h"
#include "TestServer.h"
#include "TestSupport.h"
#include "core/BitDocument.h"
#include "core/Client_BindingEvents.h"
#include "core/Client_GlobalClient.h"
#include "core/MD5.h"
#include <QJsonDocument>
#include <gtest/gtest.h>

namespace pelvox::test {

using testserver::TestServer;
using testserver::TLoggedPacket;
using testserver::TPortKind;

// Records the session's client events in order: "name:param".
class TEventLog {
public:
    TEventLog()
    {
        for (const char* n : {"Client:OnLoging", "Client:OnConnectError", "Client:OnLoginTimeOut", "Client:OnLoginError",
                              "Client:OnLoginSuccess", "Client:OnBeforeLogout", "Client:OnAfterLogout",
                              "Client:OnForceOffline", "Client:OnMainCmdDisconnect"}) {
            const QString name = QLatin1String(n);
            FEvents.push_back(std::make_unique<TBindingEvent>(name, [this, name](TBindingEvent& e) {
                std::lock_guard l(FLock);
                FLog.push_back(name.mid(7) + QLatin1Char(':') + QString::number(e.EventParam1()));
            }));
        }
    }
    QStringList Log() const
    {
        std::lock_guard l(FLock);
        return FLog;
    }
    bool Has(const QString& entry) const { return Log().contains(entry); }
    void Clear()
    {
        std::lock_guard l(FLock);
        FLog.clear();
    }

private:
    mutable std::mutex FLock;
    QStringList FLog;
    std::vector<std::unique_ptr<TBindingEvent>> FEvents;
};

// A small directory: one active, one frozen account.
inline QJsonObject SmallDirectory()
{
    return QJsonDocument::fromJson(R"({
      "departments": [ { "id": 1, "name": "总部", "parent": 0 } ],
      "users": [
        { "id": 20001, "username": "anna", "password": "secret", "nickname": "安娜", "departid": 1,
          "contacts": [ { "userid": 20002, "group": 0 } ], "items": [ { "type": 1, "value": "20002" } ] },
        { "id": 20002, "username": "bo", "password": "secret", "nickname": "博", "departid": 1, "frozen": true }
      ] })")
        .object();
}

// A test server with the login service, a scratch application root and a
// session object pointed at the server, with short waits.
class SessionTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ClearManagerFactories();
        ASSERT_TRUE(Server.Start());
        Service = std::make_unique<testserver::TLoginService>(Server, testserver::TDirectoryFixture::FromJson(SmallDirectory()));
        Service->Install();
    }
    void TearDown() override
    {
        Client.reset();
        Server.Stop();
    }

    static TGlobalClientOptions FastOptions()
    {
        TGlobalClientOptions o;
        o.LoginTimings.ConnectAttempt = 1000;
        o.LoginTimings.ConnectTotal = 1500;
        o.LoginTimings.ConnectRetryPause = 50;
        o.LoginTimings.KeyExchangeAnswer = 1500;
        o.LoginTimings.LoginAnswer = 1500;
        o.LoginTimings.LogoutAnswer = 2000;
        o.TCPTimings.ManageTick = std::chrono::milliseconds(50);
        o.TCPTimings.ReconnectDelay = std::chrono::milliseconds(50);
        o.TCPTimings.ReconnectTimeOut = 500;
        return o;
    }

    void MakeClient(TGlobalClientOptions o = FastOptions(), int port = -1)
    {
        Client = std::make_unique<TGlobalClient>(std::move(o));
        auto& items = Client->SystemConfig().NetworkOptions().Items();
        items.clear();
        auto item = std::make_unique<TNetworkItem>();
        item->NetworkName = QStringLiteral("test");
        item->SetAddress(QStringLiteral("127.0.0.1"));
        item->Port = port < 0 ? Server.CmdPort() : port;
        items.push_back(std::move(item));
        Client->SystemConfig().NetworkOptions().SaveData(); // the login reloads the settings
    }

    void StartLogin(const QString& name, const QString& password)
    {
        if (!Client) MakeClient();
        Client->LoginParams().SetLoginName(name);
        Client->LoginParams().SetPassword(PasswordDigest(password));
        Client->Login();
    }

    // Logs in and waits for the outcome.
    bool SignIn(const QString& name = QStringLiteral("anna"), const QString& password = QStringLiteral("secret"))
    {
        StartLogin(name, password);
        return RunLoopUntil([&] { return Events.Has(QStringLiteral("OnLoginSuccess:0")) && !Client->HasLoginThreadRunning(); });
    }

    std::vector<TLoggedPacket> Sent(const QString& name) const
    {
        return Server.Log([&](const TLoggedPacket& p) { return p.DocName == name; });
    }

    TempAppRoot Root;
    TestServer Server;
    std::unique_ptr<testserver::TLoginService> Service;
    TEventLog Events;
    std::unique_ptr<TGlobalClient> Client;
};

} // namespace pelvox::test
