// NPY/NPZ against NumPy, CSV against pandas and Python's csv module, AES-128
// against OpenSSL's EVP, crc32 against zlib's. The Python anchors run in
// processes started from this binary and report the time and page faults of
// each repetition; those are this run's anchor figures (manual time). Every
// benchmark makes the files it reads, so each runs alone as well.
#include <benchmark/benchmark.h>
#include <dlfcn.h>
#include <openssl/evp.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "aes.h"
#include "crc32.h"
#include "npy_array.h"
#include "sdk_csv.h"

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
import numpy as np
work, npy_bytes, part_bytes, csv_path, reps, group = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), sys.argv[4], int(sys.argv[5]), sys.argv[6]
def faults():
    return resource.getrusage(resource.RUSAGE_SELF).ru_minflt
def timed(name, fn):
    for _ in range(reps):
        f = faults(); t = time.perf_counter(); r = fn(); dt = time.perf_counter() - t; f = faults() - f
        print(name, dt, f, flush=True)
        del r
def npy_array():
    return np.arange(npy_bytes // 8, dtype='<f8')
def npz_parts():
    return {'a%d' % i: np.full(part_bytes // 8, float(i)) for i in range(4)}
if group == 'npy_save':
    a = npy_array()
    timed('npy_save', lambda: np.save(work + '/np.npy', a))
elif group == 'npy_load':
    if not os.path.exists(work + '/np.npy'):
        np.save(work + '/np.npy', npy_array())
    timed('npy_load', lambda: np.load(work + '/np.npy'))
elif group == 'npz_save':
    parts = npz_parts()
    timed('npz_save', lambda: np.savez(work + '/np.npz', **parts))
elif group == 'npz_load':
    if not os.path.exists(work + '/np.npz'):
        np.savez(work + '/np.npz', **npz_parts())
    def load_npz():
        with np.load(work + '/np.npz') as z:
            return [z[k] for k in z.files]
    timed('npz_load', load_npz)
elif group == 'csv_load_pandas':
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

// --- NPY ---
npy_array_t* make_array(size_t bytes, double base) {
    auto* m = static_cast<npy_array_t*>(calloc(1, sizeof(npy_array_t)));
    m->data = static_cast<char*>(malloc(bytes));
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

const std::string& npy_file() {
    static const std::string path = [] {
        const std::string p = work().file("load.npy");
        npy_array_t* m = make_array(npy_bytes(), 0);
        npy_array_save(p.c_str(), m);
        npy_array_free(m);
        return p;
    }();
    return path;
}

const std::string& npz_file() {
    static const std::string path = [] {
        const std::string p = work().file("load.npz");
        npy_array_list_t* list = make_parts();
        npy_array_list_save(p.c_str(), list);
        npy_array_list_free(list);
        return p;
    }();
    return path;
}

void npy_save_ours(benchmark::State& state) {
    npy_array_t* m = make_array(npy_bytes(), 0);
    const std::string path = work().file("ours.npy");
    FaultCount faults;
    for (auto _ : state) {
        faults.begin();
        const auto t0 = std::chrono::steady_clock::now();
        npy_array_save(path.c_str(), m);
        state.SetIterationTime(seconds_since(t0));
        faults.end();
    }
    npy_array_free(m);
    faults.report(state);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * npy_bytes()));
}

void npy_load_ours(benchmark::State& state) {
    const std::string& path = npy_file();
    FaultCount faults;
    for (auto _ : state) {
        faults.begin();
        const auto t0 = std::chrono::steady_clock::now();
        npy_array_t* m = npy_array_load(path.c_str());
        state.SetIterationTime(seconds_since(t0));
        faults.end();
        if (!m) state.SkipWithError("load failed");
        npy_array_free(m);
    }
    faults.report(state);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * npy_bytes()));
}

void npz_save_ours(benchmark::State& state) {
    npy_array_list_t* list = make_parts();
    const std::string path = work().file("ours.npz");
    FaultCount faults;
    for (auto _ : state) {
        faults.begin();
        const auto t0 = std::chrono::steady_clock::now();
        if (npy_array_list_save(path.c_str(), list) != 4) state.SkipWithError("save failed");
        state.SetIterationTime(seconds_since(t0));
        faults.end();
    }
    npy_array_list_free(list);
    faults.report(state);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * 4 * npz_part_bytes()));
}

void npz_load_ours(benchmark::State& state) {
    const std::string& path = npz_file();
    FaultCount faults;
    for (auto _ : state) {
        faults.begin();
        const auto t0 = std::chrono::steady_clock::now();
        npy_array_list_t* list = npy_array_list_load(path.c_str());
        state.SetIterationTime(seconds_since(t0));
        faults.end();
        if (npy_array_list_length(list) != 4) state.SkipWithError("load failed");
        npy_array_list_free(list);
    }
    faults.report(state);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * 4 * npz_part_bytes()));
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
BENCHMARK_CAPTURE(run_anchor, npy, "npy_save", npy_bytes)->Name("npy_save/anchor_numpy")->UseManualTime()->Iterations(kReps)->Unit(benchmark::kMillisecond);
FILE_BENCH(npy_save_ours, "npy_save/quorbit");
BENCHMARK_CAPTURE(run_anchor, npy, "npy_load", npy_bytes)->Name("npy_load/anchor_numpy")->UseManualTime()->Iterations(kReps)->Unit(benchmark::kMillisecond);
FILE_BENCH(npy_load_ours, "npy_load/quorbit");
BENCHMARK_CAPTURE(run_anchor, npz, "npz_save", npz_bytes)->Name("npz_save/anchor_numpy_savez")->UseManualTime()->Iterations(kReps)->Unit(benchmark::kMillisecond);
FILE_BENCH(npz_save_ours, "npz_save/quorbit");
BENCHMARK_CAPTURE(run_anchor, npz, "npz_load", npz_bytes)->Name("npz_load/anchor_numpy")->UseManualTime()->Iterations(kReps)->Unit(benchmark::kMillisecond);
FILE_BENCH(npz_load_ours, "npz_load/quorbit");
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
