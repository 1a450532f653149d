#pragma once
#include "core/Client_TCPClient.h"
#include "platform/Socket.h"
#include <QByteArray>
#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

namespace pelvox::testserver {

enum class TPortKind { Cmd, SubCmd };

// One accepted client connection: buffered framed reads on its reader
// thread, whole-packet writes from any thread.
class TServerConnection {
public:
    TServerConnection(int id, TPortKind port, TSocket socket);
    ~TServerConnection();
    TServerConnection(const TServerConnection&) = delete;
    TServerConnection& operator=(const TServerConnection&) = delete;

    int Id() const { return FId; }
    TPortKind Port() const { return FPort; }

    // Reader thread: the next packet; false when the peer closed, the socket
    // failed or the header announced more than maxSize bytes.
    bool ReadPacket(TTCPDATAHEADER& header, QByteArray& payload, uint32_t maxSize);

    // Sends a packet numbered with this side's own counter; returns its SID (0 on failure).
    uint32_t SendPacket(uint8_t flag, const QByteArray& payload, uint32_t r1 = 0, uint32_t r2 = 0);
    bool SendRaw(const QByteArray& bytes);
    // Ends the connection; the reader thread sees it closed.
    void Close();
    bool Closed() const { return FClosed.load(); }

    TSessionGUID Session() const;
    void SetSession(const TSessionGUID& guid);

    std::thread Reader;
    std::atomic<bool> Finished{false};

private:
    bool WriteAll(const char* data, size_t len);
    bool Fill(size_t need);

    const int FId;
    const TPortKind FPort;
    TSocket FSocket;
    std::atomic<bool> FClosed{false};
    std::mutex FWriteLock;
    uint32_t FSID = 0;
    mutable std::mutex FStateLock;
    TSessionGUID FSession{};
    std::vector<char> FBuf;
    size_t FBufStart = 0;
    size_t FBufEnd = 0;
};

} // namespace pelvox::testserver
