// MD5, AES-128 ECB and curve generation, side by side with OpenSSL.
//
// The AES comparison is against OpenSSL's software AES: unless
// OPENSSL_ia32cap is already set, the program re-executes itself with
// OPENSSL_ia32cap="~0x200000200000000" (AES-NI and PCLMULQDQ off). Set
// PELVOX_BENCH_AESNI=1 to compare against AES-NI instead.
#include "core/AES.h"
#include "core/ECC.h"
#include "core/MD5.h"
#include <benchmark/benchmark.h>
#include <cstdlib>
#include <openssl/evp.h>
#include <random>
#include <unistd.h>

using namespace pelvox;

namespace {

constexpr size_t BufferSize = 1 << 20;

const std::vector<uint8_t>& Data()
{
    static const std::vector<uint8_t> data = [] {
        std::vector<uint8_t> d(BufferSize);
        std::mt19937 rng(7);
        for (uint8_t& b : d)
            b = uint8_t(rng());
        return d;
    }();
    return data;
}

const TAESKey Key = AESKeyFromText("benchmark key 16");

void BM_MD5_Pelvox(benchmark::State& state)
{
    const auto& data = Data();
    for (auto _ : state)
        benchmark::DoNotOptimize(MD5Buffer(data.data(), data.size()));
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(data.size()));
}
BENCHMARK(BM_MD5_Pelvox);

void BM_MD5_OpenSSL(benchmark::State& state)
{
    const auto& data = Data();
    unsigned char digest[16];
    for (auto _ : state) {
        EVP_Digest(data.data(), data.size(), digest, nullptr, EVP_md5(), nullptr);
        benchmark::DoNotOptimize(digest);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(data.size()));
}
BENCHMARK(BM_MD5_OpenSSL);

template <bool Encrypt>
void BM_AES128ECB_Pelvox(benchmark::State& state)
{
    const auto& data = Data();
    std::vector<uint8_t> out(data.size());
    TAESExpandedKey key;
    Encrypt ? AESExpandEncryptKey(Key, key) : AESExpandDecryptKey(Key, key);
    for (auto _ : state) {
        if (Encrypt)
            AESEncryptBlocks(key, data.data(), out.data(), data.size() / 16);
        else
            AESDecryptBlocks(key, data.data(), out.data(), data.size() / 16);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(data.size()));
}
BENCHMARK(BM_AES128ECB_Pelvox<true>)->Name("BM_AES128ECB_Encrypt_Pelvox");
BENCHMARK(BM_AES128ECB_Pelvox<false>)->Name("BM_AES128ECB_Decrypt_Pelvox");

template <bool Encrypt>
void BM_AES128ECB_OpenSSL(benchmark::State& state)
{
    const auto& data = Data();
    std::vector<uint8_t> out(data.size() + 16);
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    EVP_CipherInit_ex(ctx, EVP_aes_128_ecb(), nullptr, Key.data(), nullptr, Encrypt ? 1 : 0);
    EVP_CIPHER_CTX_set_padding(ctx, 0);
    for (auto _ : state) {
        int n = 0;
        EVP_CipherUpdate(ctx, out.data(), &n, data.data(), int(data.size()));
        benchmark::DoNotOptimize(out.data());
    }
    EVP_CIPHER_CTX_free(ctx);
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(data.size()));
}
BENCHMARK(BM_AES128ECB_OpenSSL<true>)->Name("BM_AES128ECB_Encrypt_OpenSSL");
BENCHMARK(BM_AES128ECB_OpenSSL<false>)->Name("BM_AES128ECB_Decrypt_OpenSSL");

// What every program start does: both key objects generate their curves.
void BM_GenerateBothCurves(benchmark::State& state)
{
    for (auto _ : state) {
        TECC client;
        client.Init(ClientCurvePrime);
        TPublicECC server;
        server.Init(ServerCurvePrime);
        benchmark::DoNotOptimize(client.Curve().n);
        benchmark::DoNotOptimize(server.Curve().n);
    }
    state.SetLabel("goal <= 50 ms");
}
BENCHMARK(BM_GenerateBothCurves)->Unit(benchmark::kMillisecond);

// A session key for one login: generating a key pair and deciphering.
void BM_KeyExchange(benchmark::State& state)
{
    TECC client;
    client.Init(ClientCurvePrime);
    TPublicECC sender;
    sender.Init(ClientCurvePrime);
    for (auto _ : state) {
        client.SetPrivateKey(NewECCSecretText());
        sender.SetPublicKey(client.PublicKey());
        benchmark::DoNotOptimize(client.Decrypt(sender.Encrypt("0123456789ABCDEF0123456789ABCDEF")));
    }
}
BENCHMARK(BM_KeyExchange)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv)
{
    // OpenSSL reads its CPU capability mask when it loads, so the mask has
    // to be in the environment before the process starts.
    if (!std::getenv("OPENSSL_ia32cap") && !std::getenv("PELVOX_BENCH_AESNI")) {
        setenv("OPENSSL_ia32cap", "~0x200000200000000", 1);
        execv("/proc/self/exe", argv);
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
