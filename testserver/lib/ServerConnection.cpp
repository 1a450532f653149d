#include "ServerConnection.h"
#include <algorithm>
#include <cstring>

namespace pelvox::testserver {

TServerConnection::TServerConnection(int id, TPortKind port, TSocket socket)
    : FId(id), FPort(port), FSocket(std::move(socket)), FBuf(256 * 1024)
{
    FSocket.SetNoDelay(true);
}

TServerConnection::~TServerConnection()
{
    Close();
    if (Reader.joinable()) Reader.join();
}

bool TServerConnection::Fill(size_t need)
{
    while (FBufEnd - FBufStart < need) {
        if (FBufStart > 0) {
            std::memmove(FBuf.data(), FBuf.data() + FBufStart, FBufEnd - FBufStart);
            FBufEnd -= FBufStart;
            FBufStart = 0;
        }
        const int r = FSocket.Recv(FBuf.data() + FBufEnd, int(FBuf.size() - FBufEnd));
        if (r <= 0) return false;
        FBufEnd += size_t(r);
    }
    return true;
}

bool TServerConnection::ReadPacket(TTCPDATAHEADER& header, QByteArray& payload, uint32_t maxSize)
{
    if (!Fill(TCP_HEADER_SIZE)) return false;
    header = TTCPDATAHEADER::Decode(reinterpret_cast<const uint8_t*>(FBuf.data() + FBufStart));
    FBufStart += TCP_HEADER_SIZE;
    if (header.dwDataSize > maxSize) return false;
    payload.resize(qsizetype(header.dwDataSize));
    size_t done = 0;
    while (done < header.dwDataSize) {
        const size_t buffered = FBufEnd - FBufStart;
        if (buffered > 0) {
            const size_t n = std::min<size_t>(buffered, header.dwDataSize - done);
            std::memcpy(payload.data() + done, FBuf.data() + FBufStart, n);
            FBufStart += n;
            done += n;
            continue;
        }
        // Large payloads go straight into their block.
        const int r = FSocket.Recv(payload.data() + done, int(std::min<size_t>(header.dwDataSize - done, 1 << 20)));
        if (r <= 0) return false;
        done += size_t(r);
    }
    return true;
}

uint32_t TServerConnection::SendPacket(uint8_t flag, const QByteArray& payload, uint32_t r1, uint32_t r2)
{
    std::lock_guard l(FWriteLock);
    TTCPDATAHEADER h;
    h.bFlag = flag;
    h.SID = ++FSID;
    h.dwDataSize = uint32_t(payload.size());
    h.dwReserved1 = r1;
    h.dwReserved2 = r2;
    char header[TCP_HEADER_SIZE];
    h.Encode(reinterpret_cast<uint8_t*>(header));
    // Header and payload leave in one call, without joining them in a copy.
    const size_t total = TCP_HEADER_SIZE + size_t(payload.size());
    size_t done = 0;
    while (done < TCP_HEADER_SIZE) {
        const size_t bodyLen = std::min<size_t>(size_t(payload.size()), 1 << 20);
        const int r = FSocket.SendParts(header + done, int(TCP_HEADER_SIZE - done), payload.constData(), int(bodyLen));
        if (r <= 0) return 0;
        done += size_t(r);
    }
    if (done < total && !WriteAll(payload.constData() + (done - TCP_HEADER_SIZE), total - done)) return 0;
    return h.SID;
}

bool TServerConnection::SendRaw(const QByteArray& bytes)
{
    std::lock_guard l(FWriteLock);
    return WriteAll(bytes.constData(), size_t(bytes.size()));
}

bool TServerConnection::WriteAll(const char* data, size_t len)
{
    size_t done = 0;
    while (done < len) {
        const int r = FSocket.Send(data + done, int(std::min<size_t>(len - done, 1 << 20)));
        if (r <= 0) return false;
        done += size_t(r);
    }
    return true;
}

void TServerConnection::Close()
{
    if (!FClosed.exchange(true)) FSocket.Shutdown();
}

TSessionGUID TServerConnection::Session() const
{
    std::lock_guard l(FStateLock);
    return FSession;
}

void TServerConnection::SetSession(const TSessionGUID& guid)
{
    std::lock_guard l(FStateLock);
    FSession = guid;
}

} // namespace pelvox::testserver
