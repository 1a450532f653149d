#include "TestSupport.h"
#include "platform/Application.h"
#include "platform/DebugOutput.h"
#include "platform/Exception.h"
#include "platform/HiddenWindow.h"
#include "platform/Sync.h"
#include "platform/UIThread.h"
#include <QThread>
#include <gtest/gtest.h>
#include <thread>

using namespace pelvox;
using namespace std::chrono_literals;

TEST(UIThread, SendFromWorkerRunsOnUIThreadAndWaits)
{
    std::atomic<bool> ranOnUI{false}, returned{false};
    int value = 0;
    TWorkerThread worker([&](TWorkerThread&) {
        UIThread::Send([&] {
            ranOnUI = UIThread::IsUIThread();
            value = 42;
        });
        returned = value == 42; // the call finished before Send returned
    });
    ASSERT_TRUE(worker.WaitFor(5s));
    EXPECT_TRUE(ranOnUI);
    EXPECT_TRUE(returned);
}

TEST(UIThread, ExceptionOfASentCallReachesTheCaller)
{
    QString caught;
    TWorkerThread worker([&](TWorkerThread&) {
        try {
            UIThread::Send([] { throw Exception(QStringLiteral("boom")); });
        } catch (const Exception& e) {
            caught = e.Message();
        }
    });
    ASSERT_TRUE(worker.WaitFor(5s));
    EXPECT_EQ(caught, u"boom");
}

TEST(UIThread, JoiningAWorkerThatCallsTheUIThreadDoesNotDeadlock)
{
    // The worker needs the UI thread while the UI thread waits for the worker.
    std::atomic<int> calls{0};
    TWorkerThread worker([&](TWorkerThread&) {
        for (int i = 0; i < 50; ++i) Synchronize([&] { ++calls; });
    });
    EXPECT_TRUE(worker.WaitFor(10s));
    EXPECT_EQ(calls, 50);
}

TEST(UIThread, SendAfterShutdownReturnsFalseWithoutRunning)
{
    UIThread::Shutdown();
    bool ran = false, sent = true;
    std::thread t([&] { sent = UIThread::Send([&] { ran = true; }); });
    t.join(); // the UI thread serves nothing here, so a plain join is fine
    UIThread::Restart();
    EXPECT_FALSE(sent);
    EXPECT_FALSE(ran);
}

TEST(TEvent, AutoResetReleasesOneWaitManualStaysSet)
{
    TEvent autoEvent(false, false), manual(true, false);
    EXPECT_FALSE(autoEvent.WaitFor(0ms));
    autoEvent.SetEvent();
    EXPECT_TRUE(autoEvent.WaitFor(0ms));
    EXPECT_FALSE(autoEvent.WaitFor(0ms));
    manual.SetEvent();
    EXPECT_TRUE(manual.WaitFor(0ms));
    EXPECT_TRUE(manual.WaitFor(0ms));
    manual.ResetEvent();
    EXPECT_FALSE(manual.IsSet());
}

TEST(TEvent, UIThreadWaitServesCallsUntilSetByWorker)
{
    TEvent done(true, false);
    bool served = false;
    TWorkerThread worker([&](TWorkerThread&) {
        Synchronize([&] { served = true; });
        done.SetEvent();
    });
    EXPECT_TRUE(done.WaitFor(10s));
    EXPECT_TRUE(served);
}

TEST(TEvent, TimesOutAgainstTheClock)
{
    TEvent never(true, false);
    const auto start = Clock::now();
    EXPECT_FALSE(never.WaitFor(30ms));
    EXPECT_GE(Clock::now() - start, 30ms);
}

TEST(TWorkerThread, TerminateInterruptsSleep)
{
    std::atomic<bool> sleptFully{true};
    TWorkerThread worker([&](TWorkerThread& self) { sleptFully = self.SleepFor(std::chrono::hours(1)); });
    worker.Terminate();
    EXPECT_TRUE(worker.WaitFor(5s));
    EXPECT_FALSE(sleptFully);
}

TEST(HiddenWindow, PostSendAndTimers)
{
    std::vector<std::pair<uint32_t, uintptr_t>> seen;
    THiddenWindow window([&](uint32_t msg, uintptr_t w, intptr_t l) -> intptr_t {
        EXPECT_TRUE(UIThread::IsUIThread());
        seen.push_back({msg, w});
        return intptr_t(w) + l;
    });
    window.Post(WM_USER + 1, 7);
    EXPECT_TRUE(seen.empty()); // posted: not yet
    EXPECT_EQ(window.Send(WM_USER + 2, 3, 4), 7);
    ASSERT_TRUE(test::RunLoopUntil([&] { return seen.size() == 2; }));
    EXPECT_EQ(seen[1], (std::pair<uint32_t, uintptr_t>{WM_USER + 1, 7}));

    intptr_t fromWorker = 0;
    TWorkerThread worker([&](TWorkerThread&) { fromWorker = window.Send(WM_USER + 3, 10, 5); });
    ASSERT_TRUE(worker.WaitFor(5s));
    EXPECT_EQ(fromWorker, 15);

    seen.clear();
    window.SetTimer(9, 5);
    ASSERT_TRUE(test::RunLoopUntil([&] { return seen.size() >= 2; }));
    window.KillTimer(9);
    EXPECT_EQ(seen[0], (std::pair<uint32_t, uintptr_t>{WM_TIMER, 9}));
    EXPECT_EQ(window.TimerCount(), 0u);
}

TEST(HiddenWindow, ExceptionGoesToTheCentralHandler)
{
    DebugOutputCapture capture;
    THiddenWindow window([](uint32_t, uintptr_t, intptr_t) -> intptr_t { throw Exception(QStringLiteral("bad message")); });
    EXPECT_EQ(window.Send(WM_USER), 0);
    EXPECT_EQ(capture.Lines(), QStringList{QStringLiteral("OnApplicationException=bad message")});
}

TEST(HiddenWindow, PostedMessagesToAFreedWindowAreDropped)
{
    int calls = 0;
    {
        THiddenWindow window([&](uint32_t, uintptr_t, intptr_t) -> intptr_t { return ++calls; });
        window.Post(WM_USER);
    }
    test::RunLoopFor(20ms);
    EXPECT_EQ(calls, 0);
}
