// NPY/NPZ against NumPy, CSV against pandas and Python's csv module, AES-128
// against OpenSSL's EVP, crc32 against zlib's. The Python anchors run in
// processes started from this binary and report the time and page faults
// (NPY/NPZ also CPU time, cpu_ms) of each repetition; those are this run's
// anchor figures (manual time). Every benchmark makes the files it reads, so
// each runs alone as well.
#include <benchmark/benchmark.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <openssl/evp.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "aes.h"
#include "crc32.h"
#include "npy_array.h"
#include "sample_replay.h"
#include "sdk_csv.h"

extern char** environ;

namespace {

constexpr int kReps = 3;
// QB_BENCH_SCALE divides the file sizes (1 = the full 256 MiB / 4 x 64 MiB / 100 MiB).
size_t scale() {
    static const size_t s = [] {
        const char* v = getenv("QB_BENCH_SCALE");
        const long n = v ? atol(v) : 1;
        return static_cast<size_t>(n > 0 ? n : 1);
    }();
    return s;
}
size_t npy_bytes() { return (size_t{256} << 20) / scale(); }
size_t npz_part_bytes() { return (size_t{64} << 20) / scale(); }
size_t csv_bytes() { return (size_t{100} << 20) / scale(); }
size_t npz_bytes() { return 4 * npz_part_bytes(); }
const std::string& csv_path();
size_t csv_file_bytes() { return std::filesystem::file_size(csv_path()); }

struct Work {
    std::string dir;
    Work() {
        std::string tmpl = (std::filesystem::temp_directory_path() / "qbbench.XXXXXX").string();
        dir = mkdtemp(tmpl.data()) ? tmpl : "/tmp";
    }
    ~Work() {
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }
    std::string file(const std::string& name) const { return dir + "/" + name; }
};

const Work& work() {
    static Work w;
    return w;
}

double seconds_since(std::chrono::steady_clock::time_point t0) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

long minor_faults() {
    struct rusage ru;
    getrusage(RUSAGE_SELF, &ru);
    return ru.ru_minflt;
}

// Page faults per iteration, taken while the timed calls run.
struct FaultCount {
    long total = 0, start = 0;
    void begin() { start = minor_faults(); }
    void end() { total += minor_faults() - start; }
    void report(benchmark::State& state) const {
        state.counters["page_faults"] = static_cast<double>(total) / static_cast<double>(std::max<int64_t>(1, state.iterations()));
    }
};

// A table of numbers, words and fields that need quoting, about csv_bytes() long.
const std::string& csv_path() {
    static const std::string path = [] {
        const std::string p = work().file("table.csv");
        std::ofstream out(p, std::ios::binary);
        std::mt19937 rng(5);
        const char* words[] = {"alpha", "beta", "gamma", "delta,epsilon", "say \"hi\"", "zeta", "eta theta", ""};
        std::string row;
        size_t written = 0;
        for (size_t r = 0; written < csv_bytes(); ++r) {
            row = std::to_string(r) + "," + std::to_string(rng() % 100000) + "." + std::to_string(rng() % 1000);
            for (int f = 0; f < 6; ++f) {
                const char* w = words[rng() % 8];
                const bool quote = strchr(w, ',') || strchr(w, '"');
                row += ',';
                if (quote) {
                    row += '"';
                    for (const char* c = w; *c; ++c) row += *c == '"' ? std::string("\"\"") : std::string(1, *c);
                    row += '"';
                } else {
                    row += w;
                }
            }
            row += '\n';
            out << row;
            written += row.size();
        }
        return p;
    }();
    return path;
}

// One run per group, started right before that group's benchmarks, so the
// anchor sees the same state of the page cache as ours does.
const char* kAnchorScript = R"PY(
import csv, os, resource, sys, time
work, npy_bytes, part_bytes, csv_path, reps, group = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), sys.argv[4], int(sys.argv[5]), sys.argv[6]
def faults():
    return resource.getrusage(resource.RUSAGE_SELF).ru_minflt
def timed(name, fn):
    for _ in range(reps):
        f = faults(); t = time.perf_counter(); r = fn(); dt = time.perf_counter() - t; f = faults() - f
        print(name, dt, f, flush=True)
        del r
if group == 'csv_load_pandas':
    import pandas as pd
    timed(group, lambda: pd.read_csv(csv_path, header=None, dtype=str, keep_default_na=False))
