// Samples measured outside a benchmark's loop (several sides taking turns)
// and replayed as that benchmark's manual iteration times.
#pragma once

#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <algorithm>
#include <cstddef>
#include <vector>

struct Sample {
    double seconds = 0, faults = 0, cpu = 0;
};

inline double cpu_seconds(const struct rusage& ru) {
    return static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
           static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) * 1e-6;
}

// One sample per iteration, with page faults and CPU time (cpu_ms) per call.
inline void replay_samples(benchmark::State& state, const std::vector<Sample>& samples, size_t bytes_per_call) {
    size_t i = 0;
    double faults = 0, cpu = 0;
    for (auto _ : state) {
        const Sample& s = samples[i++ % samples.size()];
        faults += s.faults;
        cpu += s.cpu;
        state.SetIterationTime(s.seconds);
    }
    const auto n = static_cast<double>(std::max<int64_t>(1, state.iterations()));
    state.counters["page_faults"] = faults / n;
    state.counters["cpu_ms"] = cpu * 1e3 / n;
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes_per_call));
}
