#include "platform/Sync.h"
#include "platform/Application.h"

namespace pelvox {

void TEvent::SetEvent()
{
    {
        std::lock_guard l(FLock);
        FState = true;
    }
    FChanged.notify_all();
    UIThread::Wake();
}

void TEvent::ResetEvent()
{
    std::lock_guard l(FLock);
    FState = false;
}

bool TEvent::IsSet() const
{
    std::lock_guard l(FLock);
    return FState;
}

bool TEvent::TryConsume()
{
    std::lock_guard l(FLock);
    if (!FState) return false;
    if (!FManualReset) FState = false;
    return true;
}

bool TEvent::WaitFor(std::chrono::milliseconds timeout)
{
    const auto deadline = Clock::now() + timeout;
    if (UIThread::IsUIThread()) return UIThread::WaitUntil([this] { return TryConsume(); }, deadline);
    std::unique_lock l(FLock);
    if (!FChanged.wait_until(l, deadline, [this] { return FState; })) return false;
    if (!FManualReset) FState = false;
    return true;
}

TWorkerThread::TWorkerThread(Body body, bool startNow) : FBody(std::move(body))
{
    if (startNow) Start();
}

TWorkerThread::~TWorkerThread()
{
    Terminate();
    if (FThread.joinable()) {
        if (IsCurrentThread()) FThread.detach(); // freed by its own body: nothing to join
        else WaitFor();
    }
}

void TWorkerThread::Start()
{
    if (FThread.joinable()) return;
    FThread = std::thread([this] {
        try {
            FBody(*this);
        } catch (...) {
            HandleCurrentException();
        }
        FFinished = true;
        {
            std::lock_guard l(FLock);
        }
        FWake.notify_all();
        UIThread::Wake();
    });
}

void TWorkerThread::Terminate()
{
    FTerminated = true;
    {
        std::lock_guard l(FLock);
    }
    FWake.notify_all();
}

bool TWorkerThread::WaitFor(std::chrono::milliseconds timeout)
{
    if (!FThread.joinable()) return true;
    if (IsCurrentThread()) return false;
    const auto deadline = Clock::now() + timeout;
    bool done;
    if (UIThread::IsUIThread()) {
        done = UIThread::WaitUntil([this] { return FFinished.load(); }, deadline);
    } else {
        std::unique_lock l(FLock);
        done = FWake.wait_until(l, deadline, [this] { return FFinished.load(); });
    }
    if (done && FThread.joinable()) FThread.join();
    return done;
}

bool TWorkerThread::SleepFor(std::chrono::milliseconds d)
{
    std::unique_lock l(FLock);
    FWake.wait_for(l, d, [this] { return FTerminated.load(); });
    return !FTerminated;
}

} // namespace pelvox
