#pragma once
#include <chrono>
#include <functional>

namespace pelvox {

using Clock = std::chrono::steady_clock;

// The user-interface thread (the Qt main thread) and the synchronous calls
// other threads make on it. Every wait on the UI thread goes through WaitUntil,
// which keeps running those calls, so a worker that delivers an event while
// the UI thread waits for it never deadlocks.
class UIThread {
public:
    static bool IsUIThread();

    // Runs fn on the UI thread and returns after it ran; inline on the UI
    // thread. An exception thrown by fn is rethrown to the caller. Returns
    // false, without running fn, once the UI thread has stopped serving calls.
    static bool Send(std::function<void()> fn);

    // On the UI thread: serve synchronous calls until pred() holds or the
    // deadline passes; returns pred(). Off the UI thread it waits for a Wake.
    // Whatever makes pred() true must call Wake() afterwards.
    static bool WaitUntil(const std::function<bool()>& pred, Clock::time_point deadline);
    static bool WaitFor(const std::function<bool()>& pred, std::chrono::milliseconds timeout)
    {
        return WaitUntil(pred, Clock::now() + timeout);
    }

    // Tells UI-thread waiters to check their predicates again.
    static void Wake();

    // Runs the synchronous calls queued so far (the Qt loop does this too).
    static void ProcessPendingCalls();

    // Ends service: queued and later calls return false. Called at shut-down.
    static void Shutdown();
    // Serves calls again (tests create several application lifetimes).
    static void Restart();
};

// Runs fn on the UI thread while the calling thread waits (login thread steps).
inline bool Synchronize(std::function<void()> fn) { return UIThread::Send(std::move(fn)); }

} // namespace pelvox
