#pragma once
#include "platform/Socket.h"
#include "platform/StopFlag.h"
#include "platform/Sync.h"
#include <QByteArray>
#include <QString>
#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <type_traits>
#include <vector>

namespace pelvox {

class TTCPClient;

// Packet flags.
constexpr uint8_t TCP_FLAG_DATA = 0;
constexpr uint8_t TCP_FLAG_HANDSHAKE = 1;
constexpr uint8_t TCP_FLAG_HEARTBEAT = 2;

constexpr int TCP_HEADER_SIZE = 17;
constexpr int TCP_HANDSHAKE_SIZE = 17;
// Received payloads above this size fail the socket instead of being allocated.
constexpr uint32_t TCP_MAX_DATA_SIZE = 64u * 1024 * 1024;

using TSessionGUID = std::array<uint8_t, 16>;

// The 17-byte packet header, little-endian on the wire.
struct TTCPDATAHEADER {
    uint8_t bFlag = 0;
    uint32_t SID = 0;
    uint32_t dwDataSize = 0;
    uint32_t dwReserved1 = 0;
    uint32_t dwReserved2 = 0;

    void Encode(uint8_t* out) const;
    static TTCPDATAHEADER Decode(const uint8_t* in);
};

// Leaves new elements uninitialised: a received payload is overwritten by the
// socket at once, and zeroing megabytes first costs about as much as the read.
template <typename T>
struct TUninitAllocator : std::allocator<T> {
    template <typename U>
    struct rebind {
        using other = TUninitAllocator<U>;
    };
    TUninitAllocator() = default;
    template <typename U>
    TUninitAllocator(const TUninitAllocator<U>&) noexcept
    {
    }
    template <typename U>
    void construct(U* p) noexcept(std::is_nothrow_default_constructible_v<U>)
    {
        ::new (static_cast<void*>(p)) U;
    }
    template <typename U, typename... Args>
    void construct(U* p, Args&&... args)
    {
        ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
    }
};

using TPayloadBuffer = std::vector<uint8_t, TUninitAllocator<uint8_t>>;

// A queued packet; it owns its payload.
struct TTCPDATAIN {
    TTCPDATAHEADER Header;
    TPayloadBuffer pDataBuffer;
};

// A received data packet as handed to the owner; the payload is only valid
// during the callback.
struct TTCPRECVDATA {
    uint32_t SID = 0;
    uint32_t dwDataSize = 0;
    const uint8_t* pDataBuffer = nullptr;
    uint32_t dwReserved1 = 0;
    uint32_t dwReserved2 = 0;
};

using TTCPRecvDataEvent = std::function<void(TTCPClient* Sender, const TTCPRECVDATA* lpRecvData)>;
using TTCPNotifyEvent = std::function<void(TTCPClient* Sender)>;

// Set at logout: a pending connect stops waiting at once.
extern TStopFlag CancelTCPConnect;

// The text written when a socket call fails (send or receive side).
QString SocketFailureText(bool sending, int winsockCode);

// Passes len bytes to send() in pieces of at most mtu bytes, advancing by what
// each call accepted. Returns an empty text when everything went, else the
// failure text.
// When sent is given, it receives the number of bytes the calls accepted.
using TSendCall = std::function<int(const uint8_t* buf, int len)>;
QString SendInPieces(const uint8_t* data, size_t len, int mtu, const TSendCall& send, size_t* sent = nullptr);

// Intervals of the manage thread; tests shorten them.
struct TTCPTimings {
    std::chrono::milliseconds ManageTick{1000};     // longest sleep between rounds of work
    std::chrono::milliseconds ReconnectDelay{1000}; // pause before each reconnection attempt
    int ReconnectTimeOut = 15000;                   // Connect time-out of each attempt
    int ReconnectRounds = 3;
};

// The client end of a framed TCP connection. Full mode: receive, send,
// dispatch and manage threads with heartbeats and reconnection. Thin mode:
// only the receive thread; sends run on the caller's thread.
class TTCPClient {
public:
    TTCPClient();
    ~TTCPClient();
    TTCPClient(const TTCPClient&) = delete;
    TTCPClient& operator=(const TTCPClient&) = delete;

    QString ServerAddress() const { return FServerAddress; }
    void SetServerAddress(const QString& v);
    int ServerPort() const { return FServerPort; }
    void SetServerPort(int v);
    int LocalPort() const { return FLocalPort; }
    void SetLocalPort(int v);
    bool ThinMode() const { return FThinMode; }
    void SetThinMode(bool v);
    bool UseComInThread() const { return FUseComInThread; }
    void SetUseComInThread(bool v);
    bool AutoReconnect() const { return FAutoReconnect; }
    void SetAutoReconnect(bool v);
    int MTUSize() const { return FMTUSize; }
    void SetMTUSize(int v);
    bool AutoHeartbeat() const { return FAutoHeartbeat; }
    void SetAutoHeartbeat(bool v);
    int HeartbeatInterval() const { return FHeartbeatInterval; }
    void SetHeartbeatInterval(int v);
    const TTCPTimings& Timings() const { return FTimings; }
    void SetTimings(const TTCPTimings& v);

