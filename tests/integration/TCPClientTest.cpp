#include "ConnectionFixture.h"
#include "core/Client_MainCmdData.h"
#include "core/ZStream.h"
#include "platform/DebugOutput.h"
#include <thread>

namespace pelvox::test {
namespace {

using namespace std::chrono_literals;

std::vector<TLoggedPacket> CmdLog(const TestServer& s)
{
    return s.Log([](const TLoggedPacket& p) { return p.Port == TPortKind::Cmd; });
}

QByteArray WireBytes(const TLoggedPacket& p)
{
    QByteArray bytes(TCP_HEADER_SIZE, '\0');
    p.Header.Encode(reinterpret_cast<uint8_t*>(bytes.data()));
    return bytes + p.Payload;
}

TEST_F(ConnectionTest, HandshakeDataHeartbeatAndReconnectKeepOneNumbering)
{
    ASSERT_TRUE(Client.Connect(2000));
    ASSERT_TRUE(RunLoopUntil([&] { return Server.CountPackets(IsHandshake) == 1; }));
    {
        DebugOutputCapture capture;
        Client.SetServerPort(1);
        EXPECT_EQ(Client.ServerPort(), Server.CmdPort());
        EXPECT_TRUE(capture.Contains(QStringLiteral("can not write value while tcp is running")));
    }

    // The first packet of a new connection object: a new session, reconnection on.
    QByteArray expected = QByteArray::fromHex("0101000000110000000000000000000000");
    expected += QByteArray(16, '\0') + QByteArray(1, '\1');
    EXPECT_EQ(WireBytes(CmdLog(Server).front()), expected);
    const TSessionGUID guid = Client.SessionID();
    EXPECT_NE(guid, TSessionGUID{});

    // A payload of several pieces arrives whole.
    QByteArray big(5000, '\0');
    for (int i = 0; i < big.size(); ++i) big[i] = char(i * 7);
    EXPECT_EQ(Client.SendData(big.constData(), uint32_t(big.size()), 3, 4), 2u);
    ASSERT_TRUE(RunLoopUntil([&] { return Server.CountPackets([](auto& p) { return p.Header.bFlag == 0; }) == 1; }));
    ASSERT_TRUE(RunLoopUntil([&] { return Server.CountPackets(IsHeartbeat) >= 1; }));

    // The server drops the connection: the client resumes the session quietly.
    Server.CloseAll(TPortKind::Cmd);
    ASSERT_TRUE(RunLoopUntil([&] { return Server.CountPackets(IsHandshake) == 2 && Client.Connected(); }));
    const uint32_t sid = Client.SendData("x", 1, 0, 0);
    ASSERT_TRUE(RunLoopUntil([&] { return Server.CountPackets([](auto& p) { return p.Header.bFlag == 0; }) == 2; }));
    EXPECT_EQ(Recorder.Disconnects, 0);
    EXPECT_EQ(Client.SessionID(), guid);
    EXPECT_EQ(Server.SessionCount(), 1u);

    const auto log = CmdLog(Server);
    const auto handshakes = Server.Log(IsHandshake);
    EXPECT_EQ(handshakes[1].Payload, QByteArray(reinterpret_cast<const char*>(guid.data()), 16) + QByteArray(1, '\1'));
    const auto data = Server.Log([](auto& p) { return p.Header.bFlag == 0; });
    EXPECT_EQ(data[0].Payload, big);
    EXPECT_EQ(data[0].Header.dwReserved1, 3u);
    EXPECT_EQ(data[0].Header.dwReserved2, 4u);
    EXPECT_EQ(data[1].Header.SID, sid);
    // Every packet took the next number, across heartbeats and the reconnection.
    for (size_t i = 0; i < log.size(); ++i) EXPECT_EQ(log[i].Header.SID, uint32_t(i + 1)) << i;
}

TEST_F(ConnectionTest, FailedConnectsLeaveNothingBehind)
{
    struct Case {
        const char* name;
        std::function<void()> arrange;
    };
    const Case cases[] = {
        {"refused", [&] { Server.SetHandshakeMode(testserver::THandshakeMode::Refuse); }},
        {"short reply", [&] { Server.SetHandshakeMode(testserver::THandshakeMode::ShortReply); }},
        {"silent", [&] { Server.SetHandshakeMode(testserver::THandshakeMode::Silent); }},
        {"not listening", [&] { Server.StopListening(TPortKind::Cmd); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        c.arrange();
        EXPECT_FALSE(Client.Connect(300));
        EXPECT_FALSE(Client.Connected());
        EXPECT_EQ(Client.SocketHandle(), -1);
        EXPECT_EQ(Client.ThreadCount(), 0);
        EXPECT_TRUE(RunLoopUntil([&] { return Server.Connections(TPortKind::Cmd).empty(); }));
    }
    EXPECT_EQ(Recorder.Disconnects, 0);
}

TEST_F(ConnectionTest, CancelEndsTheHandshakeWait)
{
    Server.SetHandshakeMode(testserver::THandshakeMode::Silent);
    std::atomic<bool> done{false};
    bool result = true;
    std::thread connecting([&] {
        result = Client.Connect(60000);
        done = true;
        UIThread::Wake();
    });
    ASSERT_TRUE(RunLoopUntil([&] { return Server.CountPackets(IsHandshake) == 1; }));
    CancelTCPConnect.Set(true);
    const bool ended = RunLoopUntil([&] { return done.load(); }, 5s);
    connecting.join();
    CancelTCPConnect.Set(false);
    EXPECT_TRUE(ended);
    EXPECT_FALSE(result);
    EXPECT_EQ(Client.ThreadCount(), 0);
}

TEST_F(ConnectionTest, HeartbeatsFollowTheInterval)
{
    // Ticks of 40 ms stand in for the one-second tick.
    for (int interval : {5, 10}) {
        SCOPED_TRACE(interval);
        TRecorder recorder;
        TTCPClient client;
        Configure(client);
        recorder.Attach(client);
        client.SetHeartbeatInterval(interval);
        Server.ClearLog();
        ASSERT_TRUE(client.Connect(2000));
        ASSERT_TRUE(RunLoopUntil([&] { return Server.CountPackets(IsHeartbeat) >= 4; }));
        client.Disconnect();
        const auto beats = Server.Log(IsHeartbeat);
        const auto expected = 40ms * interval;
        for (size_t i = 1; i < 4; ++i) {
            const auto gap = beats[i].Time - beats[i - 1].Time;
            EXPECT_GT(gap, expected / 2);
            EXPECT_LT(gap, expected * 2);
        }
    }
    Client.SetAutoHeartbeat(false);
    Server.ClearLog();
    ASSERT_TRUE(Client.Connect(2000));
    RunLoopFor(40ms * 12);
    EXPECT_EQ(Server.CountPackets(IsHeartbeat), 0u);
}

TEST_F(ConnectionTest, LostServerIsReportedOnceAndTheSessionForgotten)
{
    ASSERT_TRUE(Client.Connect(2000));
    Server.StopListening(TPortKind::Cmd);
    Server.CloseAll(TPortKind::Cmd);
    ASSERT_TRUE(RunLoopUntil([&] { return Recorder.Disconnects == 1; }));
    RunLoopFor(200ms); // a few more ticks: no second report
    EXPECT_EQ(Recorder.Disconnects, 1);
    EXPECT_FALSE(Client.Connected());
    EXPECT_EQ(Client.SessionID(), TSessionGUID{});

    ASSERT_TRUE(Server.ResumeListening(TPortKind::Cmd));
    ASSERT_TRUE(Client.Connect(2000));
    const auto handshakes = Server.Log(IsHandshake);
    EXPECT_EQ(handshakes.back().Payload, QByteArray(16, '\0') + QByteArray(1, '\1'));
}

TEST_F(ConnectionTest, ServerPacketsReachTheOwnerOnlyAsData)
{
    ASSERT_TRUE(Client.Connect(2000));
    const int conn = Server.LastConnection(TPortKind::Cmd);
    TBitDocument inner(QStringLiteral("Server:Push"));
    inner.Root()->AddStringNode(QStringLiteral("text"), QStringLiteral("你好"));

    Server.SendPacket(conn, TCP_FLAG_HEARTBEAT, QByteArray());
    Server.SendPacket(conn, 7, QByteArray("ignored"));
    Server.SendDocument(conn, inner, true);
    Server.SendPacket(conn, TCP_FLAG_DATA, QByteArray("not a wrapper"), 1);
    Server.SendPacket(conn, TCP_FLAG_DATA, QByteArray()); // empty payload, delivered as such
    ASSERT_TRUE(RunLoopUntil([&] { return Recorder.Count() == 3; }));
    RunLoopFor(50ms);
    const auto got = Recorder.Snapshot();
    ASSERT_EQ(got.size(), 3u);

    struct Expect {
        bool readable;
        QString name;
    };
    const Expect expect[] = {{true, QStringLiteral("Server:Push")}, {false, {}}, {false, {}}};
    for (size_t i = 0; i < got.size(); ++i) {
        TTCPRECVDATA d{got[i].SID, uint32_t(got[i].Payload.size()),
                       reinterpret_cast<const uint8_t*>(got[i].Payload.constData()), got[i].Reserved1, 0};
        auto doc = LoadMainCmdDocument(d);
        EXPECT_EQ(bool(doc), expect[i].readable) << i;
        if (doc) {
            EXPECT_EQ(doc->Name(), expect[i].name);
            EXPECT_EQ(doc->ReadString(u"text"), QStringLiteral("你好"));
        }
    }
    EXPECT_TRUE(got[2].Payload.isEmpty());

    // A header announcing 4 GB fails the socket; the connection comes back.
    QByteArray huge(TCP_HEADER_SIZE, '\0');
    TTCPDATAHEADER h;
    h.dwDataSize = 0xFFFFFFFFu;
    h.Encode(reinterpret_cast<uint8_t*>(huge.data()));
    Server.SendRaw(conn, huge);
    ASSERT_TRUE(RunLoopUntil([&] { return Server.CountPackets(IsHandshake) == 2 && Client.Connected(); }));
    EXPECT_EQ(Recorder.Disconnects, 0);
}

TEST_F(ConnectionTest, ClientWrapperIsReadByTheServer)
{
    ASSERT_TRUE(Client.Connect(2000));
    TBitDocument doc(QStringLiteral("Users.GetUserInfo"));
    doc.Root()->AddStringNode(QStringLiteral("useridorname"), QStringLiteral("10001"));
    uint32_t r1 = 0;
    const QByteArray payload = BuildMainCmdPayload(doc, true, r1);
    Client.SendData(payload.constData(), uint32_t(payload.size()), r1, 0);
    ASSERT_TRUE(RunLoopUntil([&] { return Server.CountPackets([](auto& p) { return p.Header.bFlag == 0; }) == 1; }));
    const auto data = Server.Log([](auto& p) { return p.Header.bFlag == 0; });
    EXPECT_EQ(data[0].Header.dwReserved1, 1u);
    EXPECT_EQ(data[0].DocName, QStringLiteral("Users.GetUserInfo"));
}

TEST_F(ConnectionTest, RepeatedConnectAndDisconnect)
{
    for (int i = 0; i < 100; ++i) {
        ASSERT_TRUE(Client.Connect(2000)) << i;
        Client.SendData("ping", 4, 0, 0);
        Client.Disconnect();
        ASSERT_EQ(Client.ThreadCount(), 0);
    }
    EXPECT_EQ(Recorder.Disconnects, 0);
}

} // namespace
} // namespace pelvox::test
