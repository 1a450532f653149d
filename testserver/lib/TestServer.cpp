#include "TestServer.h"
#include "ServerDocuments.h"
#include "core/ZStream.h"
#include <QUuid>
#include <netinet/in.h>
#include <sys/socket.h>
#include <algorithm>
#include <cstring>
#include <thread>

namespace pelvox::testserver {

namespace {

constexpr uint32_t kMaxPacket = TCP_MAX_DATA_SIZE;

TSessionGUID NewSessionGUID()
{
    const QByteArray raw = QUuid::createUuid().toRfc4122();
    TSessionGUID g{};
    std::memcpy(g.data(), raw.constData(), g.size());
    return g;
}

bool IsZero(const TSessionGUID& g)
{
    return std::all_of(g.begin(), g.end(), [](uint8_t b) { return b == 0; });
}

} // namespace

struct TestServer::Listener {
    TSocket Socket;
    std::thread Thread;
    std::atomic<bool> Stopping{false};

    void Stop()
    {
        Stopping = true;
        Socket.Shutdown();
        if (Thread.joinable()) Thread.join();
        Socket.Close();
    }
};

const TBitDocument* TRequest::Doc() const
{
    if (!FDocLoaded) {
        FDoc = LoadDocument(Document);
        FDocLoaded = true;
    }
    return FDoc.get();
}

void TRequest::Answer(const TBitDocument& doc, bool compressed) const { AnswerBytes(SaveDocument(doc), compressed); }

void TRequest::AnswerBytes(const QByteArray& docBytes, bool compressed) const
{
    Server->Deliver(ConnId, Port, Name, docBytes, compressed);
}

TestServer::TestServer() : TestServer(Options()) {}

TestServer::TestServer(Options options) : FOptions(std::move(options)) {}

TestServer::~TestServer() { Stop(); }

bool TestServer::Start(QString* error)
{
    if (!FOptions.FixtureFile.isEmpty() && !FFixture.Load(FOptions.FixtureFile, error)) return false;
    FStopping = false;
    FScheduler = std::make_unique<TScheduler>();
    if (!Listen(0, uint16_t(FOptions.CmdPort), error) || !Listen(1, uint16_t(FOptions.SubCmdPort), error)) {
        Stop();
        return false;
    }
    // The web port is reserved for the service that comes later.
    FP2P = std::make_unique<TestP2PService>();
    FWebSocket = TSocket::CreateTCP();
    FWebSocket.SetReuseAddr(true);
    if (!FP2P->Start(FOptions.Host, uint16_t(FOptions.P2PPort)) ||
        !FWebSocket.Bind(FOptions.Host, uint16_t(FOptions.WebPort)) || !FWebSocket.Listen()) {
        if (error) *error = QStringLiteral("cannot bind the peer-to-peer or web port");
        Stop();
        return false;
    }
    FP2PPort = FP2P->Port();
    FWebPort = FWebSocket.LocalPort();
    return true;
}

void TestServer::Stop()
{
    FStopping = true;
    for (auto& l : FListeners)
        if (l) {
            l->Stop();
            l.reset();
        }
    if (FScheduler) FScheduler->Stop();
    std::vector<std::shared_ptr<TServerConnection>> conns;
    {
        std::lock_guard l(FLock);
        for (auto& [id, c] : FConnections) conns.push_back(c);
        FConnections.clear();
        for (auto& c : FRetired) conns.push_back(c);
        FRetired.clear();
    }
    for (auto& c : conns) c->Close();
    for (auto& c : conns)
        if (c->Reader.joinable()) c->Reader.join();
    conns.clear();
    FScheduler.reset();
    if (FP2P) FP2P->Stop();
    FWebSocket.Close();
}

bool TestServer::Listen(int index, uint16_t port, QString* error)
{
    auto l = std::make_unique<Listener>();
    l->Socket = TSocket::CreateTCP();
    l->Socket.SetReuseAddr(true);
    if (!l->Socket.Bind(FOptions.Host, port) || !l->Socket.Listen()) {
        if (error) *error = QStringLiteral("cannot listen on %1:%2").arg(QString::fromLatin1(FOptions.Host)).arg(port);
        return false;
    }
    FPorts[index] = l->Socket.LocalPort();
    l->Thread = std::thread([this, index, lp = l.get()] { AcceptLoop(*lp, index == 0 ? TPortKind::Cmd : TPortKind::SubCmd); });
    FListeners[index] = std::move(l);
    return true;
}

void TestServer::StopListening(TPortKind port)
{
    auto& l = FListeners[port == TPortKind::Cmd ? 0 : 1];
    if (l) {
        l->Stop();
        l.reset();
    }
}

bool TestServer::ResumeListening(TPortKind port)
{
    const int index = port == TPortKind::Cmd ? 0 : 1;
    if (FListeners[index]) return true;
    return Listen(index, FPorts[index], nullptr);
}

void TestServer::AcceptLoop(Listener& l, TPortKind port)
{
    for (;;) {
        TSocket s = l.Socket.Accept();
        if (l.Stopping) return;
        if (!s.Valid()) {
            std::this_thread::yield();
            continue;
        }
        PruneFinished();
        std::shared_ptr<TServerConnection> conn;
        {
            std::lock_guard g(FLock);
            conn = std::make_shared<TServerConnection>(FNextConnId++, port, std::move(s));
            FConnections[conn->Id()] = conn;
        }
        conn->Reader = std::thread([this, conn] { ServeConnection(conn); });
    }
}

void TestServer::PruneFinished()
{
    std::vector<std::shared_ptr<TServerConnection>> done;
    {
        std::lock_guard l(FLock);
        auto it = std::remove_if(FRetired.begin(), FRetired.end(), [](const auto& c) { return c->Finished.load(); });
        done.assign(std::make_move_iterator(it), std::make_move_iterator(FRetired.end()));
        FRetired.erase(it, FRetired.end());
    }
    for (auto& c : done)
        if (c->Reader.joinable()) c->Reader.join();
}

void TestServer::ServeConnection(std::shared_ptr<TServerConnection> conn)
{
    TTCPDATAHEADER header;
    QByteArray payload;
    while (!FStopping && conn->ReadPacket(header, payload, kMaxPacket)) {
        TLoggedPacket entry;
        entry.ConnId = conn->Id();
        entry.Port = conn->Port();
        entry.Header = header;
        entry.Time = std::chrono::steady_clock::now();
        QByteArray docBytes;
        bool compressed = false;
        QString name;
        if (header.bFlag == TCP_FLAG_DATA) {
            compressed = header.dwReserved1 == 1 && conn->Port() == TPortKind::Cmd;
            if (compressed) docBytes = UnwrapCompressed(payload).value_or(QByteArray());
            else if (header.dwReserved1 == 0) docBytes = payload;
            name = DocumentName(docBytes);
        }
        if (FLogEnabled) {
            entry.DocName = name;
            entry.Payload = payload;
            std::lock_guard l(FLock);
            FLog.push_back(std::move(entry));
        }
        switch (header.bFlag) {
        case TCP_FLAG_HANDSHAKE: HandleHandshake(*conn, payload); break;
        case TCP_FLAG_DATA:
            if (!docBytes.isEmpty()) {
                THandler handler;
                {
                    std::lock_guard l(FLock);
                    auto it = FHandlers.find({conn->Port(), name});
                    if (it != FHandlers.end()) handler = it->second;
                }
                if (handler) {
                    TRequest req;
                    req.Server = this;
                    req.ConnId = conn->Id();
                    req.Port = conn->Port();
                    req.SID = header.SID;
                    req.Name = name;
                    req.Document = docBytes;
                    req.Compressed = compressed;
                    handler(req);
                }
            }
            break;
        default: break; // heartbeats keep the connection alive; nothing to answer
        }
    }
    conn->Close();
    {
        std::lock_guard l(FLock);
        if (FConnections.erase(conn->Id())) FRetired.push_back(conn);
    }
    conn->Finished = true;
}

void TestServer::HandleHandshake(TServerConnection& conn, const QByteArray& payload)
{
    const THandshakeMode mode = FHandshakeMode;
    if (mode == THandshakeMode::Silent) return;
    if (mode == THandshakeMode::ShortReply) {
        conn.SendPacket(TCP_FLAG_HANDSHAKE, QByteArray(10, '\0'));
        return;
    }
    TSessionGUID guid{};
    if (payload.size() >= TCP_HANDSHAKE_SIZE) std::memcpy(guid.data(), payload.constData(), guid.size());
    const bool accept = mode == THandshakeMode::Accept && payload.size() >= TCP_HANDSHAKE_SIZE;
    if (accept) {
        std::lock_guard l(FLock);
        // A GUID the server does not know (or zero) opens a new session.
        if (IsZero(guid) || !FSessions.count(guid)) {
            guid = NewSessionGUID();
            FSessions.insert(guid);
        }
    }
    conn.SetSession(guid);
    QByteArray reply(reinterpret_cast<const char*>(guid.data()), int(guid.size()));
    reply.append(char(accept ? 1 : 0));
    conn.SendPacket(TCP_FLAG_HANDSHAKE, reply);
}

void TestServer::Deliver(int connId, TPortKind port, const QString& requestName, QByteArray docBytes, bool compressed)
{
    TAnswerRule rule;
    {
        std::lock_guard l(FLock);
        auto it = FAnswerRules.find(requestName);
        if (it != FAnswerRules.end()) rule = it->second;
    }
    if (rule.Drop) return;
    auto send = [this, connId, docBytes = std::move(docBytes), compressed] {
        SendDocumentBytes(connId, docBytes, compressed);
    };
    if (rule.Delay.count() > 0 && FScheduler) FScheduler->RunAfter(rule.Delay, std::move(send));
    else send();
}

void TestServer::RegisterHandler(TPortKind port, const QString& name, THandler handler)
{
    std::lock_guard l(FLock);
    FHandlers[{port, name}] = std::move(handler);
}

void TestServer::SetAnswerRule(const QString& name, TAnswerRule rule)
{
    std::lock_guard l(FLock);
    FAnswerRules[name] = rule;
}

void TestServer::ClearAnswerRules()
{
    std::lock_guard l(FLock);
    FAnswerRules.clear();
}

std::shared_ptr<TServerConnection> TestServer::Find(int connId) const
{
    std::lock_guard l(FLock);
    auto it = FConnections.find(connId);
    return it == FConnections.end() ? nullptr : it->second;
}

std::vector<int> TestServer::Connections(TPortKind port) const
{
    std::lock_guard l(FLock);
    std::vector<int> ids;
    for (const auto& [id, c] : FConnections)
        if (c->Port() == port && !c->Closed()) ids.push_back(id);
    return ids;
}

int TestServer::LastConnection(TPortKind port) const
{
    const auto ids = Connections(port);
    return ids.empty() ? 0 : ids.back();
}

bool TestServer::SendDocument(int connId, const TBitDocument& doc, bool compressed)
{
    return SendDocumentBytes(connId, SaveDocument(doc), compressed);
}

bool TestServer::SendDocumentBytes(int connId, const QByteArray& docBytes, bool compressed)
{
    auto c = Find(connId);
    if (!c) return false;
    if (!compressed) return c->SendPacket(TCP_FLAG_DATA, docBytes) != 0;
    if (c->Port() == TPortKind::Cmd) return c->SendPacket(TCP_FLAG_DATA, WrapCompressed(docBytes), 1) != 0;
    return c->SendPacket(TCP_FLAG_DATA, ZCompress(docBytes), 1) != 0;
}

uint32_t TestServer::SendPacket(int connId, uint8_t flag, const QByteArray& payload, uint32_t r1, uint32_t r2)
{
    auto c = Find(connId);
    return c ? c->SendPacket(flag, payload, r1, r2) : 0;
}

bool TestServer::SendRaw(int connId, const QByteArray& bytes)
{
    auto c = Find(connId);
    return c && c->SendRaw(bytes);
}

void TestServer::CloseConnection(int connId)
{
    if (auto c = Find(connId)) c->Close();
}

void TestServer::CloseAll(TPortKind port)
{
    for (int id : Connections(port)) CloseConnection(id);
}

std::vector<TLoggedPacket> TestServer::Log() const
{
    std::lock_guard l(FLock);
    return FLog;
}

std::vector<TLoggedPacket> TestServer::Log(const std::function<bool(const TLoggedPacket&)>& pred) const
{
    std::vector<TLoggedPacket> out;
    std::lock_guard l(FLock);
    for (const auto& p : FLog)
        if (pred(p)) out.push_back(p);
    return out;
}

size_t TestServer::CountPackets(const std::function<bool(const TLoggedPacket&)>& pred) const
{
    std::lock_guard l(FLock);
    return size_t(std::count_if(FLog.begin(), FLog.end(), pred));
}

void TestServer::ClearLog()
{
    std::lock_guard l(FLock);
    FLog.clear();
}

size_t TestServer::SessionCount() const
{
    std::lock_guard l(FLock);
    return FSessions.size();
}

} // namespace pelvox::testserver
