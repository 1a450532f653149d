// The message store on a realistic history: 1,000,000 one-to-one messages, of
// which 100,000 belong to one conversation (every tenth message).
#include "BenchMain.h"
#include "data/Client_UserDb.h"
#include <QCoreApplication>
#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <algorithm>
#include <benchmark/benchmark.h>
#include <chrono>
#include <memory>

using namespace pelvox;

namespace {

constexpr int TotalMessages = 1000000;
constexpr int BigEvery = 10; // every tenth message is in the big conversation
constexpr int32_t Me = 1, Big = 2;
const QString Font = QStringLiteral("\"宋体\", 9, [], [000000]");

QByteArray NewId(uint64_t n)
{
    return QCryptographicHash::hash(QByteArray::number(qulonglong(n)), QCryptographicHash::Md5).toHex();
}

QString Content(int i)
{
    static const QString words[] = {QStringLiteral("好的，下午三点开会讨论一下这个方案。"), QStringLiteral("Please review the attached figures before Friday."),
                                    QStringLiteral("收到[Msg_Image]a1b2c3d4e5f60718293a4b5c6d7e8f90.png[/Msg_Image]"),
                                    QStringLiteral("明天我不在办公室，有事打电话。")};
    return words[i % 4] + QString::number(i);
}

struct Fixture {
    QTemporaryDir Dir;
    std::unique_ptr<TUSERDBManager> Db = std::make_unique<TUSERDBManager>();
    int64_t RawBytes = 0;
    uint64_t NextId = 0;
    TDateTime NextTime = 45000.0;

    Fixture()
    {
        // USERDB_BENCH_STORE caches the built store between runs (a reused store's size is not reported).
        const QString cache = qEnvironmentVariable("USERDB_BENCH_STORE");
        if (!cache.isEmpty() && QFileInfo::exists(cache)) {
            QFile::copy(cache, Dir.filePath(TUSERDBManager::FileName));
            Db->SetDBFileName(Dir.filePath(TUSERDBManager::FileName));
            Db->OpenDatabase();
            NextId = TotalMessages;
            NextTime += TotalMessages / 86400.0;
            return;
        }
        Db->SetDBFileName(Dir.filePath(TUSERDBManager::FileName));
        Db->OpenDatabase();
        const auto start = std::chrono::steady_clock::now();
        for (int batch = 0; batch < TotalMessages; batch += 100000) {
            Db->BeginBatch();
            for (int i = batch; i < batch + 100000; ++i) Add(i);
            Db->CommitBatch();
        }
        const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        fprintf(stderr, "built %d messages in %.1f s\n", TotalMessages, s);
        Db->CloseDatabase();
        if (!cache.isEmpty()) QFile::copy(Db->DBFileName(), cache);
        Db->OpenDatabase();
    }

