#include "core/Client_P2PLogin.h"
#include "platform/DebugOutput.h"
#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <mutex>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace pelvox {

namespace {

uint16_t Get16(const char* p) { return uint16_t(uint8_t(p[0]) | uint8_t(p[1]) << 8); }

void Put16(QByteArray& b, uint16_t v)
{
    b.append(char(v & 0xFF));
    b.append(char(v >> 8));
}

std::mutex gFactoryLock;
TP2PLoginClientFactory gFactory;

} // namespace

bool ReadP2PHead(const char* AData, size_t ALen, uint16_t& AMsgID)
{
    if (ALen < 4 || ALen > size_t(P2P_MAX_DATAGRAM) || Get16(AData) != ALen) return false;
    AMsgID = Get16(AData + 2);
    return true;
}

QByteArray EncodeP2PLoginRequest()
{
    QByteArray b;
    Put16(b, 4);
    Put16(b, P2PMSG_LOGIN);
    return b;
}

bool IsP2PLoginRequest(const char* AData, size_t ALen)
{
    uint16_t id = 0;
    return ReadP2PHead(AData, ALen, id) && id == P2PMSG_LOGIN;
}

QByteArray EncodeP2PLoginReply(const TP2PLoginReply& AReply)
{
    // 12 bytes: the reply record as the service lays it out, one pad byte last.
    QByteArray b;
    Put16(b, 12);
    Put16(b, P2PMSG_LOGINREPLY);
    for (int shift = 24; shift >= 0; shift -= 8) b.append(char((AReply.PublicAddr >> shift) & 0xFF));
    b.append(char(AReply.PublicPort >> 8));
    b.append(char(AReply.PublicPort & 0xFF));
    b.append(char(AReply.Result));
    b.append('\0');
    return b;
}

bool DecodeP2PLoginReply(const char* AData, size_t ALen, TP2PLoginReply& AReply)
{
    uint16_t id = 0;
    if (ALen < 11 || !ReadP2PHead(AData, ALen, id) || id != P2PMSG_LOGINREPLY) return false;
    const auto* p = reinterpret_cast<const uint8_t*>(AData);
    AReply.PublicAddr = uint32_t(p[4]) << 24 | uint32_t(p[5]) << 16 | uint32_t(p[6]) << 8 | p[7];
    AReply.PublicPort = uint16_t(p[8] << 8 | p[9]);
    AReply.Result = p[10];
    return true;
}

QString IPv4ToStr(uint32_t AAddr)
{
    return QStringLiteral("%1.%2.%3.%4").arg(AAddr >> 24).arg((AAddr >> 16) & 0xFF).arg((AAddr >> 8) & 0xFF).arg(AAddr & 0xFF);
}

void SetP2PLoginClientFactory(TP2PLoginClientFactory AFactory)
{
    std::lock_guard l(gFactoryLock);
    gFactory = std::move(AFactory);
}

std::unique_ptr<IP2PLoginClient> CreateP2PLoginClient()
{
    {
        std::lock_guard l(gFactoryLock);
        if (gFactory) return gFactory();
    }
    return std::make_unique<TP2PLoginOnlyClient>();
}

// ---- TP2PLoginOnlyClient ----------------------------------------------------

TP2PLoginOnlyClient::~TP2PLoginOnlyClient()
{
    if (FSocket >= 0) ::close(FSocket);
}

void TP2PLoginOnlyClient::SetServerHost(const QString& AHost)
{
    if (!FLogined) FServerHost = AHost;
}

void TP2PLoginOnlyClient::SetServerPort(int APort)
{
    if (!FLogined) FServerPort = std::clamp(APort, 0, 65535);
}

bool TP2PLoginOnlyClient::OpenSocket()
{
    if (FSocket >= 0) return true;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* res = nullptr;
    const QByteArray host = FServerHost.toUtf8();
    if (host.isEmpty() || ::getaddrinfo(host.constData(), nullptr, &hints, &res) != 0 || !res) {
        DebugOutput(QStringLiteral("peer-to-peer service host %1 cannot be resolved").arg(FServerHost));
        return false;
    }
    sockaddr_in server = *reinterpret_cast<const sockaddr_in*>(res->ai_addr);
    ::freeaddrinfo(res);
    server.sin_port = htons(uint16_t(FServerPort));
    const int s = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
    if (s < 0) {
        DebugOutput(QStringLiteral("create socket failed with error %1").arg(errno));
        return false;
    }
    // Connected: the kernel accepts datagrams from the service's address only.
    if (::connect(s, reinterpret_cast<const sockaddr*>(&server), sizeof server) != 0) {
        DebugOutput(QStringLiteral("connect socket failed with error %1").arg(errno));
        ::close(s);
        return false;
    }
    FSocket = s;
    return true;
}

bool TP2PLoginOnlyClient::Login(int AWaitTime)
{
    if (FLogined) return true;
    if (!OpenSocket()) return false;
    const QByteArray request = EncodeP2PLoginRequest();
    for (int i = 0; i < 5; ++i) (void)::send(FSocket, request.constData(), size_t(request.size()), MSG_NOSIGNAL);

    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(std::max(AWaitTime, 0));
    char buf[P2P_MAX_DATAGRAM];
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        pollfd pfd{FSocket, POLLIN, 0};
        const int r = ::poll(&pfd, 1, int(std::max<long long>(left, 0)));
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) return false; // no answer in time
        const ssize_t n = ::recv(FSocket, buf, sizeof buf, MSG_DONTWAIT);
        if (n < 0) {
            // Nobody listens on the service's port: no answer will come.
            if (errno == ECONNREFUSED) return false;
            continue;
        }
        TP2PLoginReply reply;
        if (!DecodeP2PLoginReply(buf, size_t(n), reply)) continue;
        if (reply.Result == 1) {
            FLocalNetIP = IPv4ToStr(reply.PublicAddr);
            FLocalNetPort = reply.PublicPort;
            FLogined = true;
        }
        return FLogined;
    }
}

} // namespace pelvox