else:
    def read_csv():
        with open(csv_path, newline='') as f:
            return list(csv.reader(f))
    if group == 'csv_load':
        timed('csv_load', read_csv)
    else:
        rows = read_csv()
        def write_csv():
            with open(work + '/py.csv', 'w', newline='') as f:
                csv.writer(f, lineterminator='\n').writerows(rows)
        timed('csv_save', write_csv)
)PY";

struct AnchorRun {
    std::vector<double> seconds, faults;
};

AnchorRun anchor_times(const std::string& group) {
    const std::string script = work().file("anchor.py");
    std::ofstream(script) << kAnchorScript;
    const std::string cmd = "/usr/bin/python3 '" + script + "' '" + work().dir + "' " + std::to_string(npy_bytes()) + " " +
                            std::to_string(npz_part_bytes()) + " '" + csv_path() + "' " + std::to_string(kReps) + " " + group;
    AnchorRun run;
    FILE* p = popen(cmd.c_str(), "r");
    char name[64];
    double s, f;
    while (p && fscanf(p, "%63s %lf %lf", name, &s, &f) == 3)
        if (group == name) {
            run.seconds.push_back(s);
            run.faults.push_back(f);
        }
    if (p) pclose(p);
    return run;
}

void run_anchor(benchmark::State& state, const char* name, size_t (*bytes)()) {
    const AnchorRun run = anchor_times(name);
    if (run.seconds.size() < kReps) {
        state.SkipWithError("the Python anchor did not run");
        return;
    }
    size_t i = 0;
    double faults = 0;
    for (auto _ : state) {
        faults += run.faults[i % run.seconds.size()];
        state.SetIterationTime(run.seconds[i++ % run.seconds.size()]);
    }
    state.counters["page_faults"] = faults / static_cast<double>(std::max<int64_t>(1, state.iterations()));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes()));
}