    bool Add(int i)
    {
        const bool big = i % BigEvery == 0;
        const int32_t other = big ? Big : 100 + i % 900;
        const bool sent = i % 2 == 0;
        const QByteArray id = NewId(NextId++);
        const QString content = Content(i);
        const QString nick = sent ? QString() : QStringLiteral("张三");
        RawBytes += 2 * (id.size() + content.size() + Font.size() + nick.size());
        NextTime += 1.0 / 86400;
        return sent ? Db->AddMessage(id, mtChatMsg, mlNormal, content, Font, Me, "", "", other, "", "", NextTime)
                    : Db->AddMessage(id, mtChatMsg, mlNormal, content, Font, other, nick, "", Me, "", "", NextTime);
    }
};

Fixture& Store()
{
    static Fixture f;
    return f;
}

void BM_FileSize(benchmark::State& state)
{
    Fixture& f = Store();
    for (auto _ : state) benchmark::DoNotOptimize(f.RawBytes);
    f.Db->CloseDatabase(); // fold the journal into the file before measuring it
    const double file = double(QFileInfo(f.Db->DBFileName()).size());
    f.Db->OpenDatabase();
    if (f.RawBytes == 0) return;
    state.counters["file_MB"] = file / 1e6;
    state.counters["raw_utf16_MB"] = double(f.RawBytes) / 1e6;
    state.counters["ratio"] = file / double(f.RawBytes);
}
BENCHMARK(BM_FileSize)->Iterations(1);

// Single adds, each its own transaction: the percentiles of 10,000 of them,
// after 10,000 untimed ones that bring the touched pages into memory (the
// steady state of a running client).
void BM_AddMessage(benchmark::State& state)
{
    Fixture& f = Store();
    std::vector<double> ms;
    int i = 1;
    for (int n = 0; n < 10000; ++n, i += 7) f.Add(i);
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        f.Add(i);
        ms.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
        i += 7;
    }
    std::sort(ms.begin(), ms.end());
    state.counters["p50_ms"] = ms[ms.size() / 2];
    state.counters["p90_ms"] = ms[ms.size() * 90 / 100];
    state.counters["p99_ms"] = ms[ms.size() * 99 / 100];
    state.counters["max_ms"] = ms.back();
}
BENCHMARK(BM_AddMessage)->Iterations(10000)->Unit(benchmark::kMicrosecond);

// A burst of offline messages stored in one transaction.
void BM_AddBurst(benchmark::State& state)
{
    Fixture& f = Store();
    int i = 3;
    for (auto _ : state) {
        f.Db->BeginBatch();
        for (int n = 0; n < 10000; ++n, i += 7) f.Add(i);
        f.Db->CommitBatch();
    }
    state.SetItemsProcessed(state.iterations() * 10000);
}
BENCHMARK(BM_AddBurst)->Iterations(3)->Unit(benchmark::kMillisecond);

void ReadPage(benchmark::State& state, int page)
{
    Fixture& f = Store();
    int maxPage = 0;
    size_t got = 0;
    for (auto _ : state) {
        TUSERDBOBJ_Messages out;
        f.Db->GetMessages(Me, Big, 80, page, out, maxPage);
        got = out.size();
    }
    state.counters["records"] = double(got);
    state.counters["pages"] = maxPage;
}

void BM_FirstPage(benchmark::State& state) { ReadPage(state, 1); }
void BM_LastPage(benchmark::State& state) { ReadPage(state, -1); }
void BM_MiddlePage(benchmark::State& state)
{
    TUSERDBOBJ_Messages out;
    int maxPage = 1;
    Store().Db->GetMessages(Me, Big, 80, 1000000, out, maxPage);
    ReadPage(state, (maxPage + 1) / 2);
}
// The page count alone: a page past the end reads no records.
void BM_PageCount(benchmark::State& state) { ReadPage(state, 1000000); }
BENCHMARK(BM_FirstPage)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LastPage)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MiddlePage)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PageCount)->Unit(benchmark::kMillisecond);

void BM_OpenStore(benchmark::State& state)
{
    Fixture& f = Store();
    f.Db->CloseDatabase();
    for (auto _ : state) {
        f.Db->OpenDatabase();
        state.PauseTiming();
        f.Db->CloseDatabase();
        state.ResumeTiming();
    }
    f.Db->OpenDatabase();
}
BENCHMARK(BM_OpenStore)->Unit(benchmark::kMillisecond);

// Destroys the big conversation: runs last, once.
void BM_ClearBigConversation(benchmark::State& state)
{
    Fixture& f = Store();
    TUSERDBOBJ_Messages out;
    int maxPage = 0;
    f.Db->GetMessages(Me, Big, 80, 1000000, out, maxPage);
    state.counters["pages_before"] = maxPage;
    for (auto _ : state) f.Db->ClearMessages(Me, Big);
    f.Db->GetMessages(Me, Big, 80, 1000000, out, maxPage);
    state.counters["pages_after"] = maxPage;
}
BENCHMARK(BM_ClearBigConversation)->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace

PELVOX_BENCH_MAIN()