    bool Connected() const { return FConnected.load(); }
    void SetConnected(bool v);
    int SocketHandle() const { return FSocketHandle.load(); }
    bool SocketError() const { return FSocketError.load(); }
    TSessionGUID SessionID() const;
    QByteArray ServerIPAddr() const;
    uint32_t LastSID() const { return FSID.load(); }
    // Threads of this connection that exist now (for checks after Connect/Disconnect).
    int ThreadCount() const;

    // A second stop flag a connect honours besides CancelTCPConnect.
    void SetCancelFlag(const TStopFlag* flag) { FCancelFlag = flag; }

    // Set before connecting; called on the connection's threads.
    void SetOnRecvData(TTCPRecvDataEvent e) { FOnRecvData = std::move(e); }
    void SetOnDisconnect(TTCPNotifyEvent e) { FOnDisconnect = std::move(e); }

    bool Connect(int ATimeOut);
    void Disconnect();
    // Queues (full mode) or sends (thin mode) one data packet; returns its SID.
    uint32_t SendData(const void* lpBuf, uint32_t dwSize, uint32_t dwReserved1, uint32_t dwReserved2);

private:
    bool CanWrite() const;
    bool DoConnect(int ATimeOut);
    void DisconnectInternal();
    bool OnOwnTransferThread() const;
    // A packet waiting to be sent, with the bytes of it already written.
    struct TOutPacket {
        TTCPDATAIN Packet;
        size_t Sent = 0;
    };
    enum class TWriteResult { Sent, WouldBlock, Failed };

    uint32_t PostPacket(uint8_t flag, const void* data, uint32_t size, uint32_t r1, uint32_t r2);
    void DirectSend(const TTCPDATAHEADER& header, const void* data, uint32_t size);
    TWriteResult WritePacket(const TTCPDATAHEADER& header, const uint8_t* data, size_t size, size_t& sent, int mtu,
                             bool now, QString& failure);
    void MarkSocketFailed();
    void SetManageEvent() { FManageEvent.SetEvent(); }
    void DoDisconnectEvent();
    void DeliverRecvData(const TTCPDATAIN& packet, const QString& method, const QString& position);
    void HandleHandshakeReply(const TTCPDATAIN& packet);

    void RecvThreadBody(TWorkerThread& t, int mtu);
    bool RecvExact(TWorkerThread& t, uint8_t* buf, size_t len, int mtu);
    void SendThreadBody(TWorkerThread& t, int mtu);
    void ProcessThreadBody(TWorkerThread& t);
    void ManageThreadBody(TWorkerThread& t);
    void Reconnect(TWorkerThread& t);

    QString FServerAddress;
    int FServerPort = 0;
    int FLocalPort = 0;
    bool FThinMode = false;
    bool FUseComInThread = false;
    bool FAutoReconnect = false;
    int FMTUSize = 1400;
    bool FReuseAddr = false;
    int FLinger = 0;
    bool FRecvBufferEnabled = true;
    bool FSendBufferEnabled = true;
    int FRecvBufferSize = 32767;
    int FSendBufferSize = 32767;
    bool FAutoHeartbeat = true;
    int FHeartbeatInterval = 5;
    TTCPTimings FTimings;

    mutable std::mutex FStateLock; // session GUID and resolved address
    TSessionGUID FSessionID{};
    QByteArray FServerIPAddr;

    TSocket FSocket;
    std::atomic<int> FSocketHandle{-1};
    std::atomic<bool> FSocketError{false};
    std::atomic<bool> FConnected{false};
    std::atomic<bool> FBuildConnectionReturn{false};
    std::atomic<bool> FHandshakeAccepted{false};
    std::atomic<bool> FStopping{false}; // Disconnect is ending the manage thread
    std::atomic<uint32_t> FSID{0};

    std::mutex FOutLock;
    std::deque<TOutPacket> FDataOutList;
    // Under FOutLock: a thread is writing a packet to the socket (the send
    // thread, or a caller writing straight through while the queue is empty).
    bool FSendBusy = false;
    // Under FOutLock: callers may write straight to the live socket; the MTU
    // the send thread of this connection uses.
    bool FDirectSend = false;
    int FSendMTU = 1400;
    std::condition_variable FSendIdle;
    std::mutex FInLock;
    std::deque<TTCPDATAIN> FDataInList;

    // The wake-up events belong to the connection, so waking a thread never
    // touches a thread object that a reconnection is replacing.
    TEvent FSendEvent{true, false};
    TEvent FProcessEvent{true, false};
    TEvent FManageEvent{true, false};

    std::unique_ptr<TWorkerThread> FRecvThread;
    std::unique_ptr<TWorkerThread> FProcessThread;
    std::unique_ptr<TWorkerThread> FSendThread;
    std::unique_ptr<TWorkerThread> FManageThread;
    bool FAutoConnecting = false; // manage thread only
    int FHeartbeatCount = 0;      // manage thread only

    const TStopFlag* FCancelFlag = nullptr;
    TTCPRecvDataEvent FOnRecvData;
    TTCPNotifyEvent FOnDisconnect;
};

} // namespace pelvox
