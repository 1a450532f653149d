#include "Scheduler.h"

namespace pelvox::testserver {

TScheduler::TScheduler() : FThread([this] { Loop(); }) {}

TScheduler::~TScheduler() { Stop(); }

void TScheduler::RunAt(Clock::time_point due, std::function<void()> job)
{
    {
        std::lock_guard l(FLock);
        if (FStopping) return;
        FJobs.emplace(due, std::move(job));
    }
    FChanged.notify_all();
}

void TScheduler::Stop()
{
    {
        std::lock_guard l(FLock);
        FStopping = true;
        FJobs.clear();
    }
    FChanged.notify_all();
    if (FThread.joinable()) FThread.join();
}

void TScheduler::Loop()
{
    std::unique_lock l(FLock);
    while (!FStopping) {
        if (FJobs.empty()) {
            FChanged.wait(l);
            continue;
        }
        auto first = FJobs.begin();
        if (Clock::now() < first->first) {
            FChanged.wait_until(l, first->first);
            continue;
        }
        auto job = std::move(first->second);
        FJobs.erase(first);
        l.unlock();
        job();
        l.lock();
    }
}

} // namespace pelvox::testserver
