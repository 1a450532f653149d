#pragma once
#include "platform/DateTime.h"
#include <QString>
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>

namespace pelvox {

class TBitDocument;

// A millisecond tick counter that wraps at 32 bits, as the server clock is
// anchored on one. Tests replace it to run the clock across the wrap.
using TTickSource = std::function<uint32_t()>;
uint32_t GetTickCount32();

// What the login answer tells of the server: its clock and its service ports.
class TServerInfo {
public:
    explicit TServerInfo(TTickSource ATicks = nullptr);

    // The server's time now, in local time.
    TDateTime ServerTime() const;
    // The time between AThenTime and ServerTime in words ("刚刚", "5分钟前" ...).
    QString GetOffsetTimeStr(TDateTime AThenTime) const;
    int32_t Port_SubCmd() const { return FPort_SubCmd.load(); }
    int32_t Port_P2PService() const { return FPort_P2PService.load(); }
    int32_t Port_Httpd() const { return FPort_Httpd.load(); }

    // Called just before "Users.Login" goes out.
    void SetBeginTickCount();
    // Reads "ServerInfo" of the login answer (UI thread).
    void InitWhenLoginSuccess(const TBitDocument& ADoc);
    // Anchors AServerTime (local) at the midpoint of ABegin and AReceived.
    void SetServerTime(uint32_t ABeginTick, uint32_t AReceivedTick, TDateTime AServerTime);

    // The words for a distance of ASeconds (either direction).
    static QString OffsetText(int64_t ASeconds);

private:
    TTickSource FTicks;
    mutable std::mutex FLock; // ServerTime is read from any thread
    uint32_t FServerTime_BeginTickCount;
    uint32_t FServerTime_GettedTickCount;
    TDateTime FServerTime;
    std::atomic<int32_t> FPort_SubCmd{5802};
    std::atomic<int32_t> FPort_P2PService{5803};
    std::atomic<int32_t> FPort_Httpd{5880};
};

} // namespace pelvox
