#pragma once
#include <QByteArray>
#include <QString>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>

namespace pelvox {

// Winsock error codes the connection code reports; POSIX errno values are
// mapped onto them so the failure texts stay those of the original client.
namespace WSA {
constexpr int EINTR_ = 10004;
constexpr int EACCES_ = 10013;
constexpr int EFAULT_ = 10014;
constexpr int EINVAL_ = 10022;
constexpr int EWOULDBLOCK_ = 10035;
constexpr int EINPROGRESS_ = 10036;
constexpr int ENOTSOCK_ = 10038;
constexpr int EMSGSIZE_ = 10040;
constexpr int EOPNOTSUPP_ = 10045;
constexpr int EADDRINUSE_ = 10048;
constexpr int ENETDOWN_ = 10050;
constexpr int ENETUNREACH_ = 10051;
constexpr int ENETRESET_ = 10052;
constexpr int ECONNABORTED_ = 10053;
constexpr int ECONNRESET_ = 10054;
constexpr int ENOBUFS_ = 10055;
constexpr int ENOTCONN_ = 10057;
constexpr int ESHUTDOWN_ = 10058;
constexpr int ETIMEDOUT_ = 10060;
constexpr int ECONNREFUSED_ = 10061;
constexpr int EHOSTUNREACH_ = 10065;
constexpr int NOTINITIALISED_ = 10093;
} // namespace WSA

// The Winsock code for a POSIX errno (codes without a counterpart pass through).
int ErrnoToWinsock(int err);
// The text the client writes for a Winsock code; empty when the code has none.
QString WinsockErrorText(int code);

// Resolves a host name or dotted address to its first IPv4 address, as dotted
// text. Names longer than 255 characters never resolve.
std::optional<QByteArray> ResolveIPv4(const QByteArray& host);

// A TCP socket handle with the calls the connections make. Results follow the
// Winsock shape: byte counts, 0 when the peer closed, -1 on error with
// LastError() holding the Winsock code. Shutdown may be called from another
// thread to end a blocking call; Close only once no other thread uses it.
class TSocket {
public:
    TSocket() = default;
    explicit TSocket(int fd) : FFd(fd) {}
    ~TSocket() { Close(); }
    TSocket(TSocket&& o) noexcept : FFd(o.FFd) { o.FFd = -1; }
    TSocket& operator=(TSocket&& o) noexcept;
    TSocket(const TSocket&) = delete;
    TSocket& operator=(const TSocket&) = delete;

    static TSocket CreateTCP();
    bool Valid() const { return FFd >= 0; }
    int Handle() const { return FFd; }

    bool SetReuseAddr(bool on);
    bool SetLinger(int seconds); // off when seconds <= 0
    bool SetRecvTimeout(int ms);
    bool SetSendTimeout(int ms);
    bool SetRecvBufferSize(int bytes);
    bool SetSendBufferSize(int bytes);
    bool SetNoDelay(bool on);

    bool Bind(const QByteArray& dottedAddr, uint16_t port);
    bool Listen(int backlog = 64);
    TSocket Accept();
    uint16_t LocalPort() const;

    // Connects without blocking past the deadline; gives up at once when
    // cancelled() turns true (checked every few milliseconds).
    bool ConnectWithDeadline(const QByteArray& dottedAddr, uint16_t port, std::chrono::steady_clock::time_point deadline,
                             const std::function<bool()>& cancelled);

    int Send(const void* buf, int len);
    // Send without waiting for buffer space: -1 with EWOULDBLOCK_ when none.
    int SendNow(const void* buf, int len);
    // One send of two blocks back to back (no copy to join them); Send's results.
    int SendParts(const void* head, int headLen, const void* body, int bodyLen);
    int Recv(void* buf, int len);
    void Shutdown();
    void Close();

    static int LastError(); // Winsock code of the calling thread's last failure

private:
    int FFd = -1;
};

} // namespace pelvox
