#include "platform/Socket.h"
#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>
#include <algorithm>
#include <map>

namespace pelvox {

namespace {

thread_local int tLastError = 0;

int Fail()
{
    tLastError = ErrnoToWinsock(errno);
    return -1;
}

bool SetIntOption(int fd, int level, int name, int value)
{
    return ::setsockopt(fd, level, name, &value, sizeof value) == 0 || (Fail(), false);
}

bool SetTimeoutOption(int fd, int name, int ms)
{
    timeval tv{ms / 1000, (ms % 1000) * 1000};
    return ::setsockopt(fd, SOL_SOCKET, name, &tv, sizeof tv) == 0 || (Fail(), false);
}

bool FillAddress(const QByteArray& dotted, uint16_t port, sockaddr_in& sa)
{
    sa = {};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    if (dotted.isEmpty()) {
        sa.sin_addr.s_addr = htonl(INADDR_ANY);
        return true;
    }
    return ::inet_pton(AF_INET, dotted.constData(), &sa.sin_addr) == 1;
}

} // namespace

int ErrnoToWinsock(int err)
{
    switch (err) {
    case EINTR: return WSA::EINTR_;
    case EACCES: return WSA::EACCES_;
    case EFAULT: return WSA::EFAULT_;
    case EINVAL: return WSA::EINVAL_;
#if EAGAIN != EWOULDBLOCK
    case EAGAIN:
#endif
    case EWOULDBLOCK: return WSA::EWOULDBLOCK_;
    case EINPROGRESS:
    case EALREADY: return WSA::EINPROGRESS_;
    case EBADF:
    case ENOTSOCK: return WSA::ENOTSOCK_;
    case EMSGSIZE: return WSA::EMSGSIZE_;
    case EOPNOTSUPP: return WSA::EOPNOTSUPP_;
    case EADDRINUSE: return WSA::EADDRINUSE_;
    case ENETDOWN: return WSA::ENETDOWN_;
    case ENETUNREACH: return WSA::ENETUNREACH_;
    case ENETRESET: return WSA::ENETRESET_;
    case ECONNABORTED: return WSA::ECONNABORTED_;
    case ECONNRESET: return WSA::ECONNRESET_;
    case ENOBUFS:
    case ENOMEM: return WSA::ENOBUFS_;
    case ENOTCONN: return WSA::ENOTCONN_;
    case EPIPE:
    case ESHUTDOWN: return WSA::ESHUTDOWN_;
    case ETIMEDOUT: return WSA::ETIMEDOUT_;
    case ECONNREFUSED: return WSA::ECONNREFUSED_;
    case EHOSTUNREACH: return WSA::EHOSTUNREACH_;
    default: return err;
    }
}

QString WinsockErrorText(int code)
{
    static const std::map<int, const char16_t*> texts = {
        {10004, u"通过一个WSACancelBlockingCall()来取消一个（阻塞的）调用。"},
        {10013, u"要求地址为广播地址，但相关标志未能正确设置。"},
        {10014, u"buf参数不在用户地址空间中的有效位置。"},
        {10022, u"套接口未用bind()捆绑。"},
        {10035, u"WSAEWOULDBLOCK"},
        {10036, u"一个阻塞的WINDOWS套接口调用正在运行中。"},
        {10038, u"描述字不是一个套接口。"},
        {10040, u"套接口为SOCK_DGRAM类型，且数据报大于WINDOWS套接口实现所支持的最大值。"},
        {10045, u"已设置了MSG_OOB，但套接口非SOCK_STREAM类型。"},
        {10050, u"WINDOWS套接口实现检测到网络子系统失效。"},
        {10052, u"由于WINDOWS套接口实现放弃了连接，故该连接必需被复位。"},
        {10053, u"由于超时或其他原因引起虚电路的中断。"},
        {10054, u"虚电路被远端复位。"},
        {10055, u"WINDOWS套接口实现报告一个缓冲区死锁。"},
        {10057, u"套接口未被连接。"},
        {10058, u"套接口已被关闭。一个套接口以1或2的how参数调用shutdown()关闭后，无法再用sned()函数。"},
        {10093, u"在使用此API之前应首先成功地调用WSAStartup()。"},
    };
    auto it = texts.find(code);
    return it == texts.end() ? QString() : QString::fromUtf16(it->second);
}

std::optional<QByteArray> ResolveIPv4(const QByteArray& host)
{
    if (host.isEmpty() || host.size() > 255) return std::nullopt;
    in_addr direct{};
    if (::inet_pton(AF_INET, host.constData(), &direct) == 1) return host;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* res = nullptr;
    if (::getaddrinfo(host.constData(), nullptr, &hints, &res) != 0 || !res) return std::nullopt;
    char text[INET_ADDRSTRLEN] = {};
    const auto* sa = reinterpret_cast<const sockaddr_in*>(res->ai_addr);
    const bool ok = ::inet_ntop(AF_INET, &sa->sin_addr, text, sizeof text) != nullptr;
    ::freeaddrinfo(res);
    if (!ok) return std::nullopt;
    return QByteArray(text);
}

TSocket& TSocket::operator=(TSocket&& o) noexcept
{
    if (this != &o) {
        Close();
        FFd = o.FFd;
        o.FFd = -1;
    }
    return *this;
}

TSocket TSocket::CreateTCP()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
    if (fd < 0) Fail();
    return TSocket(fd);
}

