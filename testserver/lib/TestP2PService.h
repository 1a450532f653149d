#pragma once
#include <QString>
#include <atomic>
#include <cstdint>
#include <thread>

namespace pelvox::testserver {

// The peer-to-peer service's login answer on a loopback UDP port: each login
// request is answered with the sender's address and port and Result 1.
// Runs its own thread; it can be told to stay silent or to refuse.
class TestP2PService {
public:
    TestP2PService() = default;
    ~TestP2PService();
    TestP2PService(const TestP2PService&) = delete;
    TestP2PService& operator=(const TestP2PService&) = delete;

    // Binds AHost (a loopback address) and APort (0 picks a free port).
    // Returns false when the address is not loopback or cannot be bound.
    bool Start(const QString& AHost = QStringLiteral("127.0.0.1"), uint16_t APort = 0);
    void Stop();
    uint16_t Port() const { return FPort; }

    // Silent: requests are counted but not answered.
    void SetSilent(bool ASilent) { FSilent = ASilent; }
    // The Result byte of the answers (1 = logged in).
    void SetResult(uint8_t AResult) { FResult = AResult; }
    int LoginRequests() const { return FLoginRequests; }

private:
    void Run();
    int FSocket = -1;
    int FWake = -1;
    uint16_t FPort = 0;
    std::atomic<bool> FSilent{false};
    std::atomic<uint8_t> FResult{1};
    std::atomic<int> FLoginRequests{0};
    std::thread FThread;
};

} // namespace pelvox::testserver
