#pragma once
#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <thread>

namespace pelvox::testserver {

// Runs jobs at their due time on one thread of its own (delayed answers).
class TScheduler {
public:
    using Clock = std::chrono::steady_clock;
    TScheduler();
    ~TScheduler();
    TScheduler(const TScheduler&) = delete;
    TScheduler& operator=(const TScheduler&) = delete;

    void RunAt(Clock::time_point due, std::function<void()> job);
    void RunAfter(std::chrono::milliseconds delay, std::function<void()> job) { RunAt(Clock::now() + delay, std::move(job)); }
    // Drops pending jobs and ends the thread.
    void Stop();

private:
    void Loop();
    std::mutex FLock;
    std::condition_variable FChanged;
    std::multimap<Clock::time_point, std::function<void()>> FJobs;
    bool FStopping = false;
    std::thread FThread;
};

} // namespace pelvox::testserver