bool TSocket::SetReuseAddr(bool on) { return SetIntOption(FFd, SOL_SOCKET, SO_REUSEADDR, on ? 1 : 0); }

bool TSocket::SetLinger(int seconds)
{
    linger l{seconds > 0 ? 1 : 0, seconds > 0 ? seconds : 0};
    return ::setsockopt(FFd, SOL_SOCKET, SO_LINGER, &l, sizeof l) == 0 || (Fail(), false);
}

bool TSocket::SetRecvTimeout(int ms) { return SetTimeoutOption(FFd, SO_RCVTIMEO, ms); }
bool TSocket::SetSendTimeout(int ms) { return SetTimeoutOption(FFd, SO_SNDTIMEO, ms); }
bool TSocket::SetRecvBufferSize(int bytes) { return SetIntOption(FFd, SOL_SOCKET, SO_RCVBUF, bytes); }
bool TSocket::SetSendBufferSize(int bytes) { return SetIntOption(FFd, SOL_SOCKET, SO_SNDBUF, bytes); }
bool TSocket::SetNoDelay(bool on) { return SetIntOption(FFd, IPPROTO_TCP, TCP_NODELAY, on ? 1 : 0); }

bool TSocket::Bind(const QByteArray& dottedAddr, uint16_t port)
{
    sockaddr_in sa;
    if (!FillAddress(dottedAddr, port, sa)) {
        tLastError = WSA::EINVAL_;
        return false;
    }
    return ::bind(FFd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0 || (Fail(), false);
}

bool TSocket::Listen(int backlog) { return ::listen(FFd, backlog) == 0 || (Fail(), false); }

TSocket TSocket::Accept()
{
    for (;;) {
        const int fd = ::accept4(FFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd >= 0) return TSocket(fd);
        if (errno != EINTR) {
            Fail();
            return TSocket();
        }
    }
}

uint16_t TSocket::LocalPort() const
{
    sockaddr_in sa{};
    socklen_t len = sizeof sa;
    if (::getsockname(FFd, reinterpret_cast<sockaddr*>(&sa), &len) != 0) return 0;
    return ntohs(sa.sin_port);
}

bool TSocket::ConnectWithDeadline(const QByteArray& dottedAddr, uint16_t port, std::chrono::steady_clock::time_point deadline,
                                  const std::function<bool()>& cancelled)
{
    sockaddr_in sa;
    if (!FillAddress(dottedAddr, port, sa)) {
        tLastError = WSA::EINVAL_;
        return false;
    }
    const int flags = ::fcntl(FFd, F_GETFL, 0);
    if (flags < 0 || ::fcntl(FFd, F_SETFL, flags | O_NONBLOCK) < 0) return Fail(), false;
    bool ok = ::connect(FFd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0;
    if (!ok && errno != EINPROGRESS) {
        Fail();
    } else if (!ok) {
        // Poll in short slices so a stop flag ends the wait promptly.
        for (;;) {
            if (cancelled && cancelled()) {
                tLastError = WSA::EINTR_;
                break;
            }
            const auto now = std::chrono::steady_clock::now();
            if (now >= deadline) {
                tLastError = WSA::ETIMEDOUT_;
                break;
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count();
            pollfd p{FFd, POLLOUT, 0};
            const int r = ::poll(&p, 1, int(std::clamp<long long>(left, 1, 10)));
            if (r < 0 && errno != EINTR) {
                Fail();
                break;
            }
            if (r > 0) {
                int err = 0;
                socklen_t len = sizeof err;
                ::getsockopt(FFd, SOL_SOCKET, SO_ERROR, &err, &len);
                if (err == 0) ok = true;
                else tLastError = ErrnoToWinsock(err);
                break;
            }
        }
    }
    if (::fcntl(FFd, F_SETFL, flags) < 0) return Fail(), false;
    return ok;
}

int TSocket::Send(const void* buf, int len)
{
    for (;;) {
        const ssize_t r = ::send(FFd, buf, size_t(len), MSG_NOSIGNAL);
        if (r >= 0) return int(r);
        if (errno != EINTR) return Fail();
    }
}

int TSocket::SendNow(const void* buf, int len)
{
    for (;;) {
        const ssize_t r = ::send(FFd, buf, size_t(len), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (r >= 0) return int(r);
        if (errno != EINTR) return Fail();
    }
}

int TSocket::SendParts(const void* head, int headLen, const void* body, int bodyLen)
{
    iovec parts[2] = {{const_cast<void*>(head), size_t(headLen)}, {const_cast<void*>(body), size_t(bodyLen)}};
    msghdr m{};
    m.msg_iov = parts;
    m.msg_iovlen = 2;
    for (;;) {
        const ssize_t r = ::sendmsg(FFd, &m, MSG_NOSIGNAL);
        if (r >= 0) return int(r);
        if (errno != EINTR) return Fail();
    }
}

int TSocket::Recv(void* buf, int len)
{
    for (;;) {
        const ssize_t r = ::recv(FFd, buf, size_t(len), 0);
        if (r >= 0) return int(r);
        if (errno != EINTR) return Fail();
    }
}

void TSocket::Shutdown()
{
    if (FFd >= 0) ::shutdown(FFd, SHUT_RDWR);
}

void TSocket::Close()
{
    if (FFd >= 0) {
        ::close(FFd);
        FFd = -1;
    }
}

int TSocket::LastError() { return tLastError; }

} // namespace pelvox
