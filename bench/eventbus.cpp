#include "BenchMain.h"
#include "core/Client_BindingEvents.h"
#include "platform/Sync.h"
#include <algorithm>
#include <vector>

using namespace pelvox;

namespace {
// 500 subscriptions under distinct names, one of them the raised one.
std::vector<std::unique_ptr<TBindingEvent>> MakeSubscriptions()
{
    std::vector<std::unique_ptr<TBindingEvent>> subs;
    for (int i = 0; i < 499; ++i)
        subs.push_back(std::make_unique<TBindingEvent>(QStringLiteral("Client:OnSomething_%1").arg(i), [](TBindingEvent&) {}));
    subs.push_back(std::make_unique<TBindingEvent>(QStringLiteral("Server:Target"), [](TBindingEvent& e) {
        e.SetEventResult(int32_t(e.EventParam1()));
    }));
    return subs;
}
} // namespace

static void BM_RaiseOnUIThread(benchmark::State& state)
{
    auto subs = MakeSubscriptions();
    const QString name = QStringLiteral("server:target");
    uintptr_t i = 0;
    for (auto _ : state) benchmark::DoNotOptimize(RaiseEvent(name, ++i));
}
BENCHMARK(BM_RaiseOnUIThread);

static void BM_RaiseFromWorker(benchmark::State& state)
{
    auto subs = MakeSubscriptions();
    const QString name = QStringLiteral("server:target");
    std::vector<double> micros;
    for (auto _ : state) {
        state.PauseTiming();
        micros.clear();
        micros.reserve(1000);
        state.ResumeTiming();
        TWorkerThread worker([&](TWorkerThread&) {
            for (int i = 0; i < 1000; ++i) {
                const auto t0 = Clock::now();
                RaiseEvent(name, uintptr_t(i));
                micros.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
            }
        });
        worker.WaitFor(); // the main thread serves the deliveries meanwhile
    }
    std::sort(micros.begin(), micros.end());
    state.counters["median_us"] = micros[micros.size() / 2];
    state.counters["p99_us"] = micros[micros.size() * 99 / 100];
}
BENCHMARK(BM_RaiseFromWorker)->Iterations(5)->Unit(benchmark::kMillisecond);

PELVOX_BENCH_MAIN()
