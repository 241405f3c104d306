// The local storage backend against cp: a 64 MiB file saved and loaded back
// through the storage API, and copied with ls_copy. cp runs as a process
// started from this binary; its time, CPU time and page faults (start-up
// included) are taken around it. cp copies file to file inside the kernel,
// while a save and a load move the bytes from memory to a file and back, two
// copies; the second anchor does that round trip with plain write(2) and
// read(2) into an aligned buffer with huge pages.
// The sides of a group run in turns, so load from other processes falls on
// all alike; each makes one untimed call first (on a virtual machine, memory
// the guest has not touched lately costs more on first use than the copy
// itself), and the rounds rotate which side goes first.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "local_storage.h"
#include "sample_replay.h"

extern char** environ;

namespace {

constexpr int kReps = 5;

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

double seconds_since(std::chrono::steady_clock::time_point t0) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

// Page faults and CPU time of this process (RUSAGE_SELF) or of its waited-for
// children (RUSAGE_CHILDREN).
void usage(int who, double* faults, double* cpu) {
    struct rusage ru;
    getrusage(who, &ru);
    *faults = static_cast<double>(ru.ru_minflt);
    *cpu = cpu_seconds(ru);
}

struct Side {
    int who;  // whose usage the call shows up in
    std::function<bool()> call;
    std::vector<Sample> samples;
    bool measure(bool keep) {
        double f0, c0, f1, c1;
        usage(who, &f0, &c0);
        const auto t0 = std::chrono::steady_clock::now();
        const bool ok = call();
        const double dt = seconds_since(t0);
        usage(who, &f1, &c1);
        if (keep) samples.push_back({dt, f1 - f0, c1 - c0});
        return ok;
    }
};

bool run_cp(const std::string& from, const std::string& to) {
    const char* argv[] = {"cp", from.c_str(), to.c_str(), nullptr};
    pid_t pid;
    int status = -1;
    if (posix_spawnp(&pid, "cp", nullptr, nullptr, const_cast<char**>(argv), environ) == 0) waitpid(pid, &status, 0);
    return status == 0;
}

bool write_all(int fd, const char* p, size_t n) {
    while (n > 0) {
        const ssize_t w = write(fd, p, n);
        if (w <= 0) return false;
        p += w;
        n -= static_cast<size_t>(w);
    }
    return true;
}

// The same bytes written to a file and read back with plain system calls.
bool write_read(const std::string& path, const std::vector<char>& data) {
    constexpr size_t kHuge = size_t{2} << 20;
    const size_t rounded = (data.size() + kHuge - 1) / kHuge * kHuge;
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    bool ok = fd >= 0 && write_all(fd, data.data(), data.size());
    if (fd >= 0 && close(fd) != 0) ok = false;
    void* back = nullptr;
    if (!ok || posix_memalign(&back, kHuge, rounded) != 0) return false;
    madvise(back, rounded, MADV_HUGEPAGE);
    fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    size_t got = 0;
    while (fd >= 0 && got < data.size()) {
        const ssize_t r = read(fd, static_cast<char*>(back) + got, data.size() - got);
        if (r <= 0) break;
        got += static_cast<size_t>(r);
    }
    if (fd >= 0) close(fd);
    free(back);
    return got == data.size();
}

// Samples of each side of a group by benchmark name, measured once by
// whichever of the group's benchmarks runs first. Freeing a loaded buffer is
// part of our call, as the end of cp's process is part of cp's.
const std::map<std::string, Side>* rounds(const std::string& group) {
    static std::map<std::string, std::map<std::string, Side>> done;
    auto found = done.find(group);
    if (found != done.end()) return &found->second;
    std::map<std::string, Side>& sides = done[group];
    const std::string source = root().dir + Root::kSource;
    sides["anchor_cp"] = {RUSAGE_CHILDREN, [source] { return run_cp(source, root().dir + "/cp.bin"); }, {}};
    char* data = nullptr;
    int size = 0;
    if (group == "storage_copy") {
        sides["quorbit"] = {RUSAGE_SELF, [] {
                                return ls_copy(root().ls, const_cast<char*>(Root::kSource),
                                               const_cast<char*>("/copy.bin")) == 0;
                            }, {}};
    } else if (ls_load_file(root().ls, const_cast<char*>("studio/u/a/r/n"), const_cast<char*>("src.bin"), &data,
                            &size) == 0) {
        auto bytes = std::make_shared<std::vector<char>>(data, data + size);
        sides["anchor_write_read"] = {RUSAGE_SELF, [bytes] { return write_read(root().dir + "/raw.bin", *bytes); }, {}};
        sides["quorbit"] = {RUSAGE_SELF, [bytes] {
                                char* url = ls_save_file(root().ls, const_cast<char*>("r2"), const_cast<char*>("out"),
                                                         const_cast<char*>("copy.bin"), bytes->data(),
                                                         static_cast<int>(bytes->size()));
                                char* back = nullptr;
                                int len = 0;
                                const bool ok = url && ls_load_file(root().ls, url, const_cast<char*>("copy.bin"),
                                                                    &back, &len) == 0 &&
                                                static_cast<size_t>(len) == bytes->size();
                                free(url);
                                free(back);
                                return ok;
                            }, {}};
        free(data);
    } else {
        sides.clear();  // no source file: every side reports the failure
        return &sides;
    }
    std::vector<Side*> order;
    for (auto& [name, side] : sides) order.push_back(&side);
    bool ok = true;
    for (Side* side : order) ok = ok && side->measure(false);
    for (int round = 0; ok && round < kReps; ++round)
        for (size_t k = 0; ok && k < order.size(); ++k) ok = order[(round + k) % order.size()]->measure(true);
    if (!ok) sides.clear();
    return &sides;
}

void replay(benchmark::State& state, const char* group, const char* side_name) {
    const auto* sides = rounds(group);
    const auto side = sides->find(side_name);
    if (side == sides->end() || side->second.samples.empty()) {
        state.SkipWithError("a call of this group failed");
        return;
    }
    replay_samples(state, side->second.samples, file_bytes());
}

}  // namespace

#define STORE_BENCH(group, side)                                                                                 \
    BENCHMARK_CAPTURE(replay, side, group, #side)->Name(group "/" #side)->UseManualTime()->Iterations(kReps)->Unit( \
        benchmark::kMillisecond)
STORE_BENCH("storage_save_load", anchor_cp);
STORE_BENCH("storage_save_load", anchor_write_read);
STORE_BENCH("storage_save_load", quorbit);
STORE_BENCH("storage_copy", anchor_cp);
STORE_BENCH("storage_copy", quorbit);
BENCHMARK_MAIN();