// --- NPY and NPZ ---
// Both sides run in turns, NumPy in one Python process per group that does
// one call per line it reads, so load from other processes on the machine
// falls on both alike. Each side makes one untimed call first: on a virtual
// machine, memory the guest has not touched lately (or has handed back to the
// host) costs far more on first use than the work itself, and without it
// whichever side happens to meet such memory pays for it. The timed rounds then
// alternate which side goes first. Python's start-up and imports, and
// freeing the results, are outside the timed calls on both sides.
const char* kNumpyScript = R"PY(
import os, resource, sys, time
import numpy as np
work, npy_bytes, part_bytes, group = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), sys.argv[4]
def npy_array():
    return np.arange(npy_bytes // 8, dtype='<f8')
def npz_parts():
    return {'a%d' % i: np.full(part_bytes // 8, float(i)) for i in range(4)}
if group == 'npy_save':
    a = npy_array()
    fn = lambda: np.save(work + '/np.npy', a)
elif group == 'npy_load':
    np.save(work + '/np.npy', npy_array())
    fn = lambda: np.load(work + '/np.npy')
elif group == 'npz_save':
    parts = npz_parts()
    fn = lambda: np.savez(work + '/np.npz', **parts)
else:
    np.savez(work + '/np.npz', **npz_parts())
    def fn():
        with np.load(work + '/np.npz') as z:
            return [z[k] for k in z.files]
# The result is freed before the reply, so our next call cannot find its
# memory still taken.
while sys.stdin.readline():
    u = resource.getrusage(resource.RUSAGE_SELF)
    t = time.perf_counter(); r = fn(); dt = time.perf_counter() - t
    v = resource.getrusage(resource.RUSAGE_SELF)
    del r
    print(dt, v.ru_minflt - u.ru_minflt, v.ru_utime + v.ru_stime - u.ru_utime - u.ru_stime, flush=True)
)PY";

constexpr int kFileReps = 5;

// Times fn() in this process; what it returns is released after the clock stops.
template <typename Fn, typename Release>
bool timed_call(Sample* s, Fn fn, Release release) {
    struct rusage u, v;
    getrusage(RUSAGE_SELF, &u);
    const auto t0 = std::chrono::steady_clock::now();
    auto result = fn();
    const double dt = seconds_since(t0);
    getrusage(RUSAGE_SELF, &v);
    const bool ok = release(result);
    if (s) *s = {dt, static_cast<double>(v.ru_minflt - u.ru_minflt), cpu_seconds(v) - cpu_seconds(u)};
    return ok;
}

// NumPy's side: a Python process that makes one timed call per request.
class NumpyPeer {
public:
    explicit NumpyPeer(const std::string& group) {
        signal(SIGPIPE, SIG_IGN);
        int in[2], out[2];
        if (pipe2(in, O_CLOEXEC) != 0) return;
        if (pipe2(out, O_CLOEXEC) != 0) {
            close(in[0]);
            close(in[1]);
            return;
        }
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_adddup2(&fa, in[0], 0);
        posix_spawn_file_actions_adddup2(&fa, out[1], 1);
        const std::string npy = std::to_string(npy_bytes()), part = std::to_string(npz_part_bytes());
        const char* argv[] = {"/usr/bin/python3", "-c", kNumpyScript, work().dir.c_str(), npy.c_str(), part.c_str(),
                              group.c_str(), nullptr};
        if (posix_spawn(&pid_, argv[0], &fa, nullptr, const_cast<char**>(argv), environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&fa);
        close(in[0]);
        close(out[1]);
        to_ = fdopen(in[1], "w");
        from_ = fdopen(out[0], "r");
    }
    ~NumpyPeer() {
        if (to_) fclose(to_);  // end of input: the script returns
        if (from_) fclose(from_);
        if (pid_ > 0) waitpid(pid_, nullptr, 0);
    }
    bool call(Sample* s) {
        Sample got;
        if (pid_ <= 0 || !to_ || !from_ || fputc('\n', to_) == EOF || fflush(to_) != 0 ||
            fscanf(from_, "%lf %lf %lf", &got.seconds, &got.faults, &got.cpu) != 3)
            return false;
        if (s) *s = got;
        return true;
    }

private:
    pid_t pid_ = -1;
    FILE* to_ = nullptr;
    FILE* from_ = nullptr;
};

// The data lies in memory like NumPy's own arrays of this size, which its
// allocator asks to be backed by huge pages: copying out of 4 KiB pages costs
// a TLB miss per page, and the saves would otherwise compare memory layouts
// rather than writers.
npy_array_t* make_array(size_t bytes, double base) {
    auto* m = static_cast<npy_array_t*>(calloc(1, sizeof(npy_array_t)));
    constexpr size_t kHuge = size_t{2} << 20;
    const size_t rounded = (bytes + kHuge - 1) / kHuge * kHuge;
    void* data = nullptr;
    if (posix_memalign(&data, kHuge, rounded) == 0) madvise(data, rounded, MADV_HUGEPAGE);
    m->data = static_cast<char*>(data);
    auto* d = reinterpret_cast<double*>(m->data);
    for (size_t i = 0; i < bytes / 8; ++i) d[i] = base + static_cast<double>(i);
    m->ndim = 1;
    m->shape[0] = bytes / 8;
    m->endianness = '<';
    m->typechar = 'f';
    m->elem_size = 8;
    return m;
}

npy_array_list_t* make_parts() {
    npy_array_list_t* list = nullptr;
    for (int i = 0; i < 4; ++i) list = npy_array_list_append(list, make_array(npz_part_bytes(), i), "a%d.npy", i);
    return list;
}

// Our side of a group: one call, timed.
class OurSide {
public:
    explicit OurSide(const std::string& group) : group_(group) {
        if (group == "npy_save") {
            array_ = make_array(npy_bytes(), 0);
        } else if (group == "npz_save") {
            parts_ = make_parts();
        } else {
            // The file this group reads, written by the library itself.
            path_ = work().file(group == "npy_load" ? "load.npy" : "load.npz");
            if (group == "npy_load") {
                npy_array_t* m = make_array(npy_bytes(), 0);
                npy_array_save(path_.c_str(), m);
                npy_array_free(m);
            } else {
                npy_array_list_t* list = make_parts();
                npy_array_list_save(path_.c_str(), list);
                npy_array_list_free(list);
            }
        }
    }
    ~OurSide() {
        if (array_) npy_array_free(array_);
        npy_array_list_free(parts_);
    }
    bool call(Sample* s) {
        if (group_ == "npy_save") {
            const std::string path = work().file("ours.npy");
            return timed_call(s, [&] { npy_array_save(path.c_str(), array_); return 0; }, [](int) { return true; });
        }
        if (group_ == "npz_save") {
            const std::string path = work().file("ours.npz");
            return timed_call(s, [&] { return npy_array_list_save(path.c_str(), parts_); }, [](int n) { return n == 4; });
        }
        if (group_ == "npy_load")
            return timed_call(s, [&] { return npy_array_load(path_.c_str()); }, [](npy_array_t* m) {
                if (!m) return false;
                npy_array_free(m);
                return true;
            });
        return timed_call(s, [&] { return npy_array_list_load(path_.c_str()); }, [](npy_array_list_t* list) {
            const bool ok = npy_array_list_length(list) == 4;
            npy_array_list_free(list);
            return ok;
        });
    }

private:
    std::string group_;
    std::string path_;
    npy_array_t* array_ = nullptr;
    npy_array_list_t* parts_ = nullptr;
};

struct Rounds {
    bool ok = false;
    std::vector<Sample> ours, numpy;
};

// Measured once per group by whichever of its two benchmarks runs first.
const Rounds& rounds(const std::string& group) {
    static std::map<std::string, Rounds> done;
    auto found = done.find(group);
    if (found != done.end()) return found->second;
    Rounds& r = done[group];
    OurSide ours(group);
    NumpyPeer numpy(group);
    r.ok = numpy.call(nullptr) && ours.call(nullptr);
    for (int i = 0; r.ok && i < kFileReps; ++i) {
        Sample a, b;
        r.ok = i % 2 ? numpy.call(&a) && ours.call(&b) : ours.call(&b) && numpy.call(&a);
        r.numpy.push_back(a);
        r.ours.push_back(b);
    }
    return r;
}

void replay(benchmark::State& state, const char* group, bool numpy_side, size_t (*bytes)()) {
    const Rounds& r = rounds(group);
    if (!r.ok) {
        state.SkipWithError(numpy_side ? "the NumPy side did not run" : "our side failed");
        return;
    }
    replay_samples(state, numpy_side ? r.numpy : r.ours, bytes());
}

// --- CSV ---
CSV_BUFFER* g_table = nullptr;

void csv_load_ours(benchmark::State& state) {
    const std::string path = csv_path();
    FaultCount faults;
    for (auto _ : state) {
        CSV_BUFFER* b = csv_create_buffer();
        faults.begin();
        const auto t0 = std::chrono::steady_clock::now();
        if (csv_load(b, const_cast<char*>(path.c_str())) != 0) state.SkipWithError("load failed");
        state.SetIterationTime(seconds_since(t0));
        faults.end();
        if (g_table) csv_destroy_buffer(g_table);
        g_table = b;
    }
    faults.report(state);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * std::filesystem::file_size(path)));
}

void csv_save_ours(benchmark::State& state) {
    const std::string path = work().file("ours.csv");
    if (!g_table) {
        g_table = csv_create_buffer();
        csv_load(g_table, const_cast<char*>(csv_path().c_str()));
    }
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        if (csv_save(const_cast<char*>(path.c_str()), g_table) != 0) state.SkipWithError("save failed");
        state.SetIterationTime(seconds_since(t0));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * std::filesystem::file_size(path)));
    csv_destroy_buffer(g_table);
    g_table = nullptr;
}

