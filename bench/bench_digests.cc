// MD5 and SHA-256 throughput against OpenSSL's EVP digests, and a local
// storage save+load round trip of a 64 MiB file against cp of the same file.
#include <benchmark/benchmark.h>
#include <openssl/evp.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "codecs/sha256_internal.h"
#include "qb_storage.h"
#include "sdk_file_ops.h"
#include "sdk_logger.h"
#include "sdk_md5.h"
#include "sha256.h"

extern char** environ;

namespace {

constexpr size_t kSmall = 16 << 10;
constexpr size_t kLarge = 16 << 20;
constexpr size_t kStored = 64 << 20;

const std::vector<unsigned char>& input() {
    static const std::vector<unsigned char> data = [] {
        std::vector<unsigned char> v(kStored);
        std::mt19937 rng(42);
        for (auto& b : v) b = static_cast<unsigned char>(rng());
        return v;
    }();
    return data;
}

void openssl_digest(benchmark::State& state, const EVP_MD* md, size_t n) {
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    unsigned char out[EVP_MAX_MD_SIZE];
    unsigned int len = 0;
    for (auto _ : state) {
        EVP_DigestInit_ex(ctx, md, nullptr);
        EVP_DigestUpdate(ctx, input().data(), n);
        EVP_DigestFinal_ex(ctx, out, &len);
        benchmark::DoNotOptimize(out);
    }
    EVP_MD_CTX_free(ctx);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * n));
}

void md5_ours(benchmark::State& state, size_t n) {
    unsigned char out[16];
    for (auto _ : state) {
        MD5_CTX ctx;
        MD5Init(&ctx);
        MD5Update(&ctx, const_cast<unsigned char*>(input().data()), static_cast<unsigned>(n));
        MD5Final(out, &ctx);
        benchmark::DoNotOptimize(out);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * n));
}

void sha256_ours(benchmark::State& state, size_t n, qb::sha256::Impl impl) {
    if (!qb::sha256::select(impl)) {
        state.SkipWithError("no SHA extensions on this CPU");
        return;
    }
    uint8_t out[32];
    for (auto _ : state) {
        sha256_context ctx;
        ext_sha256_init(&ctx);
        ext_sha256_hash(&ctx, const_cast<uint8_t*>(input().data()), static_cast<uint32_t>(n));
        ext_sha256_done(&ctx, out);
        benchmark::DoNotOptimize(out);
    }
    qb::sha256::select(qb::sha256::Impl::automatic);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * n));
}

// A scratch tree for the storage round trip, set up as a platform component.
struct StorageScratch {
    std::string root;
    std::string source;
    QB_Storage storage = nullptr;
    StorageScratch() {
        std::string tmpl = (std::filesystem::temp_directory_path() / "qbbench.XXXXXX").string();
        if (!mkdtemp(tmpl.data())) return;
        root = tmpl;
        source = root + "/source.bin";
        File_Write(source.data(), reinterpret_cast<char*>(const_cast<unsigned char*>(input().data())), kStored);
        setenv("QB_MQ_TYPE", "redis", 1);
        setenv("QB_STORAGE_TYPE", "local", 1);
        setenv("QB_USER_ID", "u", 1);
        setenv("QB_APP_ID", "a", 1);
        setenv("QB_NODE_ID", "n", 1);
        setenv("QB_STORAGE_LOCAL_TEMP_STORE", root.c_str(), 1);
        storage = qb_storage_init();
    }
    ~StorageScratch() {
        if (storage) qb_storage_deinit(storage);
        std::error_code ec;
        if (!root.empty()) std::filesystem::remove_all(root, ec);
    }
};

StorageScratch& scratch() {
    static StorageScratch s;
    return s;
}

using Clock = std::chrono::steady_clock;

void cp_anchor(benchmark::State& state) {
    auto& s = scratch();
    std::string dest = s.root + "/copy.bin";
    char* argv[] = {const_cast<char*>("cp"), s.source.data(), dest.data(), nullptr};
    for (auto _ : state) {
        auto t0 = Clock::now();
        pid_t pid;
        int status = -1;
        if (posix_spawnp(&pid, "cp", nullptr, nullptr, argv, environ) != 0 || waitpid(pid, &status, 0) < 0 ||
            status != 0) {
            state.SkipWithError("cp failed");
            return;
        }
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - t0).count());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kStored));
}

// Save the file's bytes as a temporary file, then load them back.
void storage_ours(benchmark::State& state) {
    auto& s = scratch();
    if (!s.storage) {
        state.SkipWithError("storage set-up failed");
        return;
    }
    char* data = reinterpret_cast<char*>(const_cast<unsigned char*>(input().data()));
    for (auto _ : state) {
        auto t0 = Clock::now();
        char* url = qb_tmp_file_save(s.storage, const_cast<char*>("r1"), const_cast<char*>("out"),
                                     const_cast<char*>("x.bin"), data, static_cast<int>(kStored));
        char* back = nullptr;
        int len = 0;
        int rc = url ? qb_tmp_file_load(s.storage, url, const_cast<char*>("x.bin"), &back, &len) : -1;
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - t0).count());
        free(url);
        free(back);
        if (rc != 0 || len != static_cast<int>(kStored)) {
            state.SkipWithError("storage round trip failed");
            return;
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kStored));
}

}  // namespace

BENCHMARK_CAPTURE(openssl_digest, md5_16k, EVP_md5(), kSmall)->Name("md5_16KiB/anchor_openssl");
BENCHMARK_CAPTURE(md5_ours, md5_16k, kSmall)->Name("md5_16KiB/quorbit");
BENCHMARK_CAPTURE(openssl_digest, md5_16m, EVP_md5(), kLarge)->Name("md5_16MiB/anchor_openssl");
BENCHMARK_CAPTURE(md5_ours, md5_16m, kLarge)->Name("md5_16MiB/quorbit");
BENCHMARK_CAPTURE(openssl_digest, sha_16k, EVP_sha256(), kSmall)->Name("sha256_16KiB/anchor_openssl");
BENCHMARK_CAPTURE(sha256_ours, auto_16k, kSmall, qb::sha256::Impl::automatic)->Name("sha256_16KiB/quorbit");
BENCHMARK_CAPTURE(sha256_ours, port_16k, kSmall, qb::sha256::Impl::portable)->Name("sha256_16KiB/quorbit_portable");
BENCHMARK_CAPTURE(openssl_digest, sha_16m, EVP_sha256(), kLarge)->Name("sha256_16MiB/anchor_openssl");
BENCHMARK_CAPTURE(sha256_ours, auto_16m, kLarge, qb::sha256::Impl::automatic)->Name("sha256_16MiB/quorbit");
BENCHMARK_CAPTURE(sha256_ours, port_16m, kLarge, qb::sha256::Impl::portable)->Name("sha256_16MiB/quorbit_portable");
BENCHMARK(cp_anchor)->Name("storage_64MiB/anchor_cp")->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(storage_ours)->Name("storage_64MiB/quorbit_save_load")->UseManualTime()->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
    sdk_set_log_level(SDK_LOG_LEVEL_ERROR);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    scratch();  // input generation and set-up stay out of the first measurement
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
