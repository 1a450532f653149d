#pragma once
#include "TestP2PService.h"
#include "Fixture.h"
#include "Scheduler.h"
#include "ServerConnection.h"
#include "core/Client_TCPClient.h"
#include <QByteArray>
#include <QString>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <vector>

namespace pelvox {
class TBitDocument;
}

namespace pelvox::testserver {

// How the command and sub-command ports answer handshakes.
enum class THandshakeMode {
    Accept,     // open or resume the session, acceptance byte 1
    Refuse,     // acceptance byte 0
    ShortReply, // a reply with fewer than 17 payload bytes
    Silent,     // no reply at all
};

// One packet the server received, as it arrived.
struct TLoggedPacket {
    int ConnId = 0;
    TPortKind Port = TPortKind::Cmd;
    TTCPDATAHEADER Header;
    QByteArray Payload;  // the raw payload (empty when payload logging is off)
    QString DocName;     // data packets: the document's name (the inner one for a compressed wrapper)
    std::chrono::steady_clock::time_point Time;
};

class TestServer;

// A data packet handed to a command handler.
struct TRequest {
    TestServer* Server = nullptr;
    int ConnId = 0;
    TPortKind Port = TPortKind::Cmd;
    uint32_t SID = 0;
    QString Name;
    QByteArray Document; // the serialised request document (unwrapped)
    bool Compressed = false;

    // The loaded request (null when it does not load), valid during the
    // call; loaded on first use, as most handlers only echo or read the name.
    const TBitDocument* Doc() const;

    // Answers on the request's connection, honouring the answer rules of the
    // request's name (delay, drop). Command port: compressed uses the
    // wrapper document; sub-command port: the whole payload is deflated.
    void Answer(const TBitDocument& doc, bool compressed = false) const;
    void AnswerBytes(const QByteArray& docBytes, bool compressed = false) const;

private:
    mutable std::shared_ptr<TBitDocument> FDoc;
    mutable bool FDocLoaded = false;
};

using THandler = std::function<void(const TRequest&)>;

// Answer rules per request name, for scripting slow or lost answers.
struct TAnswerRule {
    std::chrono::milliseconds Delay{0};
    bool Drop = false;
};

// The local server the integration tests script: command and sub-command
// ports on loopback, with framing, handshakes that open or resume sessions by
// GUID, heartbeats and the compressed wrapper. It runs on threads of its own,
// so tests on the main thread keep running the Qt loop.
class TestServer {
public:
    struct Options {
        QByteArray Host = "127.0.0.1";
        int CmdPort = 0; // 0 picks a free port
        int SubCmdPort = 0;
        int P2PPort = 0;
        int WebPort = 0;
        QString FixtureFile;
    };

    TestServer();
    explicit TestServer(Options options);
    ~TestServer();
    TestServer(const TestServer&) = delete;
    TestServer& operator=(const TestServer&) = delete;

    bool Start(QString* error = nullptr);
    void Stop();

    uint16_t CmdPort() const { return FPorts[0]; }
    uint16_t SubCmdPort() const { return FPorts[1]; }
    uint16_t P2PPort() const { return FP2PPort; }
    // The peer-to-peer service (login answers); null before Start.
    TestP2PService* P2P() const { return FP2P.get(); }
    uint16_t WebPort() const { return FWebPort; }
    QByteArray Host() const { return FOptions.Host; }
    TFixture& Fixture() { return FFixture; }

    // Commands: one handler per port and document name (replaces an earlier one).
    void RegisterHandler(TPortKind port, const QString& name, THandler handler);
    void SetAnswerRule(const QString& name, TAnswerRule rule);
    void ClearAnswerRules();

    void SetHandshakeMode(THandshakeMode mode) { FHandshakeMode = mode; }

    // Scripting. Connection ids come from the log or Connections().
    std::vector<int> Connections(TPortKind port) const; // open ones, oldest first
    int LastConnection(TPortKind port) const;            // 0 when none
    bool SendDocument(int connId, const TBitDocument& doc, bool compressed = false);
    bool SendDocumentBytes(int connId, const QByteArray& docBytes, bool compressed = false);
    uint32_t SendPacket(int connId, uint8_t flag, const QByteArray& payload, uint32_t r1 = 0, uint32_t r2 = 0);
    bool SendRaw(int connId, const QByteArray& bytes);
    void CloseConnection(int connId);
    void CloseAll(TPortKind port);
    void StopListening(TPortKind port);
    bool ResumeListening(TPortKind port);

    // The log of received packets.
    std::vector<TLoggedPacket> Log() const;
    std::vector<TLoggedPacket> Log(const std::function<bool(const TLoggedPacket&)>& pred) const;
    size_t CountPackets(const std::function<bool(const TLoggedPacket&)>& pred) const;
    void ClearLog();
    void SetLogEnabled(bool on) { FLogEnabled = on; }

    // Sessions opened by handshakes, by GUID.
    size_t SessionCount() const;

private:
    friend struct TRequest;
    struct Listener;
    bool Listen(int index, uint16_t port, QString* error);
    void AcceptLoop(Listener& l, TPortKind port);
    void ServeConnection(std::shared_ptr<TServerConnection> conn);
    void HandleHandshake(TServerConnection& conn, const QByteArray& payload);
    void HandleData(TServerConnection& conn, const TTCPDATAHEADER& header, const QByteArray& payload);
    std::shared_ptr<TServerConnection> Find(int connId) const;
    void Deliver(int connId, TPortKind port, const QString& requestName, QByteArray docBytes, bool compressed);
    void PruneFinished();

    Options FOptions;
    TFixture FFixture;
    std::unique_ptr<TScheduler> FScheduler;
    std::unique_ptr<Listener> FListeners[2];
    uint16_t FPorts[2] = {0, 0};
    std::unique_ptr<TestP2PService> FP2P;
    TSocket FWebSocket; // reserved, no service yet
    uint16_t FP2PPort = 0;
    uint16_t FWebPort = 0;

    mutable std::mutex FLock;
    std::map<int, std::shared_ptr<TServerConnection>> FConnections;
    std::vector<std::shared_ptr<TServerConnection>> FRetired;
    int FNextConnId = 1;
    std::map<std::pair<TPortKind, QString>, THandler> FHandlers;
    std::map<QString, TAnswerRule> FAnswerRules;
    std::set<TSessionGUID> FSessions;
    std::vector<TLoggedPacket> FLog;
    std::atomic<THandshakeMode> FHandshakeMode{THandshakeMode::Accept};
    std::atomic<bool> FLogEnabled{true};
    std::atomic<bool> FStopping{false};
};

} // namespace pelvox::testserver
