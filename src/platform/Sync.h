#pragma once
#include "platform/UIThread.h"
#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace pelvox {

constexpr std::chrono::milliseconds kInfinite{std::chrono::hours(24 * 365)};

// A manual- or auto-reset event. WaitFor on the UI thread keeps serving
// synchronous calls from other threads.
class TEvent {
public:
    TEvent(bool manualReset, bool initialState) : FManualReset(manualReset), FState(initialState) {}
    TEvent(const TEvent&) = delete;
    TEvent& operator=(const TEvent&) = delete;

    void SetEvent();
    void ResetEvent();
    // True when signalled within the time-out (an auto-reset event is reset again).
    bool WaitFor(std::chrono::milliseconds timeout);
    bool IsSet() const;

private:
    bool TryConsume();
    const bool FManualReset;
    mutable std::mutex FLock;
    std::condition_variable FChanged;
    bool FState;
};

// A worker thread with a cooperative stop flag. The body polls Terminated()
// or sleeps through SleepFor, which a Terminate interrupts. Destroying the
// object terminates it and waits for it (serving UI calls meanwhile).
class TWorkerThread {
public:
    using Body = std::function<void(TWorkerThread&)>;
    explicit TWorkerThread(Body body, bool startNow = true);
    ~TWorkerThread();
    TWorkerThread(const TWorkerThread&) = delete;
    TWorkerThread& operator=(const TWorkerThread&) = delete;

    void Start();
    void Terminate();
    bool Terminated() const { return FTerminated.load(); }
    bool Finished() const { return FFinished.load(); }
    // Waits for the body to return; false on time-out. Joins when it finished.
    bool WaitFor(std::chrono::milliseconds timeout = kInfinite);
    // Sleeps up to d; returns false when terminated (at once on Terminate).
    bool SleepFor(std::chrono::milliseconds d);
    std::thread::id ThreadId() const { return FThread.get_id(); }
    bool IsCurrentThread() const { return std::this_thread::get_id() == FThread.get_id(); }

private:
    Body FBody;
    std::thread FThread;
    std::atomic<bool> FTerminated{false};
    std::atomic<bool> FFinished{false};
    std::mutex FLock;
    std::condition_variable FWake;
};

} // namespace pelvox
