// Media throughput on 1920x1080 frames: YUV conversion against libyuv and
// against our own portable path, JPEG encoding against TurboJPEG called directly.
#include <benchmark/benchmark.h>
#include <libyuv.h>
#include <turbojpeg.h>

#include <cstdlib>
#include <random>
#include <vector>

#include "bmp_encode.h"
#include "jpeg_encode.h"
#include "media/bmp/media_internal.h"

namespace {

constexpr int kW = 1920, kH = 1080;
constexpr size_t kPixels = size_t(kW) * kH;

std::vector<uint8_t> random_bytes(size_t n) {
    std::mt19937 rng(42);
    std::vector<uint8_t> b(n);
    for (auto& x : b) x = uint8_t(rng());
    return b;
}

const std::vector<uint8_t>& i420() {
    static const auto frame = random_bytes(kPixels * 3 / 2);
    return frame;
}

const std::vector<uint8_t>& yuyv() {
    static const auto frame = random_bytes(kPixels * 2);
    return frame;
}

// A camera-like picture: smooth gradients with mild texture, rows bottom-up.
const std::vector<uint8_t>& photo() {
    static const auto img = [] {
        std::mt19937 rng(9);
        std::vector<uint8_t> p(kPixels * 3);
        for (int y = 0; y < kH; y++)
            for (int x = 0; x < kW; x++) {
                uint8_t* px = &p[(size_t(y) * kW + x) * 3];
                int n = int(rng() % 16);
                px[0] = uint8_t((x * 255 / kW + n) & 0xFF);
                px[1] = uint8_t((y * 255 / kH + n) & 0xFF);
                px[2] = uint8_t(((x + y) * 127 / (kW + kH) + 64 + n) & 0xFF);
            }
        return p;
    }();
    return img;
}

void frames(benchmark::State& state, size_t bytes_per_frame) {
    state.SetBytesProcessed(int64_t(state.iterations() * bytes_per_frame));
    state.counters["fps"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}

void yuv420_libyuv(benchmark::State& state) {
    const uint8_t* y = i420().data();
    std::vector<uint8_t> out(kPixels * 3);
    for (auto _ : state) {
        libyuv::I420ToRGB24(y, kW, y + kPixels, kW / 2, y + kPixels * 5 / 4, kW / 2, out.data(), kW * 3, kW, kH);
        benchmark::DoNotOptimize(out.data());
    }
    frames(state, kPixels * 3);
}

void yuv420_ours(benchmark::State& state, bool vector) {
    qb::media::set_simd_enabled(vector);
    std::vector<uint8_t> in = i420(), out(kPixels * 3);
    for (auto _ : state) {
        YUV420_To_RGB888_Fast(FMT_YUV420P, in.data(), out.data(), kW, kH);
        benchmark::DoNotOptimize(out.data());
    }
    qb::media::set_simd_enabled(true);
    frames(state, kPixels * 3);
}

void yuv422_ours(benchmark::State& state, bool vector, bool reverse) {
    qb::media::set_simd_enabled(vector);
    std::vector<uint8_t> in = yuyv(), out(kPixels * 3);
    for (auto _ : state) {
        if (reverse)
            YUV422_To_BGR888_Reverse(in.data(), out.data(), kW, kH);
        else
            YUV422_To_RGB888(in.data(), out.data(), kW, kH);
        benchmark::DoNotOptimize(out.data());
    }
    qb::media::set_simd_enabled(true);
    frames(state, kPixels * 3);
}

void jpeg_turbojpeg(benchmark::State& state) {
    tjhandle tj = tjInitCompress();
    for (auto _ : state) {
        unsigned char* jpeg = nullptr;
        unsigned long size = 0;
        // Same work as ours: RGB rows stored bottom-up, 4:2:0, quality 80, output allocated per frame.
        if (tjCompress2(tj, photo().data(), kW, kW * 3, kH, TJPF_RGB, &jpeg, &size, TJSAMP_420, 80,
                        TJFLAG_BOTTOMUP) != 0)
            state.SkipWithError(tjGetErrorStr2(tj));
        benchmark::DoNotOptimize(jpeg);
        tjFree(jpeg);
    }
    tjDestroy(tj);
    frames(state, kPixels * 3);
}

void jpeg_ours(benchmark::State& state) {
    std::vector<uint8_t> in = photo();
    for (auto _ : state) {
        char* jpeg = nullptr;
        int size = 0;
        if (RGB888_To_JPEG(reinterpret_cast<char*>(in.data()), kW, kH, 80, &jpeg, &size) != 0)
            state.SkipWithError("RGB888_To_JPEG failed");
        benchmark::DoNotOptimize(jpeg);
        free(jpeg);
    }
    frames(state, kPixels * 3);
}

}  // namespace

// Against libyuv: the first anchor of the group is the reference of every ratio.
BENCHMARK(yuv420_libyuv)->Name("yuv420_1080p/anchor_libyuv_I420ToRGB24")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(yuv420_ours, vector, true)->Name("yuv420_1080p/quorbit_YUV420_To_RGB888_Fast")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(yuv420_ours, portable, false)
    ->Name("yuv420_1080p/quorbit_YUV420_To_RGB888_Fast_portable")
    ->Unit(benchmark::kMillisecond);
// Speed-up of the vector kernels over the portable code.
BENCHMARK_CAPTURE(yuv420_ours, portable, false)->Name("yuv420_speedup/anchor_portable")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(yuv420_ours, vector, true)->Name("yuv420_speedup/quorbit_vector")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(yuv422_ours, portable, false, false)->Name("yuv422_speedup/anchor_portable")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(yuv422_ours, vector, true, false)
    ->Name("yuv422_speedup/quorbit_vector_RGB888")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(yuv422_ours, vector_reverse, true, true)
    ->Name("yuv422_speedup/quorbit_vector_BGR888_Reverse")
    ->Unit(benchmark::kMillisecond);
BENCHMARK(jpeg_turbojpeg)->Name("jpeg_1080p/anchor_turbojpeg_tjCompress2")->Unit(benchmark::kMillisecond);
BENCHMARK(jpeg_ours)->Name("jpeg_1080p/quorbit_RGB888_To_JPEG")->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
