#include "BenchMain.h"
#include "core/BitDocument.h"
#include "core/Client_Base.h"
#include "data/Client_Contacts.h"
#include "data/Client_Departments.h"
#include <QDir>
#include <QTemporaryDir>
#include <fstream>
#include <random>
#include <thread>
#include <chrono>
#include <string>

using namespace pelvox;

namespace {

// 5,000 departments (each under a random earlier one), 100,000 colleagues,
// 2,000 contacts in 10 groups.
const TBitDocument& BigLoginAnswer()
{
    static TBitDocument doc;
    if (doc.Root()->ChildNodes().Count()) return doc;
    std::mt19937 rng(1);
    TBitNode* deps = doc.Root()->AddDirectoryNode("departments");
    for (int i = 1; i <= 5000; ++i) {
        TBitNode* e = deps->AddDirectoryNode(QString::number(i));
        e->AddInt64Node("$1", i);
        e->AddStringNode("$2", QStringLiteral("部门%1").arg(i));
        e->AddInt64Node("$3", i == 1 ? 0 : int64_t(1 + rng() % uint32_t(i - 1)));
    }
    TBitNode* users = doc.Root()->AddDirectoryNode("departmentusers");
    for (int i = 0; i < 100000; ++i) {
        TBitNode* e = users->AddDirectoryNode(QString::number(i));
        e->AddInt32Node("$1", 100000 + i);
        e->AddStringNode("$2", QStringLiteral("user%1").arg(i));
        e->AddInt16Node("$3", 0);
        e->AddStringNode("$4", QStringLiteral("昵称%1").arg(i));
        e->AddStringNode("$5", QStringLiteral("姓名%1").arg(i));
        e->AddInt16Node("$6", int16_t(1 + i % 2));
        for (int k = 1; k <= 8; ++k) e->AddStringNode(QStringLiteral("$6.%1").arg(k), k == 5 ? "13800000000" : "");
        e->AddInt32Node("$7", 1 + i % 5000);
        e->AddStringNode("$8", QStringLiteral("部门%1").arg(1 + i % 5000));
        e->AddStringNode("$9", "");
        e->AddStringNode("$10", "");
        e->AddInt16Node("$11", int16_t(i % 3 == 0 ? 1 : 0));
        e->AddInt32Node("$12", i);
        e->AddFloat64Node("$14", 0);
    }
    TBitNode* groups = doc.Root()->AddDirectoryNode("contactgroups");
    for (int g = 0; g < 10; ++g) {
        TBitNode* ge = groups->AddDirectoryNode(QString::number(g));
        ge->AddInt32Node("$1", g);
        ge->AddStringNode("$2", QStringLiteral("组%1").arg(g));
        TBitNode* cs = ge->AddDirectoryNode("contacts");
        for (int c = 0; c < 200; ++c) {
            TBitNode* ce = cs->AddDirectoryNode(QString::number(c));
            ce->AddInt32Node("$1", 100000 + g * 200 + c);
            ce->AddStringNode("$8", QStringLiteral("user%1").arg(g * 200 + c));
            ce->AddStringNode("$10", QStringLiteral("昵称%1").arg(g * 200 + c));
            ce->AddInt16Node("$17", 1);
        }
    }
    return doc;
}

struct Root {
    QTemporaryDir Dir;
    Root()
    {
        for (const char* d : {"Temp/Users", "Temp/Faces", "Temp/Photos"}) QDir(Dir.path()).mkpath(d);
        SetAppRootOverride(Dir.path() + u'/');
    }
    ~Root() { SetAppRootOverride(QString()); }
};

long ResidentKiB()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
    return 0;
}

void BM_ApplyLoginAnswer(benchmark::State& state)
{
    Root root;
    const TBitDocument& doc = BigLoginAnswer();
    for (auto _ : state) {
        const long before = ResidentKiB();
        auto deps = std::make_unique<TDepartmentManager>();
        auto contacts = std::make_unique<TContactManager>();
        deps->InitWhenLoginSuccess(doc);
        contacts->InitWhenLoginSuccess(doc);
        // Freed memory is reused by later rounds: the first round's growth is the figure.
        static const double firstRound = double(ResidentKiB() - before) / 1024.0;
        state.counters["directory_MiB"] = firstRound;
        benchmark::DoNotOptimize(deps->ColleagueCount());
        state.PauseTiming(); // freeing is not part of applying
        deps.reset();
        contacts.reset();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_ApplyLoginAnswer)->Unit(benchmark::kMillisecond)->Iterations(3);

// The login as the session runs it: the receiving thread prepares the tree,
// the UI thread only swaps it in (and frees the previous login's tree). The
// time measured is the UI thread's step; "prepare_ms" is the receiving thread's.
void BM_LoginAnswerUIThreadStep(benchmark::State& state)
{
    Root root;
    const TBitDocument& doc = BigLoginAnswer();
    auto deps = std::make_unique<TDepartmentManager>();
    auto contacts = std::make_unique<TContactManager>();
    deps->InitWhenLoginSuccess(doc); // a previous login's tree is there to be replaced
    double prepareMs = 0;
    for (auto _ : state) {
        state.PauseTiming();
        const auto start = std::chrono::steady_clock::now();
        std::thread receiver([&] {
            deps->PrepareLoginData(doc);
            contacts->PrepareLoginData(doc);
        });
        receiver.join();
        prepareMs = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
        state.ResumeTiming();
        deps->InitWhenLoginSuccess(doc);
        contacts->InitWhenLoginSuccess(doc);
        benchmark::DoNotOptimize(deps->ColleagueCount());
    }
    state.counters["prepare_ms"] = prepareMs;
}
BENCHMARK(BM_LoginAnswerUIThreadStep)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_PresencePush(benchmark::State& state)
{
    Root root;
    TDepartmentManager deps;
    deps.InitWhenLoginSuccess(BigLoginAnswer());
    std::mt19937 rng(3);
    for (auto _ : state) {
        const int32_t id = 100000 + int32_t(rng() % 100000);
        const TLoginStatus s = TLoginStatus(rng() % 6);
        deps.UpdateUserLoginStatus(id, s);
        deps.UpdateOnlineCount();
    }
}
BENCHMARK(BM_PresencePush);

void BM_FindByIdAndName(benchmark::State& state)
{
    Root root;
    TDepartmentManager deps;
    deps.InitWhenLoginSuccess(BigLoginAnswer());
    const QString id = QStringLiteral("154321"), name = QStringLiteral("user77777");
    for (auto _ : state) {
        benchmark::DoNotOptimize(deps.FindDepartUser(id));
        benchmark::DoNotOptimize(deps.FindDepartUser(name));
    }
}
BENCHMARK(BM_FindByIdAndName);

} // namespace

PELVOX_BENCH_MAIN()
