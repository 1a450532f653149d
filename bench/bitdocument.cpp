// Saving and loading a document the size of a large login answer.
#include "BenchMain.h"
#include "core/BitDocument.h"
#include <benchmark/benchmark.h>

using namespace pelvox;

namespace {

// About 100,000 nodes, mostly texts and 32-bit integers, shaped like the
// answer that carries a whole organisation's directory.
std::unique_ptr<TBitDocument> MakeLoginAnswer()
{
    static const char16_t* family[] = {u"王", u"李", u"张", u"刘", u"陈", u"杨", u"黄", u"赵"};
    static const char16_t* given[] = {u"伟", u"芳", u"娜", u"秀英", u"敏", u"静", u"丽", u"强", u"磊", u"军"};
    auto doc = std::make_unique<TBitDocument>(QStringLiteral("Users.Login[ACK]"));
    TBitNode* root = doc->Root();
    root->AddInt32Node("errorcode", 0);
    root->AddInt32Node("userid", 10001);
    root->AddUInt8Node("loginstatus", 1);
    root->AddFloat64Node("servertime", 45321.5);
    TBitNode* info = root->AddDirectoryNode("userinfo");
    for (int i = 0; i < 20; ++i)
        info->AddStringNode(QStringLiteral("field%1").arg(i), QStringLiteral("value of field %1").arg(i));

    TBitNode* departs = root->AddDirectoryNode("departs");
    for (int i = 0; i < 500; ++i) {
        TBitNode* d = departs->AddDirectoryNode(QString::number(i));
        d->AddInt32Node("id", 100 + i);
        d->AddInt32Node("parentid", i / 10);
        d->AddStringNode("name", QStringLiteral("研发中心第%1部门").arg(i));
        d->AddInt32Node("order", i);
    }
    TBitNode* users = root->AddDirectoryNode("users");
    for (int i = 0; i < 7300; ++i) {
        TBitNode* u = users->AddDirectoryNode(QString::number(i));
        u->AddInt32Node("id", 20000 + i);
        u->AddStringNode("username", QStringLiteral("user%1").arg(i));
        u->AddStringNode("name", QString::fromUtf16(family[i % 8]) + QString::fromUtf16(given[(i / 8) % 10]));
        u->AddInt16Node("sex", int16_t(1 + i % 2));
        u->AddInt32Node("departid", 100 + i % 500);
        u->AddStringNode("title", QStringLiteral("工程师"));
        u->AddStringNode("mobile", QStringLiteral("1380000%1").arg(i, 4, 10, QChar('0')));
        u->AddStringNode("email", QStringLiteral("user%1@example.com").arg(i));
        u->AddUInt8Node("status", uint8_t(i % 6));
        u->AddInt32Node("faceid", i % 100);
        u->AddStringNode("sign", QStringLiteral("个人签名 %1").arg(i));
        u->AddFloat64Node("modifytime", 45000.0 + i);
    }
    return doc;
}

int CountNodes(const TBitNode* ANode)
{
    int n = 1;
    for (const TBitNode* c : ANode->ChildNodes())
        n += CountNodes(c);
    return n;
}

void BM_SaveLoginAnswer(benchmark::State& state)
{
    const auto doc = MakeLoginAnswer();
    int64_t bytes = 0;
    for (auto _ : state) {
        QByteArray buffer(doc->Size(), Qt::Uninitialized);
        doc->SaveToBuffer(buffer.data());
        benchmark::DoNotOptimize(buffer.data());
        bytes += buffer.size();
    }
    state.SetBytesProcessed(bytes);
    state.counters["nodes"] = CountNodes(doc->Root());
    state.counters["docbytes"] = doc->Size();
}

// A fresh document per answer, as the receive path does, freed afterwards.
void BM_LoadLoginAnswer(benchmark::State& state)
{
    const QByteArray bytes = MakeLoginAnswer()->SaveToBytes();
    for (auto _ : state) {
        TBitDocument doc;
        doc.LoadFromBuffer(bytes.constData(), bytes.size());
        benchmark::DoNotOptimize(doc.Root());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * bytes.size());
}

// Parsing alone, without freeing the previous tree.
void BM_LoadLoginAnswerParseOnly(benchmark::State& state)
{
    const QByteArray bytes = MakeLoginAnswer()->SaveToBytes();
    for (auto _ : state) {
        auto doc = std::make_unique<TBitDocument>();
        doc->LoadFromBuffer(bytes.constData(), bytes.size());
        state.PauseTiming();
        doc.reset();
        state.ResumeTiming();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * bytes.size());
}

} // namespace

BENCHMARK(BM_SaveLoginAnswer)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadLoginAnswer)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadLoginAnswerParseOnly)->Unit(benchmark::kMillisecond);

PELVOX_BENCH_MAIN()
