#include "TestSupport.h"
#include "core/Client_BindingEvents.h"
#include "platform/DebugOutput.h"
#include "platform/Exception.h"
#include "platform/Sync.h"
#include <gtest/gtest.h>
#include <thread>

using namespace pelvox;
using namespace std::chrono_literals;

namespace {
std::unique_ptr<TBindingEvent> Subscribe(const QString& name, TBindingEvent::THandler handler)
{
    return std::make_unique<TBindingEvent>(name, std::move(handler));
}
} // namespace

TEST(EventBus, MatchesWithoutCaseInRegistrationOrderLastResultWins)
{
    std::vector<int> order;
    auto a = Subscribe(QStringLiteral("Client:OnTest"), [&](TBindingEvent& e) { order.push_back(1); e.SetEventResult(10); });
    auto b = Subscribe(QStringLiteral("CLIENT:ONTEST"), [&](TBindingEvent& e) {
        order.push_back(2);
        EXPECT_EQ(e.EventParam1(), 5u);
        EXPECT_EQ(e.EventParam2(), 6u);
        e.SetEventResult(20);
    });
    auto other = Subscribe(QStringLiteral("Client:OnOther"), [&](TBindingEvent&) { order.push_back(3); });
    EXPECT_EQ(RaiseEvent(QStringLiteral("client:ontest"), 5, 6), 20);
    EXPECT_EQ(order, (std::vector<int>{1, 2}));
    EXPECT_EQ(RaiseEvent(QStringLiteral("Client:OnNobody")), 0);
    EXPECT_EQ(TBindingEventManager::Instance().ExecuteEvent(1, QStringLiteral("Client:OnTest"), 0, 0), 0); // other type
}

TEST(EventBus, AFailingHandlerGoesToTheCentralHandlerAndTheNextStillRuns)
{
    DebugOutputCapture capture;
    bool secondRan = false;
    auto a = Subscribe(QStringLiteral("E"), [](TBindingEvent& e) {
        e.SetEventResult(3);
        throw Exception(QStringLiteral("handler failed"));
    });
    auto b = Subscribe(QStringLiteral("E"), [&](TBindingEvent&) { secondRan = true; });
    EXPECT_EQ(RaiseEvent(QStringLiteral("E")), 0); // the last one delivered set nothing
    EXPECT_TRUE(secondRan);
    EXPECT_EQ(capture.Lines(), QStringList{QStringLiteral("OnApplicationException=handler failed")});
    b.reset();
    EXPECT_EQ(RaiseEvent(QStringLiteral("E")), 3); // a result set before failing counts
}

TEST(EventBus, FromAWorkerTheHandlerRunsOnTheUIThreadAndTheRaiserWaits)
{
    std::atomic<bool> handlerDone{false}, onUI{false};
    auto sub = Subscribe(QStringLiteral("Client:OnWork"), [&](TBindingEvent& e) {
        onUI = UIThread::IsUIThread();
        handlerDone = true;
        e.SetEventResult(int32_t(e.EventParam1()) * 2);
    });
    int32_t result = 0;
    bool doneWhenReturned = false;
    TWorkerThread worker([&](TWorkerThread&) {
        result = RaiseEvent(QStringLiteral("Client:OnWork"), 21);
        doneWhenReturned = handlerDone;
    });
    ASSERT_TRUE(worker.WaitFor(5s)); // the UI thread serves the delivery while it waits
    EXPECT_TRUE(onUI);
    EXPECT_TRUE(doneWhenReturned);
    EXPECT_EQ(result, 42);
}

TEST(EventBus, ConcurrentRaisersEachGetTheirOwnParametersAndResult)
{
    auto sub = Subscribe(QStringLiteral("Client:OnEcho"), [](TBindingEvent& e) {
        // A nested raise of the same event must not disturb this delivery.
        if (e.EventParam2() == 0) RaiseEvent(QStringLiteral("Client:OnEcho"), e.EventParam1() + 1000, 1);
        e.SetEventResult(int32_t(e.EventParam1()));
    });
    constexpr int kThreads = 8, kRaises = 200;
    std::atomic<int> mismatches{0};
    std::vector<std::unique_ptr<TWorkerThread>> workers;
    for (int t = 0; t < kThreads; ++t)
        workers.push_back(std::make_unique<TWorkerThread>([&, t](TWorkerThread&) {
            for (int i = 0; i < kRaises; ++i) {
                const uintptr_t p = uintptr_t(t * 10000 + i);
                if (RaiseEvent(QStringLiteral("client:onecho"), p, 0) != int32_t(p)) ++mismatches;
            }
        }));
    for (auto& w : workers) ASSERT_TRUE(w->WaitFor(30s));
    EXPECT_EQ(mismatches, 0);
}

TEST(EventBus, ASubscriptionFreedDuringADeliveryIsNeverTouched)
{
    std::unique_ptr<TBindingEvent> victim;
    bool victimRan = false;
    auto killer = Subscribe(QStringLiteral("Client:OnFree"), [&](TBindingEvent&) { victim.reset(); });
    victim = Subscribe(QStringLiteral("Client:OnFree"), [&](TBindingEvent&) { victimRan = true; });
    EXPECT_EQ(RaiseEvent(QStringLiteral("Client:OnFree")), 0);
    EXPECT_FALSE(victimRan);

    // A handler that frees its own subscription.
    std::unique_ptr<TBindingEvent> self;
    self = Subscribe(QStringLiteral("Client:OnSelf"), [&](TBindingEvent& e) {
        e.SetEventResult(9);
        self.reset();
    });
    EXPECT_EQ(RaiseEvent(QStringLiteral("Client:OnSelf")), 0);
    EXPECT_EQ(self, nullptr);
}

TEST(EventBus, ASubscriptionCreatedDuringADeliveryRunsFromTheNextRaise)
{
    int lateCalls = 0;
    std::unique_ptr<TBindingEvent> late;
    auto maker = Subscribe(QStringLiteral("Client:OnGrow"), [&](TBindingEvent&) {
        if (!late) late = Subscribe(QStringLiteral("Client:OnGrow"), [&](TBindingEvent&) { ++lateCalls; });
    });
    RaiseEvent(QStringLiteral("Client:OnGrow"));
    EXPECT_EQ(lateCalls, 0);
    RaiseEvent(QStringLiteral("Client:OnGrow"));
    EXPECT_EQ(lateCalls, 1);
}

TEST(EventBus, WorkerRaisingWhileTheUIThreadJoinsItFinishes)
{
    int delivered = 0;
    auto sub = Subscribe(QStringLiteral("Client:OnJoin"), [&](TBindingEvent&) { ++delivered; });
    TWorkerThread worker([](TWorkerThread&) {
        for (int i = 0; i < 20; ++i) RaiseEvent(QStringLiteral("Client:OnJoin"));
    });
    worker.Terminate();
    EXPECT_TRUE(worker.WaitFor(10s));
    EXPECT_EQ(delivered, 20);
}
