#include "core/Client_ServerInfo.h"
#include "core/BitDocument.h"
#include "core/Client_Base.h"
#include <chrono>
#include <cmath>

namespace pelvox {

namespace {
constexpr double MsPerDay = 86400000.0;
}

uint32_t GetTickCount32()
{
    using namespace std::chrono;
    return uint32_t(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

TServerInfo::TServerInfo(TTickSource ATicks) : FTicks(ATicks ? std::move(ATicks) : TTickSource(GetTickCount32))
{
    FServerTime_BeginTickCount = FTicks();
    FServerTime_GettedTickCount = FServerTime_BeginTickCount;
    FServerTime = NowLocal();
}

TDateTime TServerInfo::ServerTime() const
{
    const uint32_t now = FTicks();
    std::lock_guard l(FLock);
    const uint32_t elapsed = now - FServerTime_GettedTickCount; // unsigned: right across the wrap
    return FServerTime + double(elapsed) / MsPerDay;
}

QString TServerInfo::OffsetText(int64_t ASeconds)
{
    const int64_t s = ASeconds < 0 ? -ASeconds : ASeconds;
    if (s < 60) return QStringLiteral("刚刚");
    if (s < 3600) return QString::number(s / 60) + QStringLiteral("分钟前");
    if (s < 86400) return QString::number(s / 3600) + QStringLiteral("小时前");
    return QString::number(s / 86400) + QStringLiteral("天前");
}

QString TServerInfo::GetOffsetTimeStr(TDateTime AThenTime) const
{
    // Whole seconds, truncated; rounded to the millisecond first so that a
    // distance of exactly n seconds is not read as n - 1 through float error.
    const double ms = std::round((ServerTime() - AThenTime) * MsPerDay);
    return OffsetText(int64_t(ms / 1000.0));
}

void TServerInfo::SetBeginTickCount()
{
    const uint32_t t = FTicks();
    std::lock_guard l(FLock);
    FServerTime_BeginTickCount = t;
}

void TServerInfo::InitWhenLoginSuccess(const TBitDocument& ADoc)
{
    TDateTime serverTime = NowLocal();
    if (const TBitNode* n = ADoc.FindNode(u"ServerInfo/ServerTime"); n && n->IsFixedWidth()) {
        const double v = n->ToFloat64();
        if (std::isfinite(v)) serverTime = UTCToLocalTime(v);
    }
    uint32_t begin;
    {
        std::lock_guard l(FLock);
        begin = FServerTime_BeginTickCount;
    }
    SetServerTime(begin, FTicks(), serverTime);

    struct TPortNode {
        const char16_t* Path;
        std::atomic<int32_t>* Port;
    };
    const TPortNode ports[] = {{u"ServerInfo/SubCmd", &FPort_SubCmd},
                               {u"ServerInfo/P2PService", &FPort_P2PService},
                               {u"ServerInfo/Http_Port", &FPort_Httpd}};
    for (const auto& p : ports)
        if (const TBitNode* n = ADoc.FindNode(p.Path); n && n->IsFixedWidth()) p.Port->store(n->ToInt32());
}

void TServerInfo::SetServerTime(uint32_t ABeginTick, uint32_t AReceivedTick, TDateTime AServerTime)
{
    std::lock_guard l(FLock);
    FServerTime_GettedTickCount = ABeginTick + (AReceivedTick - ABeginTick) / 2;
    FServerTime = AServerTime;
}

} // namespace pelvox