// --- AES-128 over 1 MiB ---
constexpr size_t kAesBytes = size_t{1} << 20;
const unsigned char kKey[16] = {0x2b, 0x7e, 0x15, 0x16, 0x28, 0xae, 0xd2, 0xa6,
                                0xab, 0xf7, 0x15, 0x88, 0x09, 0xcf, 0x4f, 0x3c};

void aes_openssl(benchmark::State& state, const EVP_CIPHER* cipher, bool decrypt) {
    std::vector<unsigned char> in(kAesBytes, 0x5a), out(kAesBytes + 16);
    unsigned char iv[16] = {};
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    EVP_CipherInit_ex(ctx, cipher, nullptr, kKey, iv, decrypt ? 0 : 1);
    EVP_CIPHER_CTX_set_padding(ctx, 0);
    for (auto _ : state) {
        int len = 0;
        EVP_CipherUpdate(ctx, out.data(), &len, in.data(), static_cast<int>(kAesBytes));
        benchmark::DoNotOptimize(out.data());
    }
    EVP_CIPHER_CTX_free(ctx);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kAesBytes));
}

void aes_ecb_ours(benchmark::State& state) {
    std::vector<unsigned char> in(kAesBytes, 0x5a), out(kAesBytes);
    for (auto _ : state) {
        aes_encrypt_ecb(kKey, 16, in.data(), out.data(), static_cast<int>(kAesBytes / 16));
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kAesBytes));
}

