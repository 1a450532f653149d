#include "core/Client_TCPClient.h"
#include "core/ZStream.h"
#include "platform/DebugOutput.h"
#include <cerrno>
#include <gtest/gtest.h>

namespace pelvox {
namespace {

TEST(TCPClientFraming, HeartbeatHeaderBytes)
{
    TTCPDATAHEADER h;
    h.bFlag = TCP_FLAG_HEARTBEAT;
    h.SID = 7;
    uint8_t bytes[TCP_HEADER_SIZE];
    h.Encode(bytes);
    const QByteArray expected = QByteArray::fromHex("0207000000") + QByteArray(12, '\0');
    EXPECT_EQ(QByteArray(reinterpret_cast<const char*>(bytes), TCP_HEADER_SIZE), expected);
    const auto back = TTCPDATAHEADER::Decode(bytes);
    EXPECT_EQ(back.bFlag, 2);
    EXPECT_EQ(back.SID, 7u);
}

TEST(TCPClientFraming, SendsInPiecesOfAtMostTheMTU)
{
    struct Case {
        const char* name;
        int accept; // most bytes one call accepts; 0 and -1 fail
        std::vector<int> calls;
        QString failure;
    };
    const Case cases[] = {
        {"all accepted", 100000, {1400, 1400, 1400, 800}, QString()},
        {"partial sends", 1000, {1400, 1400, 1400, 1400, 1000}, QString()},
        {"returns 0", 0, {1400}, QStringLiteral("TCP send error:ret = 0")},
    };
    const std::vector<uint8_t> data(5000);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<int> calls;
        const QString failure = SendInPieces(data.data(), data.size(), 1400, [&](const uint8_t*, int len) {
            calls.push_back(len);
            return std::min(len, c.accept);
        });
        EXPECT_EQ(failure, c.failure);
        EXPECT_EQ(calls, c.calls);
    }
}

TEST(TCPClientFraming, FailureTexts)
{
    EXPECT_EQ(SocketFailureText(false, ErrnoToWinsock(ECONNRESET)), QStringLiteral("TCP recv GetLastError:虚电路被远端复位。"));
    EXPECT_EQ(SocketFailureText(true, ErrnoToWinsock(EPIPE)),
              QStringLiteral("TCP send GetLastError:套接口已被关闭。一个套接口以1或2的how参数调用shutdown()关闭后，无法再用sned()函数。"));
    EXPECT_EQ(SocketFailureText(true, ErrnoToWinsock(ECONNREFUSED)), QStringLiteral("TCP send GetLastError=10061"));
    EXPECT_EQ(SocketFailureText(false, ErrnoToWinsock(EWOULDBLOCK)), QStringLiteral("TCP recv GetLastError:WSAEWOULDBLOCK"));
}

TEST(TCPClientProperties, SettersClampAndDefaults)
{
    TTCPClient c;
    c.SetServerPort(70000);
    c.SetMTUSize(0);
    c.SetHeartbeatInterval(2);
    c.SetLocalPort(-5);
    EXPECT_EQ(c.ServerPort(), 65535);
    EXPECT_EQ(c.MTUSize(), 100);
    EXPECT_EQ(c.HeartbeatInterval(), 5);
    EXPECT_EQ(c.LocalPort(), 0);
    EXPECT_TRUE(c.AutoHeartbeat());
    EXPECT_FALSE(c.AutoReconnect());
    EXPECT_EQ(c.Timings().ManageTick, std::chrono::milliseconds(1000));
}

TEST(ZStream, RoundTripCapAndCorruption)
{
    const QByteArray text = QByteArray("pelvox ").repeated(10000);
    const QByteArray z = ZCompress(text);
    EXPECT_EQ(ZDecompress(z, text.size()).value_or(QByteArray()), text);
    EXPECT_FALSE(ZDecompress(z, text.size() - 1).has_value());
    EXPECT_FALSE(ZDecompress(z.left(z.size() / 2), 1 << 20).has_value());
    EXPECT_FALSE(ZDecompress(QByteArray("not zlib"), 1 << 20).has_value());
}

} // namespace
} // namespace pelvox
