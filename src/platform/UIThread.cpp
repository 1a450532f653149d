#include "platform/UIThread.h"
#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>
#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>

namespace pelvox {

namespace {

struct Call {
    std::function<void()> Fn;
    std::exception_ptr Error;
    bool Done = false;
    bool Ran = false;
};

struct Dispatcher {
    std::mutex Lock;
    std::condition_variable Changed;   // UI-thread waiters: new call or Wake
    std::condition_variable Completed; // callers: their call finished
    std::deque<std::shared_ptr<Call>> Queue;
    uint64_t Generation = 0;
    bool Closed = false;

    static Dispatcher& Get()
    {
        static Dispatcher d;
        return d;
    }

    void Complete(const std::shared_ptr<Call>& c, bool ran)
    {
        std::lock_guard l(Lock);
        c->Done = true;
        c->Ran = ran;
        Completed.notify_all();
    }

    void RunQueued()
    {
        for (;;) {
            std::shared_ptr<Call> c;
            {
                std::lock_guard l(Lock);
                if (Queue.empty()) return;
                c = std::move(Queue.front());
                Queue.pop_front();
            }
            try {
                c->Fn();
            } catch (...) {
                c->Error = std::current_exception();
            }
            Complete(c, true);
        }
    }
};

} // namespace

bool UIThread::IsUIThread()
{
    auto* app = QCoreApplication::instance();
    return !app || app->thread() == QThread::currentThread();
}

bool UIThread::Send(std::function<void()> fn)
{
    if (IsUIThread()) {
        fn();
        return true;
    }
    auto& d = Dispatcher::Get();
    auto call = std::make_shared<Call>();
    call->Fn = std::move(fn);
    {
        std::lock_guard l(d.Lock);
        if (d.Closed) return false;
        d.Queue.push_back(call);
        d.Changed.notify_all();
    }
    if (auto* app = QCoreApplication::instance())
        QMetaObject::invokeMethod(app, [] { Dispatcher::Get().RunQueued(); }, Qt::QueuedConnection);
    {
        std::unique_lock l(d.Lock);
        d.Completed.wait(l, [&] { return call->Done; });
    }
    if (call->Error) std::rethrow_exception(call->Error);
    return call->Ran;
}

bool UIThread::WaitUntil(const std::function<bool()>& pred, Clock::time_point deadline)
{
    auto& d = Dispatcher::Get();
    const bool onUI = IsUIThread();
    for (;;) {
        uint64_t seen;
        {
            std::lock_guard l(d.Lock);
            seen = d.Generation;
        }
        if (onUI) d.RunQueued();
        if (pred()) return true;
        std::unique_lock l(d.Lock);
        auto ready = [&] { return d.Generation != seen || (onUI && !d.Queue.empty()); };
        if (ready()) continue;
        if (Clock::now() >= deadline) {
            l.unlock();
            return pred();
        }
        d.Changed.wait_until(l, deadline, ready);
    }
}

void UIThread::Wake()
{
    auto& d = Dispatcher::Get();
    std::lock_guard l(d.Lock);
    ++d.Generation;
    d.Changed.notify_all();
}

void UIThread::ProcessPendingCalls() { Dispatcher::Get().RunQueued(); }

void UIThread::Shutdown()
{
    auto& d = Dispatcher::Get();
    std::deque<std::shared_ptr<Call>> dropped;
    {
        std::lock_guard l(d.Lock);
        d.Closed = true;
        dropped.swap(d.Queue);
    }
    for (auto& c : dropped) d.Complete(c, false);
}

void UIThread::Restart()
{
    auto& d = Dispatcher::Get();
    std::lock_guard l(d.Lock);
    d.Closed = false;
}

} // namespace pelvox