void aes_cbc_ours(benchmark::State& state, bool decrypt) {
    std::vector<unsigned char> in(kAesBytes, 0x5a), out(kAesBytes);
    unsigned int rk[AES_RK_WORDS];
    unsigned char nr = 0, iv[16] = {};
    (decrypt ? aes_key_de_schedule : aes_key_en_schedule)(kKey, 128, rk, &nr);
    for (auto _ : state) {
        aes_crypt_cbc(decrypt ? DECRYPT : ENCRYPT, static_cast<unsigned>(kAesBytes), iv, rk, &nr, in.data(), out.data());
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kAesBytes));
}

// --- crc32 over 1 MiB, zlib's loaded with dlopen (the names are the same) ---
using ZlibCrc = unsigned long (*)(unsigned long, const unsigned char*, unsigned int);

void crc_run(benchmark::State& state, bool ours) {
    static void* zlib = dlopen("libz.so.1", RTLD_NOW | RTLD_LOCAL);
    const auto zcrc = zlib ? reinterpret_cast<ZlibCrc>(dlsym(zlib, "crc32")) : nullptr;
    if (!ours && !zcrc) {
        state.SkipWithError("libz.so.1 not found");
        return;
    }
    std::vector<unsigned char> data(kAesBytes, 0x33);
    for (auto _ : state) {
        unsigned long c = ours ? crc32(0, reinterpret_cast<const char*>(data.data()), data.size())
                               : zcrc(0, data.data(), static_cast<unsigned>(data.size()));
        benchmark::DoNotOptimize(c);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * data.size()));
}

}  // namespace

#define FILE_BENCH(fn, name) BENCHMARK(fn)->Name(name)->UseManualTime()->Iterations(kReps)->Unit(benchmark::kMillisecond)
#define NPY_BENCH(group, numpy_side, bytes, name) \
    BENCHMARK_CAPTURE(replay, group, group, numpy_side, bytes)->Name(name)->UseManualTime()->Iterations(kFileReps)->Unit(benchmark::kMillisecond)
NPY_BENCH("npy_save", true, npy_bytes, "npy_save/anchor_numpy");
NPY_BENCH("npy_save", false, npy_bytes, "npy_save/quorbit");
NPY_BENCH("npy_load", true, npy_bytes, "npy_load/anchor_numpy");
NPY_BENCH("npy_load", false, npy_bytes, "npy_load/quorbit");
NPY_BENCH("npz_save", true, npz_bytes, "npz_save/anchor_numpy_savez");
NPY_BENCH("npz_save", false, npz_bytes, "npz_save/quorbit");
NPY_BENCH("npz_load", true, npz_bytes, "npz_load/anchor_numpy");
NPY_BENCH("npz_load", false, npz_bytes, "npz_load/quorbit");
BENCHMARK_CAPTURE(run_anchor, csv, "csv_load_pandas", csv_file_bytes)->Name("csv_load/anchor_pandas")->UseManualTime()->Iterations(kReps)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(run_anchor, csv, "csv_load", csv_file_bytes)->Name("csv_load/anchor_python_csv")->UseManualTime()->Iterations(kReps)->Unit(benchmark::kMillisecond);
FILE_BENCH(csv_load_ours, "csv_load/quorbit");
BENCHMARK_CAPTURE(run_anchor, csv, "csv_save", csv_file_bytes)->Name("csv_save/anchor_python_csv")->UseManualTime()->Iterations(kReps)->Unit(benchmark::kMillisecond);
FILE_BENCH(csv_save_ours, "csv_save/quorbit");
BENCHMARK_CAPTURE(aes_openssl, ecb, EVP_aes_128_ecb(), false)->Name("aes128_ecb/anchor_openssl_evp");
BENCHMARK(aes_ecb_ours)->Name("aes128_ecb/quorbit");
BENCHMARK_CAPTURE(aes_openssl, cbc_enc, EVP_aes_128_cbc(), false)->Name("aes128_cbc_encrypt/anchor_openssl_evp");
BENCHMARK_CAPTURE(aes_cbc_ours, enc, false)->Name("aes128_cbc_encrypt/quorbit");
BENCHMARK_CAPTURE(aes_openssl, cbc_dec, EVP_aes_128_cbc(), true)->Name("aes128_cbc_decrypt/anchor_openssl_evp");
BENCHMARK_CAPTURE(aes_cbc_ours, dec, true)->Name("aes128_cbc_decrypt/quorbit");
BENCHMARK_CAPTURE(crc_run, zlib, false)->Name("crc32/anchor_zlib");
BENCHMARK_CAPTURE(crc_run, ours, true)->Name("crc32/quorbit");
BENCHMARK_MAIN();
