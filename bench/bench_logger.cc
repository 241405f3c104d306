// Logger costs: a filtered-out call, a console line, and a line also stored in
// the ring. The anchor formats the same prefix and message with stdio.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <ctime>

#include "sdk_logger.h"

namespace {

void filtered(benchmark::State& state) {
    sdk_set_log_level(SDK_LOG_LEVEL_DEBUG);
    for (auto _ : state) benchmark::DoNotOptimize(LOGV("BENCH", "value %d", 42));
}

void anchor_printf_line(benchmark::State& state) {
    for (auto _ : state) {
        struct timespec ts;
        clock_gettime(CLOCK_MONOTONIC, &ts);
        time_t now = time(nullptr);
        struct tm tm;
        localtime_r(&now, &tm);
        printf("[%04d/%02d/%02d %02d:%02d:%02d:%06d][%c][%-8s]value %d\n", tm.tm_year + 1900, tm.tm_mon + 1,
               tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, static_cast<int>(ts.tv_nsec / 1000), 'I', "BENCH", 42);
        fflush(stdout);
    }
}

void console_line(benchmark::State& state) {
    sdk_set_log_level(SDK_LOG_LEVEL_DEBUG);
    for (auto _ : state) LOGI("BENCH", "value %d", 42);
}

void ring_line(benchmark::State& state) {
    sdk_set_log_level(SDK_LOG_LEVEL_DEBUG);
    sdk_set_log_buffer(1, 1024);
    for (auto _ : state) LOGI("BENCH", "value %d", 42);
    sdk_set_log_buffer(0, 0);
}

}  // namespace

BENCHMARK(filtered)->Name("log_filtered/quorbit");
BENCHMARK(anchor_printf_line)->Name("log_line/anchor_printf");
BENCHMARK(console_line)->Name("log_line/quorbit_console");
BENCHMARK(ring_line)->Name("log_line/quorbit_console_and_ring");
BENCHMARK_MAIN();
