#pragma once
#include <QByteArray>
#include <QString>
#include <cstdint>
#include <functional>
#include <memory>

// The login exchange with the server's peer-to-peer service: the datagrams,
// and the little a network profile test needs of a peer-to-peer client.
namespace pelvox {

constexpr uint16_t P2PMSG_LOGIN = 1;
constexpr uint16_t P2PMSG_LOGINREPLY = 2;
constexpr int P2P_MAX_DATAGRAM = 1500;

// Every datagram starts with MsgLen and MsgID (16-bit little-endian). A
// datagram is valid only when MsgLen equals the number of bytes received.
bool ReadP2PHead(const char* AData, size_t ALen, uint16_t& AMsgID);

// The 4-byte login request.
QByteArray EncodeP2PLoginRequest();
bool IsP2PLoginRequest(const char* AData, size_t ALen);

// The login reply: the client's public address and port as the service saw
// them (kept here in host order, travelling in network order) and the result
// (1 = logged in).
struct TP2PLoginReply {
    uint32_t PublicAddr = 0;
    uint16_t PublicPort = 0;
    uint8_t Result = 0;
};
QByteArray EncodeP2PLoginReply(const TP2PLoginReply& AReply);
// Reads a reply of at least 11 bytes whose MsgLen matches; bytes behind the
// result are ignored.
bool DecodeP2PLoginReply(const char* AData, size_t ALen, TP2PLoginReply& AReply);

// Dotted text of an IPv4 address held in host order.
QString IPv4ToStr(uint32_t AAddr);

// What a network profile test needs of a peer-to-peer client. The full
// client registers a factory for itself; until then a login-only client is used.
class IP2PLoginClient {
public:
    virtual ~IP2PLoginClient() = default;
    virtual void SetServerHost(const QString& AHost) = 0;
    // 70000 becomes 65535, -1 becomes 0.
    virtual void SetServerPort(int APort) = 0;
    // Logs in to the service, waiting at most AWaitTime ms; returns Logined().
    virtual bool Login(int AWaitTime) = 0;
    virtual bool Logined() const = 0;
};

using TP2PLoginClientFactory = std::function<std::unique_ptr<IP2PLoginClient>()>;
// An empty factory restores the login-only client.
void SetP2PLoginClientFactory(TP2PLoginClientFactory AFactory);
std::unique_ptr<IP2PLoginClient> CreateP2PLoginClient();

// The login-only client: one UDP socket that accepts datagrams from the
// service's address only. Blocking; runs on the caller's (login) thread.
class TP2PLoginOnlyClient : public IP2PLoginClient {
public:
    TP2PLoginOnlyClient() = default;
    ~TP2PLoginOnlyClient() override;
    TP2PLoginOnlyClient(const TP2PLoginOnlyClient&) = delete;
    TP2PLoginOnlyClient& operator=(const TP2PLoginOnlyClient&) = delete;

    void SetServerHost(const QString& AHost) override;
    void SetServerPort(int APort) override;
    bool Login(int AWaitTime) override;
    bool Logined() const override { return FLogined; }
    QString LocalNetIP() const { return FLocalNetIP; }
    int LocalNetPort() const { return FLocalNetPort; }

private:
    bool OpenSocket();
    QString FServerHost;
    int FServerPort = 0;
    int FSocket = -1;
    bool FLogined = false;
    QString FLocalNetIP;
    int FLocalNetPort = 0;
};

} // namespace pelvox
