#pragma once
#include "TestServer.h"
#include "TestSupport.h"
#include "core/BitDocument.h"
#include "core/Client_TCPClient.h"
#include <gtest/gtest.h>
#include <mutex>
#include <vector>

namespace pelvox::test {

using testserver::TLoggedPacket;
using testserver::TPortKind;
using testserver::TestServer;

// What the connection handed to its owner.
struct TRecorder {
    struct Packet {
        uint32_t SID;
        uint32_t Reserved1;
        QByteArray Payload;
    };
    mutable std::mutex Lock;
    std::vector<Packet> Packets;
    std::atomic<int> Disconnects{0};

    void Attach(TTCPClient& c)
    {
        c.SetOnRecvData([this](TTCPClient*, const TTCPRECVDATA* d) {
            std::lock_guard l(Lock);
            Packets.push_back({d->SID, d->dwReserved1,
                               QByteArray(reinterpret_cast<const char*>(d->pDataBuffer), qsizetype(d->dwDataSize))});
        });
        c.SetOnDisconnect([this](TTCPClient*) { ++Disconnects; });
    }
    size_t Count() const
    {
        std::lock_guard l(Lock);
        return Packets.size();
    }
    std::vector<Packet> Snapshot() const
    {
        std::lock_guard l(Lock);
        return Packets;
    }
};

inline bool IsHandshake(const TLoggedPacket& p) { return p.Port == TPortKind::Cmd && p.Header.bFlag == TCP_FLAG_HANDSHAKE; }
inline bool IsHeartbeat(const TLoggedPacket& p) { return p.Port == TPortKind::Cmd && p.Header.bFlag == TCP_FLAG_HEARTBEAT; }

// A started test server and a full-mode command connection with short intervals.
class ConnectionTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        CancelTCPConnect.Set(false);
        ASSERT_TRUE(Server.Start());
        Configure(Client);
    }

    void Configure(TTCPClient& c, std::chrono::milliseconds tick = std::chrono::milliseconds(40))
    {
        c.SetServerAddress(QStringLiteral("127.0.0.1"));
        c.SetServerPort(Server.CmdPort());
        c.SetAutoReconnect(true);
        TTCPTimings t;
        t.ManageTick = tick;
        t.ReconnectDelay = std::chrono::milliseconds(20);
        t.ReconnectTimeOut = 1000;
        c.SetTimings(t);
        Recorder.Attach(c);
    }

    static QByteArray Serialised(const TBitDocument& d) { return d.SaveToBytes(); }

    TRecorder Recorder; // outlives the client, whose threads call it
    TestServer Server;
    TTCPClient Client;
};

} // namespace pelvox::test
