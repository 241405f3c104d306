// Base64 throughput against OpenSSL's EVP_EncodeBlock/EVP_DecodeBlock.
#include <benchmark/benchmark.h>
#include <openssl/evp.h>

#include <random>
#include <string>
#include <vector>

#include "base64.h"

namespace {

constexpr size_t kInput = 1 << 20;

// The encoder takes NUL-terminated input, so the data is NUL-free text.
const std::string& plain() {
    static const std::string text = [] {
        std::mt19937 rng(7);
        std::string s(kInput, ' ');
        for (auto& c : s) c = static_cast<char>(1 + rng() % 255);
        return s;
    }();
    return text;
}

const std::string& encoded() {
    static const std::string text = [] {
        std::string out(4 * ((kInput + 2) / 3) + 1, '\0');
        EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                        reinterpret_cast<const unsigned char*>(plain().data()), static_cast<int>(kInput));
        out.resize(out.size() - 1);
        return out;
    }();
    return text;
}

void encode_ours(benchmark::State& state) {
    std::vector<char> out(4 * ((kInput + 2) / 3) + 1);
    for (auto _ : state) {
        sdk_base64_encode(reinterpret_cast<const unsigned char*>(plain().c_str()), out.data());
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kInput));
}

void encode_openssl(benchmark::State& state) {
    std::vector<unsigned char> out(4 * ((kInput + 2) / 3) + 1);
    for (auto _ : state) {
        EVP_EncodeBlock(out.data(), reinterpret_cast<const unsigned char*>(plain().data()), static_cast<int>(kInput));
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kInput));
}

void decode_ours(benchmark::State& state) {
    std::vector<unsigned char> out(kInput + 4);
    for (auto _ : state) {
        sdk_base64_decode(encoded().c_str(), out.data());
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * encoded().size()));
}

void decode_openssl(benchmark::State& state) {
    std::vector<unsigned char> out(kInput + 4);
    for (auto _ : state) {
        EVP_DecodeBlock(out.data(), reinterpret_cast<const unsigned char*>(encoded().data()),
                        static_cast<int>(encoded().size()));
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * encoded().size()));
}

}  // namespace

BENCHMARK(encode_openssl)->Name("base64_encode/anchor_openssl");
BENCHMARK(encode_ours)->Name("base64_encode/quorbit");
BENCHMARK(decode_openssl)->Name("base64_decode/anchor_openssl");
BENCHMARK(decode_ours)->Name("base64_decode/quorbit");
BENCHMARK_MAIN();
