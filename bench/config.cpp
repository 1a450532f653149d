// Loading and saving a full per-user "Config.xml" (goal: at most 2 ms each).
#include "BenchMain.h"
#include "core/Client_Base.h"
#include "core/Client_Session.h"
#include "core/Client_SystemConfig.h"
#include "core/XmlFile.h"
#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

using namespace pelvox;

namespace {

class BenchSession : public ISession {
public:
    explicit BenchSession(QString root) : FRoot(std::move(root)) {}
    bool Logined() const override { return true; }
    void SendMainCmdData(TBitDocument&, bool) override {}
    TDateTime ServerTime() const override { return 0; }
    QString UserRoot() const override { return FRoot; }
    uint32_t CurrentUserId() const override { return 1001; }

private:
    QString FRoot;
};

// Every setting away from its default, with a realistic list of quick replies.
void Fill(TSystemConfig& c, const QString& root)
{
    c.GeneralOptions().AutoLogin = true;
    c.HotkeyOptions().ReadMsg_KeyValue = 0x6041;
    c.SoundOptions().Message = root + QStringLiteral("Sound/New.wav");
    c.LoginStatusOptions().NoneMouseTime = 15;
    for (int i = 0; i < 20; ++i) c.ChatOptions().QuickReplyList << QStringLiteral("快捷回复 %1：稍后联系").arg(i);
    c.FileTransOptions().SetSavePath(root + QStringLiteral("Users/1001/Received Files"));
    c.MultimediaOptions().CameraDeviceName = QStringLiteral("USB 摄像头");
}

// A scratch application root.
struct ScratchRoot {
    QTemporaryDir dir;
    ScratchRoot()
    {
        QDir(dir.path()).mkpath(QStringLiteral("Config"));
        SetAppRootOverride(dir.path());
    }
    ~ScratchRoot() { SetAppRootOverride(QString()); }
    QString Path() const { return dir.path() + u'/'; }
};

struct Env {
    ScratchRoot root;
    BenchSession session{root.Path() + QStringLiteral("Users/1001/")};
    TSystemConfig config{&session};
    Env()
    {
        Fill(config, root.Path());
        config.SaveData();
    }
};

void BM_SaveConfigXml(benchmark::State& state)
{
    Env env;
    for (auto _ : state) env.config.SaveData();
    state.SetLabel("Config.xml + Network.xml + Multimedia.xml");
}
BENCHMARK(BM_SaveConfigXml)->Unit(benchmark::kMicrosecond);

void BM_LoadConfigXml(benchmark::State& state)
{
    Env env;
    for (auto _ : state) env.config.LoadData();
    state.SetLabel("Config.xml + Network.xml + Multimedia.xml");
}
BENCHMARK(BM_LoadConfigXml)->Unit(benchmark::kMicrosecond);

void BM_LoadConfigOnly(benchmark::State& state)
{
    Env env;
    for (auto _ : state) env.config.LoadConfigFile();
}
BENCHMARK(BM_LoadConfigOnly)->Unit(benchmark::kMicrosecond);

// The per-user file alone: built, serialised, flushed to disk, renamed.
void BM_SaveConfigOnly(benchmark::State& state)
{
    Env env;
    for (auto _ : state) env.config.SaveConfigFile();
}
BENCHMARK(BM_SaveConfigOnly)->Unit(benchmark::kMicrosecond);

void BM_SerialiseConfigOnly(benchmark::State& state)
{
    Env env;
    for (auto _ : state) benchmark::DoNotOptimize(env.config.ConfigToBytes());
}
BENCHMARK(BM_SerialiseConfigOnly)->Unit(benchmark::kMicrosecond);

} // namespace

PELVOX_BENCH_MAIN()
