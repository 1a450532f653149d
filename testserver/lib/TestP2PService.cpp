#include "TestP2PService.h"
#include "core/Client_P2PLogin.h"
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace pelvox::testserver {

TestP2PService::~TestP2PService() { Stop(); }

bool TestP2PService::Start(const QString& AHost, uint16_t APort)
{
    Stop();
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(APort);
    // Loopback only: the test server never answers outside this machine.
    if (::inet_pton(AF_INET, AHost.toLatin1().constData(), &addr.sin_addr) != 1 ||
        (ntohl(addr.sin_addr.s_addr) >> 24) != 127)
        return false;
    FSocket = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
    if (FSocket < 0) return false;
    socklen_t len = sizeof addr;
    if (::bind(FSocket, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::getsockname(FSocket, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        ::close(FSocket);
        FSocket = -1;
        return false;
    }
    FPort = ntohs(addr.sin_port);
    FWake = ::eventfd(0, EFD_CLOEXEC);
    FThread = std::thread([this] { Run(); });
    return true;
}

void TestP2PService::Stop()
{
    if (FThread.joinable()) {
        const uint64_t one = 1;
        (void)!::write(FWake, &one, sizeof one);
        FThread.join();
    }
    if (FSocket >= 0) ::close(FSocket);
    if (FWake >= 0) ::close(FWake);
    FSocket = FWake = -1;
    FPort = 0;
}

void TestP2PService::Run()
{
    char buf[P2P_MAX_DATAGRAM];
    for (;;) {
        pollfd fds[2] = {{FSocket, POLLIN, 0}, {FWake, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) continue;
        if (fds[1].revents) return;
        if (!(fds[0].revents & POLLIN)) continue;
        sockaddr_in from{};
        socklen_t fromLen = sizeof from;
        const ssize_t n = ::recvfrom(FSocket, buf, sizeof buf, MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&from), &fromLen);
        if (n < 0 || !IsP2PLoginRequest(buf, size_t(n))) continue;
        ++FLoginRequests;
        if (FSilent) continue;
        TP2PLoginReply reply;
        reply.PublicAddr = ntohl(from.sin_addr.s_addr);
        reply.PublicPort = ntohs(from.sin_port);
        reply.Result = FResult;
        const QByteArray out = EncodeP2PLoginReply(reply);
        (void)::sendto(FSocket, out.constData(), size_t(out.size()), 0, reinterpret_cast<sockaddr*>(&from), fromLen);
    }
}

} // namespace pelvox::testserver
