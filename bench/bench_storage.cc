// The local storage backend against cp: a 64 MiB file saved and loaded back
// through the storage API, and copied with ls_copy. cp runs as a process
// started from this binary; its time and page faults are taken around it.
#include <benchmark/benchmark.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "local_storage.h"

extern char** environ;

namespace {

constexpr int kReps = 3;

size_t file_bytes() {
    const char* v = getenv("QB_BENCH_SCALE");
    const long n = v ? atol(v) : 1;
    return (size_t{64} << 20) / static_cast<size_t>(n > 0 ? n : 1);
}

struct Root {
    std::string dir;
    LS_Handle ls = nullptr;
    Root() {
        std::string tmpl = (std::filesystem::temp_directory_path() / "qbstore.XXXXXX").string();
        dir = mkdtemp(tmpl.data()) ? tmpl : "/tmp";
        setenv("QB_MQ_TYPE", "redis", 1);
        setenv("QB_STORAGE_TYPE", "local", 1);
        setenv("QB_STORAGE_LOCAL_TEMP_STORE", dir.c_str(), 1);
        setenv("QB_USER_ID", "u", 1);
        setenv("QB_APP_ID", "a", 1);
        setenv("QB_NODE_ID", "n", 1);
        ls = ls_init();
        std::vector<char> data(file_bytes());
        for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 2654435761u >> 24);
        free(ls_save_file(ls, const_cast<char*>("r"), nullptr, const_cast<char*>("src.bin"), data.data(),
                          static_cast<int>(data.size())));
    }
    ~Root() {
        ls_deinit(ls);
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }
    // The file every benchmark reads, relative to the root.
    static constexpr const char* kSource = "/studio/u/a/r/n/src.bin";
};

Root& root() {
    static Root r;
    return r;
}

long faults(int who) {
    struct rusage ru;
    getrusage(who, &ru);
    return ru.ru_minflt;
}

double seconds_since(std::chrono::steady_clock::time_point t0) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

void finish(benchmark::State& state, long fault_total) {
    state.counters["page_faults"] = static_cast<double>(fault_total) / static_cast<double>(std::max<int64_t>(1, state.iterations()));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * file_bytes()));
}

void cp_anchor(benchmark::State& state) {
    const std::string from = root().dir + Root::kSource, to = root().dir + "/cp.bin";
    long total = 0;
    for (auto _ : state) {
        const char* argv[] = {"cp", from.c_str(), to.c_str(), nullptr};
        const long f0 = faults(RUSAGE_CHILDREN);
        const auto t0 = std::chrono::steady_clock::now();
        pid_t pid;
        int status = -1;
        if (posix_spawnp(&pid, "cp", nullptr, nullptr, const_cast<char**>(argv), environ) == 0) waitpid(pid, &status, 0);
        state.SetIterationTime(seconds_since(t0));
        total += faults(RUSAGE_CHILDREN) - f0;
        if (status != 0) state.SkipWithError("cp failed");
    }
    finish(state, total);
}

void save_load_ours(benchmark::State& state) {
    char* data = nullptr;
    int size = 0;
    if (ls_load_file(root().ls, const_cast<char*>("studio/u/a/r/n"), const_cast<char*>("src.bin"), &data, &size) != 0) {
        state.SkipWithError("no source file");
        return;
    }
    long total = 0;
    for (auto _ : state) {
        const long f0 = faults(RUSAGE_SELF);
        const auto t0 = std::chrono::steady_clock::now();
        char* url = ls_save_file(root().ls, const_cast<char*>("r2"), const_cast<char*>("out"),
                                 const_cast<char*>("copy.bin"), data, size);
        char* back = nullptr;
        int len = 0;
        const bool ok = url && ls_load_file(root().ls, url, const_cast<char*>("copy.bin"), &back, &len) == 0 && len == size;
        state.SetIterationTime(seconds_since(t0));
        total += faults(RUSAGE_SELF) - f0;
        if (!ok) state.SkipWithError("save or load failed");
        free(url);
        free(back);
    }
    free(data);
    finish(state, total);
}

void copy_ours(benchmark::State& state) {
    long total = 0;
    for (auto _ : state) {
        const long f0 = faults(RUSAGE_SELF);
        const auto t0 = std::chrono::steady_clock::now();
        const int rc = ls_copy(root().ls, const_cast<char*>(Root::kSource), const_cast<char*>("/copy.bin"));
        state.SetIterationTime(seconds_since(t0));
        total += faults(RUSAGE_SELF) - f0;
        if (rc != 0) state.SkipWithError("ls_copy failed");
    }
    finish(state, total);
}

}  // namespace

#define STORE_BENCH(fn, name) BENCHMARK(fn)->Name(name)->UseManualTime()->Iterations(kReps)->Unit(benchmark::kMillisecond)
STORE_BENCH(cp_anchor, "storage_save_load/anchor_cp");
STORE_BENCH(save_load_ours, "storage_save_load/quorbit");
STORE_BENCH(cp_anchor, "storage_copy/anchor_cp");
STORE_BENCH(copy_ours, "storage_copy/quorbit");
BENCHMARK_MAIN();
