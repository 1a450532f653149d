#include "core/Client_TCPClient.h"
#include "core/Client_BugReport.h"
#include "platform/DebugOutput.h"
#include <QtEndian>
#include <algorithm>
#include <new>

namespace pelvox {

TStopFlag CancelTCPConnect;

namespace {

const QString kModule = QStringLiteral("Core.bpl");
const QString kUnit = QStringLiteral("Client_TCPClient");

// Payloads up to this size may be written by the caller itself (see
// DirectSend): the wake-up it spares is most of the cost of a small packet,
// while a large one would mostly wait for buffer space anyway.
constexpr uint32_t kDirectSendLimit = 8 * 1024;

// The connection whose transfer or manage thread the calling thread is.
thread_local const TTCPClient* tTransferThreadOf = nullptr;
thread_local const TTCPClient* tManageThreadOf = nullptr;

template <typename Fn>
bool Guarded(const QString& method, Fn&& body, const QString& position = QString())
{
    return GuardedCall(kModule, kUnit, method, std::forward<Fn>(body), position);
}

} // namespace

void TTCPDATAHEADER::Encode(uint8_t* out) const
{
    out[0] = bFlag;
    qToLittleEndian<uint32_t>(SID, out + 1);
    qToLittleEndian<uint32_t>(dwDataSize, out + 5);
    qToLittleEndian<uint32_t>(dwReserved1, out + 9);
    qToLittleEndian<uint32_t>(dwReserved2, out + 13);
}

TTCPDATAHEADER TTCPDATAHEADER::Decode(const uint8_t* in)
{
    TTCPDATAHEADER h;
    h.bFlag = in[0];
    h.SID = qFromLittleEndian<uint32_t>(in + 1);
    h.dwDataSize = qFromLittleEndian<uint32_t>(in + 5);
    h.dwReserved1 = qFromLittleEndian<uint32_t>(in + 9);
    h.dwReserved2 = qFromLittleEndian<uint32_t>(in + 13);
    return h;
}

QString SocketFailureText(bool sending, int winsockCode)
{
    const QString text = WinsockErrorText(winsockCode);
    if (!text.isEmpty())
        return (sending ? QStringLiteral("TCP send GetLastError:") : QStringLiteral("TCP recv GetLastError:")) + text;
    return (sending ? QStringLiteral("TCP send GetLastError=") : QStringLiteral("TCP recv GetLastError=")) +
           QString::number(winsockCode);
}

QString SendInPieces(const uint8_t* data, size_t len, int mtu, const TSendCall& send, size_t* sent)
{
    size_t done = 0;
    QString failure;
    while (done < len) {
        const int piece = int(std::min<size_t>(len - done, size_t(mtu)));
        const int r = send(data + done, piece);
        if (r == 0) {
            failure = QStringLiteral("TCP send error:ret = 0");
            break;
        }
        if (r < 0) {
            failure = SocketFailureText(true, TSocket::LastError());
            break;
        }
        done += size_t(std::min(r, piece));
    }
    if (sent) *sent = done;
    return failure;
}

// ---------------------------------------------------------------------------

TTCPClient::TTCPClient() = default;

TTCPClient::~TTCPClient()
{
    Disconnect();
}

bool TTCPClient::CanWrite() const
{
    if (!FConnected) return true;
    DebugOutput(QStringLiteral("can not write value while tcp is running"));
    return false;
}

void TTCPClient::SetServerAddress(const QString& v)
{
    if (CanWrite()) FServerAddress = v;
}
void TTCPClient::SetServerPort(int v)
{
    if (CanWrite()) FServerPort = std::clamp(v, 0, 65535);
}
void TTCPClient::SetLocalPort(int v)
{
    if (CanWrite()) FLocalPort = std::clamp(v, 0, 65535);
}
void TTCPClient::SetThinMode(bool v)
{
    if (CanWrite()) FThinMode = v;
}
void TTCPClient::SetUseComInThread(bool v)
{
    if (CanWrite()) FUseComInThread = v; // no COM here; kept for the owner's settings
}
void TTCPClient::SetAutoReconnect(bool v)
{
    if (CanWrite()) FAutoReconnect = v;
}
void TTCPClient::SetMTUSize(int v)
{
    if (CanWrite()) FMTUSize = std::max(v, 100);
}
void TTCPClient::SetAutoHeartbeat(bool v)
{
    if (CanWrite()) FAutoHeartbeat = v;
}
void TTCPClient::SetHeartbeatInterval(int v)
{
    if (CanWrite()) FHeartbeatInterval = std::max(v, 5);
}
void TTCPClient::SetTimings(const TTCPTimings& v)
{
    if (CanWrite()) FTimings = v;
}

void TTCPClient::SetConnected(bool v)
{
    if (v == FConnected) return;
    if (v) Connect(15000);
    else Disconnect();
}

TSessionGUID TTCPClient::SessionID() const
{
    std::lock_guard l(FStateLock);
    return FSessionID;
}

QByteArray TTCPClient::ServerIPAddr() const
{
    std::lock_guard l(FStateLock);
    return FServerIPAddr;
}

int TTCPClient::ThreadCount() const
{
    return int(bool(FRecvThread)) + int(bool(FProcessThread)) + int(bool(FSendThread)) + int(bool(FManageThread));
}

bool TTCPClient::OnOwnTransferThread() const
{
    return tTransferThreadOf == this;
}

bool TTCPClient::Connect(int ATimeOut)
{
    bool result = false;
    Guarded(QStringLiteral("TTCPClient.Connect"), [&] { result = DoConnect(ATimeOut); });
    return result;
}

bool TTCPClient::DoConnect(int ATimeOut)
{
    if (FConnected) return true;
    if (OnOwnTransferThread()) {
        DebugOutput(QStringLiteral("TTCPClient.Connect called on its own transfer thread"));
        return false;
    }
    DisconnectInternal();

    const auto ip = ResolveIPv4(FServerAddress.toUtf8());
    if (!ip) return false;
    {
        std::lock_guard l(FStateLock);
        FServerIPAddr = *ip;
    }

    TSocket sock = TSocket::CreateTCP();
    if (!sock.Valid()) {
        DebugOutput(QStringLiteral("create socket failed"));
        return false;
    }
    struct Option {
        bool enabled;
        std::function<bool()> apply;
        const char* failure;
    };
    const Option options[] = {
        {true, [&] { return sock.SetReuseAddr(FReuseAddr); }, "set socket reuseaddr failed"},
        {true, [&] { return sock.SetLinger(FLinger); }, "set socket linger failed"},
        {true, [&] { return sock.SetRecvTimeout(0); }, "set recv timeout failed"},
        {true, [&] { return sock.SetSendTimeout(0); }, "set send timeout failed"},
        {FRecvBufferEnabled, [&] { return sock.SetRecvBufferSize(FRecvBufferSize); }, "setsockopt recv buffer failed"},
        {FSendBufferEnabled, [&] { return sock.SetSendBufferSize(FSendBufferSize); }, "setsockopt send buffer failed"},
        {true, [&] { return sock.SetNoDelay(true); }, "setsockopt nodelay failed"},
    };
    for (const auto& o : options) {
        if (o.enabled && !o.apply()) {
            DebugOutput(QString::fromLatin1(o.failure));
            return false;
        }
    }
    if (!sock.Bind(QByteArray(), uint16_t(FLocalPort))) {
        DebugOutput(QStringLiteral("bind socket failed"));
        return false;
    }
    const auto stopped = [this] {
        return CancelTCPConnect.IsSet() || FStopping.load() || (FCancelFlag && FCancelFlag->IsSet());
    };
    const auto timeout = std::chrono::milliseconds(std::max(ATimeOut, 0) + 1);
    if (!sock.ConnectWithDeadline(*ip, uint16_t(FServerPort), Clock::now() + timeout, stopped)) return false;

    FSocket = std::move(sock);
    FSocketHandle = FSocket.Handle();
    FBuildConnectionReturn = false;
    FHandshakeAccepted = false;
    FSocketError = false;

    const int mtu = FMTUSize;
    if (!FThinMode) {
        FSendThread = std::make_unique<TWorkerThread>([this, mtu](TWorkerThread& t) { SendThreadBody(t, mtu); });
        FProcessThread = std::make_unique<TWorkerThread>([this](TWorkerThread& t) { ProcessThreadBody(t); });
    }
    FRecvThread = std::make_unique<TWorkerThread>([this, mtu](TWorkerThread& t) { RecvThreadBody(t, mtu); });
    if (!FThinMode) {
        std::lock_guard l(FOutLock);
        FSendMTU = mtu;
        FDirectSend = true;
    }

    uint8_t handshake[TCP_HANDSHAKE_SIZE];
    const TSessionGUID guid = SessionID();
    std::copy(guid.begin(), guid.end(), handshake);
    handshake[16] = FAutoReconnect ? 1 : 0;
    PostPacket(TCP_FLAG_HANDSHAKE, handshake, TCP_HANDSHAKE_SIZE, 0, 0);

    // The reply, a failed socket, a stop request or the deadline ends the wait.
    UIThread::WaitUntil([&] { return FBuildConnectionReturn.load() || FSocketError.load() || stopped(); },
                        Clock::now() + timeout);
    if (!FBuildConnectionReturn || !FHandshakeAccepted || FSocketError) {
        DisconnectInternal();
        return false;
    }
    if (!FThinMode && !FManageThread)
        FManageThread = std::make_unique<TWorkerThread>([this](TWorkerThread& t) { ManageThreadBody(t); });
    FConnected = true;
    return true;
}

void TTCPClient::DisconnectInternal()
{
    {
        std::lock_guard l(FOutLock);
        FDirectSend = false;
    }
    FSocketError = false;
    FConnected = false;
    for (auto* t : {&FRecvThread, &FProcessThread, &FSendThread})
        if (*t) (*t)->Terminate();
    FSendEvent.SetEvent();
    FProcessEvent.SetEvent();
    FSocket.Shutdown();
    // Join before closing, so no thread ever uses a reused descriptor.
    FRecvThread.reset();
    FProcessThread.reset();
    FSendThread.reset();
    {
        // A caller writing straight through never waits for buffer space,
        // so this wait is short.
        std::unique_lock l(FOutLock);
        FSendIdle.wait(l, [this] { return !FSendBusy; });
    }
    FSocket.Close();
    FSocketHandle = -1;
    FSocketError = false;
    std::lock_guard l(FOutLock);
    FDataOutList.clear();
}

void TTCPClient::Disconnect()
{
    Guarded(QStringLiteral("TTCPClient.Disconnect"), [&] {
        if (tManageThreadOf == this || OnOwnTransferThread()) {
            DebugOutput(QStringLiteral("TTCPClient.Disconnect called on its own thread"));
            return;
        }
        FStopping = true;
        UIThread::Wake();
        if (FManageThread) {
            FManageThread->Terminate();
            SetManageEvent();
            FManageThread->WaitFor();
            FManageThread.reset();
        }
        DisconnectInternal();
        {
            std::lock_guard l(FInLock);
            FDataInList.clear();
        }
        {
            std::lock_guard l(FOutLock);
            FDataOutList.clear();
        }
        {
            std::lock_guard l(FStateLock);
            FSessionID.fill(0);
        }
        FManageEvent.ResetEvent();
        FStopping = false;
    });
}

uint32_t TTCPClient::SendData(const void* lpBuf, uint32_t dwSize, uint32_t dwReserved1, uint32_t dwReserved2)
{
    uint32_t sid = 0;
    Guarded(QStringLiteral("TTCPClient.SendData"),
            [&] { sid = PostPacket(TCP_FLAG_DATA, lpBuf, dwSize, dwReserved1, dwReserved2); });
    return sid;
}

namespace {

// Clears the writer mark when a write ends, however it ends, and tells a
// waiting teardown.
struct TSendBusyRelease {
    std::mutex& Lock;
    bool& Busy;
    std::condition_variable& Idle;
    ~TSendBusyRelease()
    {
        {
            std::lock_guard l(Lock);
            Busy = false;
        }
        Idle.notify_all();
    }
};

TTCPDATAIN MakePacket(const TTCPDATAHEADER& header, const uint8_t* data, uint32_t size)
{
    TTCPDATAIN packet;
    packet.Header = header;
    if (size > 0) packet.pDataBuffer.assign(data, data + size);
    return packet;
}

} // namespace

uint32_t TTCPClient::PostPacket(uint8_t flag, const void* data, uint32_t size, uint32_t r1, uint32_t r2)
{
    TTCPDATAHEADER header;
    header.bFlag = flag;
    header.dwDataSize = size;
    header.dwReserved1 = r1;
    header.dwReserved2 = r2;
    const auto* bytes = static_cast<const uint8_t*>(data);
    if (FThinMode) {
        header.SID = ++FSID;
        size_t sent = 0;
        QString failure;
        if (WritePacket(header, bytes, size, sent, FMTUSize, false, failure) != TWriteResult::Sent) {
            DebugOutput(failure);
            MarkSocketFailed();
        }
        return header.SID;
    }
    {
        // Numbered under the queue lock, so wire order follows the numbers.
        std::unique_lock l(FOutLock);
        header.SID = ++FSID;
        if (size <= kDirectSendLimit && FDirectSend && !FSendBusy && FDataOutList.empty() && !FSocketError) {
            FSendBusy = true;
            l.unlock();
            DirectSend(header, bytes, size);
            return header.SID;
        }
        FDataOutList.push_back({MakePacket(header, bytes, size), 0});
    }
    FSendEvent.SetEvent();
    return header.SID;
}

// With nothing queued and no write under way, the caller writes the packet
// itself as far as the socket takes it at once, which spares waking the send
// thread; the send thread writes whatever is left. Called with FSendBusy set.
void TTCPClient::DirectSend(const TTCPDATAHEADER& header, const void* data, uint32_t size)
{
    const auto* bytes = static_cast<const uint8_t*>(data);
    int mtu;
    {
        std::lock_guard l(FOutLock);
        mtu = FSendMTU;
    }
    size_t sent = 0;
    QString failure;
    TWriteResult result;
    bool teardown, more;
    {
        TSendBusyRelease release{FOutLock, FSendBusy, FSendIdle};
        result = WritePacket(header, bytes, size, sent, mtu, true, failure);
        TOutPacket rest;
        if (result == TWriteResult::WouldBlock) rest = {MakePacket(header, bytes, size), sent};
        std::lock_guard l(FOutLock);
        // The rest goes first: anything queued meanwhile has later numbers.
        if (result == TWriteResult::WouldBlock) FDataOutList.push_front(std::move(rest));
        teardown = !FDirectSend;
        more = !FDataOutList.empty();
    }
    if (result == TWriteResult::Failed) {
        if (!teardown) DebugOutput(failure); // a write cut short by our own teardown is no failure worth a line
        MarkSocketFailed();
    }
    if (more) FSendEvent.SetEvent();
}

TTCPClient::TWriteResult TTCPClient::WritePacket(const TTCPDATAHEADER& header, const uint8_t* data, size_t size,
                                                 size_t& sent, int mtu, bool now, QString& failure)
{
    uint8_t head[TCP_HEADER_SIZE];
    header.Encode(head);
    struct Mode {
        bool Now;
        bool WouldBlock = false;
    } mode{now};
    const TSendCall send = [this, m = &mode](const uint8_t* buf, int len) {
        if (!m->Now) return FSocket.Send(buf, len);
        const int r = FSocket.SendNow(buf, len);
        if (r < 0 && TSocket::LastError() == WSA::EWOULDBLOCK_) m->WouldBlock = true;
        return r;
    };
    // The header, then the payload, each from where an earlier write stopped.
    const struct {
        const uint8_t* Data;
        size_t Len;
        size_t Start;
    } parts[] = {{head, TCP_HEADER_SIZE, 0}, {data, size, TCP_HEADER_SIZE}};
    for (const auto& part : parts) {
        if (sent >= part.Start + part.Len) continue;
        const size_t from = sent - part.Start;
        size_t done = 0;
        failure = SendInPieces(part.Data + from, part.Len - from, mtu, send, &done);
        sent += done;
        if (mode.WouldBlock) {
            failure.clear();
            return TWriteResult::WouldBlock;
        }
        if (!failure.isEmpty()) return TWriteResult::Failed;
    }
    return TWriteResult::Sent;
}

void TTCPClient::MarkSocketFailed()
{
    if (FSocketError.exchange(true)) return;
    UIThread::Wake(); // a connect waiting for its handshake reply gives up
    SetManageEvent();
}

void TTCPClient::DoDisconnectEvent()
{
    {
        std::lock_guard l(FStateLock);
        FSessionID.fill(0);
    }
    Guarded(QStringLiteral("TTCPClient.DoDisconnectEvent"), [&] {
        if (FOnDisconnect) FOnDisconnect(this);
    });
}

void TTCPClient::DeliverRecvData(const TTCPDATAIN& packet, const QString& method, const QString& position)
{
    if (!FOnRecvData) return;
    TTCPRECVDATA data;
    data.SID = packet.Header.SID;
    data.dwDataSize = packet.Header.dwDataSize;
    data.pDataBuffer = packet.pDataBuffer.empty() ? nullptr : packet.pDataBuffer.data();
    data.dwReserved1 = packet.Header.dwReserved1;
    data.dwReserved2 = packet.Header.dwReserved2;
    Guarded(method, [&] { FOnRecvData(this, &data); }, position);
}

void TTCPClient::HandleHandshakeReply(const TTCPDATAIN& packet)
{
    const auto& p = packet.pDataBuffer;
    const bool accepted = p.size() >= TCP_HANDSHAKE_SIZE && p[16] == 1;
    if (accepted) {
        std::lock_guard l(FStateLock);
        std::copy(p.begin(), p.begin() + 16, FSessionID.begin());
    }
    FHandshakeAccepted = accepted;
    // A refusal on an established connection would otherwise leave it
    // half-alive; treat it as a failed socket so the manage thread acts.
    if (!accepted && FConnected) MarkSocketFailed();
    FBuildConnectionReturn = true;
    UIThread::Wake();
}

bool TTCPClient::RecvExact(TWorkerThread& t, uint8_t* buf, size_t len, int mtu)
{
    size_t done = 0;
    while (done < len) {
        if (t.Terminated()) return false;
        const int r = FSocket.Recv(buf + done, int(std::min<size_t>(len - done, size_t(mtu))));
        if (t.Terminated()) return false;
        if (r <= 0) {
            DebugOutput(r == 0 ? QStringLiteral("TCP recv error:ret = 0)") : SocketFailureText(false, TSocket::LastError()));
            MarkSocketFailed();
            return false;
        }
        done += size_t(r);
    }
    return true;
}

void TTCPClient::RecvThreadBody(TWorkerThread& t, int mtu)
{
    tTransferThreadOf = this;
    Guarded(QStringLiteral("TTCPRecvThread.Execute"), [&] {
        uint8_t header[TCP_HEADER_SIZE];
        while (!t.Terminated()) {
            if (!RecvExact(t, header, TCP_HEADER_SIZE, mtu)) return;
            TTCPDATAIN packet;
            packet.Header = TTCPDATAHEADER::Decode(header);
            const uint32_t size = packet.Header.dwDataSize;
            if (size > TCP_MAX_DATA_SIZE) {
                DebugOutput(QStringLiteral("TCP recv error:packet of %1 bytes refused").arg(size));
                MarkSocketFailed();
                return;
            }
            try {
                packet.pDataBuffer.resize(size);
            } catch (const std::bad_alloc&) {
                DebugOutput(QStringLiteral("TCP recv error:packet of %1 bytes refused").arg(size));
                MarkSocketFailed();
                return;
            }
            if (!RecvExact(t, packet.pDataBuffer.data(), size, mtu)) return;
            switch (packet.Header.bFlag) {
            case TCP_FLAG_DATA:
                if (FThinMode) {
                    DeliverRecvData(packet, QStringLiteral("TTCPRecvThread.Execute"), QString());
                } else {
                    {
                        std::lock_guard l(FInLock);
                        FDataInList.push_back(std::move(packet));
                    }
                    FProcessEvent.SetEvent();
                }
                break;
            case TCP_FLAG_HANDSHAKE: HandleHandshakeReply(packet); break;
            default: break; // heartbeats and unknown flags are dropped
            }
        }
    });
}

void TTCPClient::SendThreadBody(TWorkerThread& t, int mtu)
{
    tTransferThreadOf = this;
    Guarded(
        QStringLiteral("TTCPSendThread.Execute"),
        [&] {
            for (;;) {
                FSendEvent.WaitFor(std::chrono::milliseconds(500));
                FSendEvent.ResetEvent();
                if (t.Terminated()) return;
                for (;;) {
                    TOutPacket out;
                    {
                        // A caller writing straight through wakes us again when done.
                        std::lock_guard l(FOutLock);
                        if (FSendBusy || FDataOutList.empty()) break;
                        out = std::move(FDataOutList.front());
                        FDataOutList.pop_front();
                        FSendBusy = true;
                    }
                    QString failure;
                    TWriteResult result;
                    {
                        TSendBusyRelease release{FOutLock, FSendBusy, FSendIdle};
                        const auto& p = out.Packet;
                        result = WritePacket(p.Header, p.pDataBuffer.data(), p.pDataBuffer.size(), out.Sent, mtu, false,
                                             failure);
                    }
                    if (result != TWriteResult::Sent) {
                        // A write cut short by our own teardown is no failure worth a line.
                        if (!t.Terminated()) DebugOutput(failure);
                        MarkSocketFailed();
                        return;
                    }
                    if (t.Terminated()) return;
                }
            }
        },
        QStringLiteral("5"));
}

void TTCPClient::ProcessThreadBody(TWorkerThread& t)
{
    tTransferThreadOf = this;
    Guarded(
        QStringLiteral("TTCPProcessThread.Execute"),
        [&] {
            for (;;) {
                FProcessEvent.WaitFor(kInfinite);
                FProcessEvent.ResetEvent();
                if (t.Terminated()) return;
                while (!t.Terminated()) {
                    TTCPDATAIN packet;
                    {
                        std::lock_guard l(FInLock);
                        if (FDataInList.empty()) break;
                        packet = std::move(FDataInList.front());
                        FDataInList.pop_front();
                    }
                    DeliverRecvData(packet, QStringLiteral("TTCPProcessThread.Execute"), QStringLiteral("6"));
                }
            }
        },
        QStringLiteral("6"));
}

void TTCPClient::ManageThreadBody(TWorkerThread& t)
{
    tManageThreadOf = this;
    Guarded(QStringLiteral("TTCPManageThread.Execute"), [&] {
        FAutoConnecting = false;
        FHeartbeatCount = 0;
        while (!t.Terminated()) {
            FManageEvent.WaitFor(FTimings.ManageTick);
            FManageEvent.ResetEvent();
            if (t.Terminated()) return;
            if (FConnected && FSocketError) {
                if (!FAutoReconnect) {
                    DoDisconnectEvent();
                } else if (!FAutoConnecting) {
                    Reconnect(t);
                }
            }
            if (t.Terminated()) return;
            if (FConnected && FAutoHeartbeat && !FAutoConnecting) {
                if (++FHeartbeatCount >= FHeartbeatInterval) {
                    FHeartbeatCount = 0;
                    PostPacket(TCP_FLAG_HEARTBEAT, nullptr, 0, 0, 0);
                }
            }
        }
    });
}

void TTCPClient::Reconnect(TWorkerThread& t)
{
    FAutoConnecting = true;
    for (int round = 0; round < FTimings.ReconnectRounds; ++round) {
        DisconnectInternal();
        if (t.Terminated()) return;
        if (!t.SleepFor(FTimings.ReconnectDelay)) return;
        if (Connect(FTimings.ReconnectTimeOut)) break;
    }
    if (t.Terminated()) return;
    if (!FConnected) {
        DisconnectInternal();
        DoDisconnectEvent();
    }
    FAutoConnecting = false;
}

} // namespace pelvox
