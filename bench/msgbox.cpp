// The message box with 10,000 items: what the tray and the main window read
// on every refresh.
#include "BenchMain.h"
#include "data/Client_MsgBox.h"
#include <QCoreApplication>
#include <benchmark/benchmark.h>

using namespace pelvox;

namespace {

constexpr int ItemCount = 10000;

// Chats from 500 people, messages of 50 groups and 50 rooms (a third without
// blinking), join requests; every fifth item already read.
std::unique_ptr<TMsgBoxManager> MakeBox()
{
    auto box = std::make_unique<TMsgBoxManager>();
    for (int i = 0; i < ItemCount; ++i) {
        TMsgBoxItem* item = nullptr;
        switch (i % 4) {
        case 0: {
            auto m = std::make_unique<TMsgBoxItem_ChatMsg>();
            m->SetSender_UserId(1000 + i % 500);
            item = box->Items().InsertFront(std::move(m));
            break;
        }
        case 1: {
            auto m = std::make_unique<TMsgBoxItem_GroupChatMsg>();
            m->SetGroupId(i % 50);
            m->SetNeedBlink(i % 3 != 0);
            item = box->Items().InsertFront(std::move(m));
            break;
        }
        case 2: {
            auto m = std::make_unique<TMsgBoxItem_RoomChatMsg>();
            m->SetRoomId(i % 50);
            m->SetNeedBlink(i % 3 != 0);
            item = box->Items().InsertFront(std::move(m));
            break;
        }
        default: {
            auto m = std::make_unique<TMsgBoxItem_JoinRequest>();
            m->SetSender(2000 + i % 100);
            item = box->Items().InsertFront(std::move(m));
        }
        }
        item->SetReaded(i % 5 == 0);
    }
    return box;
}

void BM_UnreadCount(benchmark::State& state)
{
    const auto box = MakeBox();
    const bool onlyBlink = state.range(0) != 0;
    int classes = 0, count = 0;
    for (auto _ : state) {
        count = box->GetUnReadMsgBoxItemCount(onlyBlink, classes);
        benchmark::DoNotOptimize(count);
    }
    state.counters["count"] = count;
    state.counters["classes"] = classes;
}
BENCHMARK(BM_UnreadCount)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

// Worst case: only the oldest item is unread.
void BM_FirstUnreadItem(benchmark::State& state)
{
    const auto box = MakeBox();
    box->IgnoreAllMsgBoxItems();
    box->Items()[ItemCount - 1]->SetReaded(false);
    for (auto _ : state) benchmark::DoNotOptimize(box->GetFirstUnReadMsgBoxItem(true));
}
BENCHMARK(BM_FirstUnreadItem)->Unit(benchmark::kMicrosecond);

void BM_IgnoreChatMsgs(benchmark::State& state)
{
    const auto box = MakeBox();
    int32_t user = 1000;
    for (auto _ : state) box->IgnoreChatMsgs(user++ % 500 + 1000);
}
BENCHMARK(BM_IgnoreChatMsgs)->Unit(benchmark::kMicrosecond);

} // namespace

PELVOX_BENCH_MAIN()
