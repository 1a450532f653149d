// From Login to "Client:OnLoginSuccess" against the test server on loopback
// with the demo fixture. The curves are generated once, before timing.
#include "BenchMain.h"
#include "TestLogin.h"
#include "TestServer.h"
#include "core/Client_BindingEvents.h"
#include "core/Client_GlobalClient.h"
#include "core/MD5.h"
#include <QCoreApplication>
#include <QFileInfo>
#include <QTemporaryDir>

using namespace pelvox;

static void BM_LoginToSuccess(benchmark::State& state)
{
    QTemporaryDir dir;
    SetAppRootOverride(dir.path() + QLatin1Char('/'));
    testserver::TestServer server;
    if (!server.Start()) return state.SkipWithError("server");
    const QString fixture =
        QFileInfo(QStringLiteral(__FILE__)).dir().filePath(QStringLiteral("../testserver/fixtures/demo.json"));
    auto service = testserver::InstallStandardServices(server, fixture);
    if (!service) return state.SkipWithError("fixture");

    TGlobalClient client;
    auto& items = client.SystemConfig().NetworkOptions().Items();
    items.clear();
    auto item = std::make_unique<TNetworkItem>();
    item->SetAddress(QStringLiteral("127.0.0.1"));
    item->Port = server.CmdPort();
    items.push_back(std::move(item));
    client.SystemConfig().NetworkOptions().SaveData();
    client.LoginParams().SetLoginName(QStringLiteral("demo"));
    client.LoginParams().SetPassword(PasswordDigest(QStringLiteral("pelvox")));

    std::atomic<bool> success{false};
    TBindingEvent onSuccess(QStringLiteral("Client:OnLoginSuccess"), [&](TBindingEvent&) { success = true; });
    for (auto _ : state) {
        success = false;
        const auto start = std::chrono::steady_clock::now();
        client.Login();
        while (!success) {
            UIThread::WaitFor([&] { return success.load(); }, std::chrono::milliseconds(1));
            QCoreApplication::processEvents();
        }
        state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        client.Logout();
    }
    SetAppRootOverride(QString());
}
BENCHMARK(BM_LoginToSuccess)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(20)->Repetitions(5)
    ->ReportAggregatesOnly(true);

PELVOX_BENCH_MAIN()
