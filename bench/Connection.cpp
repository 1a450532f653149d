// Round trips through the command connection and the test server, beside a
// plain blocking TCP echo of the same sizes.
#include "BenchMain.h"
#include "TestServer.h"
#include "core/BitDocument.h"
#include "core/Client_TCPClient.h"
#include <benchmark/benchmark.h>
#include <condition_variable>
#include <thread>

using namespace pelvox;
using namespace pelvox::testserver;

namespace {

QByteArray Document(int payloadBytes)
{
    TBitDocument d(QStringLiteral("Bench.Echo"));
    d.Root()->AddInt32Node(QStringLiteral("seq"), 1);
    d.Root()->AddBinaryNode(QStringLiteral("data"), QByteArray(payloadBytes, 'b'));
    return d.SaveToBytes();
}

bool ReadAll(TSocket& s, char* p, size_t n)
{
    while (n) {
        const int r = s.Recv(p, int(std::min<size_t>(n, 1 << 20)));
        if (r <= 0) return false;
        p += r;
        n -= size_t(r);
    }
    return true;
}

bool WriteAll(TSocket& s, const char* p, size_t n)
{
    while (n) {
        const int r = s.Send(p, int(std::min<size_t>(n, 1 << 20)));
        if (r <= 0) return false;
        p += r;
        n -= size_t(r);
    }
    return true;
}

// A blocking echo: reads one framed message whole, writes it back.
struct PlainEcho {
    TSocket Listener = TSocket::CreateTCP();
    std::thread Thread;
    PlainEcho()
    {
        Listener.Bind("127.0.0.1", 0);
        Listener.Listen();
        Thread = std::thread([this] {
            TSocket s = Listener.Accept();
            s.SetNoDelay(true);
            std::vector<char> buf;
            char header[TCP_HEADER_SIZE];
            while (ReadAll(s, header, sizeof header)) {
                const auto h = TTCPDATAHEADER::Decode(reinterpret_cast<uint8_t*>(header));
                buf.resize(TCP_HEADER_SIZE + h.dwDataSize);
                std::memcpy(buf.data(), header, TCP_HEADER_SIZE);
                if (!ReadAll(s, buf.data() + TCP_HEADER_SIZE, h.dwDataSize)) break;
                if (!WriteAll(s, buf.data(), buf.size())) break;
            }
        });
    }
    ~PlainEcho()
    {
        Listener.Shutdown();
        Thread.join();
    }
};

void PlainEchoRoundTrip(benchmark::State& state)
{
    PlainEcho echo;
    TSocket c = TSocket::CreateTCP();
    c.SetNoDelay(true);
    c.ConnectWithDeadline("127.0.0.1", echo.Listener.LocalPort(), Clock::now() + std::chrono::seconds(5), {});
    const QByteArray doc = Document(int(state.range(0)));
    TTCPDATAHEADER h;
    h.dwDataSize = uint32_t(doc.size());
    QByteArray packet(TCP_HEADER_SIZE, '\0');
    h.Encode(reinterpret_cast<uint8_t*>(packet.data()));
    packet += doc;
    std::vector<char> back(size_t(packet.size()));
    for (auto _ : state) {
        WriteAll(c, packet.constData(), size_t(packet.size()));
        ReadAll(c, back.data(), back.size());
    }
    c.Shutdown();
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(state.iterations() * int64_t(packet.size()) * 2);
}

void ConnectionRoundTrip(benchmark::State& state)
{
    TestServer server;
    server.SetLogEnabled(false);
    server.Start();
    server.RegisterHandler(TPortKind::Cmd, QStringLiteral("Bench.Echo"), [](const TRequest& r) { r.AnswerBytes(r.Document); });

    std::mutex lock;
    std::condition_variable arrived;
    uint64_t received = 0;
    TTCPClient client;
    client.SetServerAddress(QStringLiteral("127.0.0.1"));
    client.SetServerPort(server.CmdPort());
    client.SetMTUSize(int(state.range(1)));
    client.SetOnRecvData([&](TTCPClient*, const TTCPRECVDATA*) {
        {
            std::lock_guard l(lock);
            ++received;
        }
        // Outside the lock: the woken thread should not block on it at once.
        arrived.notify_one();
    });
    if (!client.Connect(5000)) {
        state.SkipWithError("connect failed");
        return;
    }
    const QByteArray doc = Document(int(state.range(0)));
    uint64_t sent = 0;
    for (auto _ : state) {
        client.SendData(doc.constData(), uint32_t(doc.size()), 0, 0);
        ++sent;
        std::unique_lock l(lock);
        arrived.wait(l, [&] { return received == sent; });
    }
    client.Disconnect();
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(state.iterations() * int64_t(doc.size() + TCP_HEADER_SIZE) * 2);
}

} // namespace

// About 200-byte documents, and one of 16 MiB.
BENCHMARK(PlainEchoRoundTrip)->Arg(130)->Arg(16 << 20)->UseRealTime()->Unit(benchmark::kMicrosecond);
// Second argument: MTUSize (1400 is the product's setting; larger shows what the per-call cap costs).
BENCHMARK(ConnectionRoundTrip)
    ->Args({130, 1400})
    ->Args({16 << 20, 1400})
    ->Args({16 << 20, 65536})
    ->UseRealTime()
    ->Unit(benchmark::kMicrosecond);

PELVOX_BENCH_MAIN()
