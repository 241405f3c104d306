#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "bmp_encode.h"
#include "media/media_internal.h"

namespace {

using Bytes = std::vector<uint8_t>;

uint8_t clamp(int64_t v) { return uint8_t(v < 0 ? 0 : v > 255 ? 255 : v); }
uint8_t clamp_trunc(double v) { return clamp(int64_t(v)); }

// The fixed-point formulas written out directly (floor shifts on exact integers).
void ref_fast_pixel(int y, int u, int v, uint8_t* out) {
    int64_t yy = int64_t(y - 16) * 76309;
    auto shift = [](int64_t x) { return x >= 0 ? x / 65536 : -((-x + 65535) / 65536); };
    out[0] = clamp(shift(yy + int64_t(v - 128) * 104597));
    out[1] = clamp(shift(yy - int64_t(u - 128) * 25675 - int64_t(v - 128) * 53279));
    out[2] = clamp(shift(yy + int64_t(u - 128) * 132201));
}

void ref_422_pixel(int y, int u, int v, uint8_t* rgb) {
    rgb[0] = clamp_trunc(y + 1.370705 * (v - 128));
    rgb[1] = clamp_trunc(y - 0.698001 * (v - 128) - 0.337633 * (u - 128));
    rgb[2] = clamp_trunc(y + 1.732446 * (u - 128));
}

Bytes ref_420(const Bytes& yuv, int w, int h, bool yv12) {
    Bytes out(size_t(w) * h * 3);
    const uint8_t* p1 = yuv.data() + size_t(w) * h;
    const uint8_t* p2 = p1 + size_t(w / 2) * (h / 2);
    const uint8_t* u = yv12 ? p2 : p1;
    const uint8_t* v = yv12 ? p1 : p2;
    for (int j = 0; j < h; j++)
        for (int i = 0; i < w; i++) {
            size_t c = size_t(j / 2) * (w / 2) + i / 2;
            ref_fast_pixel(yuv[size_t(j) * w + i], u[c], v[c], &out[(size_t(j) * w + i) * 3]);
        }
    return out;
}

Bytes ref_422(const Bytes& yuyv, int w, int h, bool bgr_bottom_up) {
    Bytes out(size_t(w) * h * 3);
    for (int j = 0; j < h; j++)
        for (int i = 0; i < w; i++) {
            const uint8_t* g = &yuyv[(size_t(j) * w + (i & ~1)) * 2];
            uint8_t px[3];
            ref_422_pixel(g[(i & 1) * 2], g[1], g[3], px);
            int row = bgr_bottom_up ? h - 1 - j : j;
            uint8_t* o = &out[(size_t(row) * w + i) * 3];
            o[0] = px[bgr_bottom_up ? 2 : 0];
            o[1] = px[1];
            o[2] = px[bgr_bottom_up ? 0 : 2];
        }
    return out;
}

Bytes random_bytes(size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    Bytes b(n);
    for (auto& x : b) x = uint8_t(rng());
    return b;
}

// Index of the first differing byte, or -1: a readable failure for huge buffers.
long first_diff(const Bytes& a, const Bytes& b) {
    if (a.size() != b.size()) return 0;
    for (size_t i = 0; i < a.size(); i++)
        if (a[i] != b[i]) return long(i);
    return -1;
}

// Runs each test body with the vector kernels (where the CPU has them) and without.
class BothPaths : public testing::TestWithParam<bool> {
protected:
    void SetUp() override { qb::media::set_simd_enabled(GetParam()); }
    void TearDown() override { qb::media::set_simd_enabled(true); }
};
INSTANTIATE_TEST_SUITE_P(Media, BothPaths, testing::Values(true, false),
                         [](const auto& info) { return info.param ? "Vector" : "Portable"; });

TEST(Yuv, VectorKernelsAreActiveOnThisMachine) {
    // The exhaustive comparisons below only prove something if the vector path ran.
    if (!qb::media::simd_available()) GTEST_SKIP() << "no AVX2 on this CPU; portable path only";
    EXPECT_TRUE(qb::media::simd_enabled());
}

TEST_P(BothPaths, Fast420HandlesRowTailsAndYv12) {
    for (auto [w, h] : {std::pair{2, 2}, {14, 4}, {16, 2}, {18, 6}, {34, 2}, {46, 4}, {640, 8}}) {
        for (bool yv12 : {false, true}) {
            Bytes yuv = random_bytes(size_t(w) * h * 3 / 2, uint32_t(w * 31 + h + yv12));
            Bytes out(size_t(w) * h * 3 + 16, 0xEE);
            YUV420_To_RGB888_Fast(yv12 ? FMT_YV12 : FMT_YUV420P, yuv.data(), out.data(), w, h);
            Bytes tail(out.end() - 16, out.end());
            out.resize(out.size() - 16);
            EXPECT_EQ(first_diff(out, ref_420(yuv, w, h, yv12)), -1) << w << "x" << h << " yv12=" << yv12;
            EXPECT_EQ(tail, Bytes(16, 0xEE)) << "wrote past the frame";
        }
    }
}

TEST_P(BothPaths, Fast420ClampsBlackAndWhite) {
    const int w = 32, h = 2;  // wide enough for one vector step
    for (auto [luma, want] : {std::pair{16, 0}, {255, 255}}) {
        Bytes yuv(size_t(w) * h, uint8_t(luma));
        yuv.resize(size_t(w) * h * 3 / 2, 128);
        Bytes out(size_t(w) * h * 3);
        YUV420_To_RGB888_Fast(FMT_YUV420P, yuv.data(), out.data(), w, h);
        EXPECT_EQ(out, Bytes(out.size(), uint8_t(want))) << "luma " << luma;
    }
}

TEST_P(BothPaths, Yuv422HandlesRowTails) {
    for (auto [w, h] : {std::pair{2, 1}, {30, 3}, {32, 2}, {34, 2}, {66, 3}, {1282, 2}}) {
        Bytes yuyv = random_bytes(size_t(w) * h * 2, uint32_t(w * 7 + h));
        for (bool reverse : {false, true}) {
            Bytes out(size_t(w) * h * 3 + 16, 0xEE);
            if (reverse)
                YUV422_To_BGR888_Reverse(yuyv.data(), out.data(), w, h);
            else
                YUV422_To_RGB888(yuyv.data(), out.data(), w, h);
            EXPECT_EQ(Bytes(out.end() - 16, out.end()), Bytes(16, 0xEE)) << "wrote past the frame";
            out.resize(out.size() - 16);
            EXPECT_EQ(first_diff(out, ref_422(yuyv, w, h, reverse)), -1) << w << "x" << h << " reverse=" << reverse;
        }
    }
}

// The exhaustive frames are large, so one reference serves both paths.
TEST(Yuv, Fast420MatchesFormulasForEveryInput) {
    // 2048 x 2048 blocks: every (U, V) pair 64 times, with the four luma samples
    // of the k-th repetition 4k .. 4k + 3, so all 2^24 (Y, U, V) triples occur.
    const int w = 4096, h = 4096, cw = w / 2;
    Bytes yuv(size_t(w) * h * 3 / 2);
    uint8_t* u = &yuv[size_t(w) * h];
    uint8_t* v = u + size_t(cw) * (h / 2);
    for (size_t b = 0; b < size_t(cw) * (h / 2); b++) {
        size_t bx = b % cw, by = b / cw, q = b / 65536;
        u[b] = uint8_t(b >> 8);
        v[b] = uint8_t(b);
        for (int k = 0; k < 4; k++) yuv[(2 * by + k / 2) * w + 2 * bx + k % 2] = uint8_t(4 * q + k);
    }
    const Bytes want = ref_420(yuv, w, h, false);
    Bytes out(size_t(w) * h * 3);
    for (bool vector : {true, false}) {
        qb::media::set_simd_enabled(vector);
        ASSERT_EQ(YUV420_To_RGB888_Fast(FMT_YUV420P, yuv.data(), out.data(), w, h), 0);
        EXPECT_EQ(first_diff(out, want), -1) << (vector ? "vector" : "portable");
    }
    qb::media::set_simd_enabled(true);
}

TEST(Yuv, Yuv422MatchesFormulasForEveryInput) {
    // 4096 x 4096 pixels = 2^23 groups: every (U, V) pair with the 128 luma pairs (2k, 2k + 1).
    const int w = 4096, h = 4096;
    Bytes yuyv(size_t(w) * h * 2);
    for (size_t g = 0; g < yuyv.size() / 4; g++) {
        size_t uv = g % 65536, k = g / 65536;
        uint8_t* p = &yuyv[4 * g];
        p[0] = uint8_t(2 * k);
        p[1] = uint8_t(uv >> 8);
        p[2] = uint8_t(2 * k + 1);
        p[3] = uint8_t(uv);
    }
    const Bytes want = ref_422(yuyv, w, h, false);
    Bytes want_reverse(want.size());  // B, G, R with the rows in reverse order
    for (int j = 0; j < h; j++)
        for (int i = 0; i < w; i++) {
            const uint8_t* s = &want[(size_t(j) * w + i) * 3];
            uint8_t* d = &want_reverse[(size_t(h - 1 - j) * w + i) * 3];
            d[0] = s[2], d[1] = s[1], d[2] = s[0];
        }
    Bytes out(size_t(w) * h * 3);
    for (bool vector : {true, false}) {
        qb::media::set_simd_enabled(vector);
        ASSERT_EQ(YUV422_To_RGB888(yuyv.data(), out.data(), w, h), 0);
        EXPECT_EQ(first_diff(out, want), -1) << (vector ? "vector" : "portable");
        if (!vector) continue;  // the portable reverse shares the per-pixel code checked just above
        ASSERT_EQ(YUV422_To_BGR888_Reverse(yuyv.data(), out.data(), w, h), 0);
        EXPECT_EQ(first_diff(out, want_reverse), -1);
    }
    qb::media::set_simd_enabled(true);
}

TEST(Yuv, SinglePixelClampsAndPacks) {
    int px = convert_yuv_to_rgb_pixel(255, 255, 255);
    EXPECT_EQ(px & 0xFF, 255);                   // R clamped
    EXPECT_EQ((px >> 8) & 0xFF, 123);            // 255 - 88.65 - 42.88, truncated
    EXPECT_EQ((px >> 16) & 0xFF, 255);           // B clamped
    EXPECT_EQ(convert_yuv_to_rgb_pixel(0, 0, 0) & 0xFF, 0);
    EXPECT_EQ(convert_yuv_to_rgb_pixel(128, 128, 128), 0x808080);
    EXPECT_EQ(px >> 24, 0);
}

TEST(Yuv, FloatBgrUsesFirstPlaneWeightsAndStoresBottomUp) {
    const int w = 6, h = 4;
    Bytes yuv = random_bytes(size_t(w) * h * 3 / 2, 5);
    Bytes out(size_t(w) * h * 3);
    EXPECT_EQ(YUV420_To_BGR888(yuv.data(), out.data(), w, h), w * h * 3);
    const uint8_t* p1 = &yuv[w * h];
    const uint8_t* p2 = p1 + (w / 2) * (h / 2);
    for (int j = 0; j < h; j++)
        for (int i = 0; i < w; i++) {
            double y = yuv[j * w + i], c1 = p1[(j / 2) * (w / 2) + i / 2] - 128.0, c2 = p2[(j / 2) * (w / 2) + i / 2] - 128.0;
            const uint8_t* o = &out[((h - 1 - j) * w + i) * 3];
            EXPECT_EQ(o[0], clamp_trunc(y + 1.4075 * c1));
            EXPECT_EQ(o[1], clamp_trunc(y - 0.3455 * c2 - 0.7169 * c1));
            EXPECT_EQ(o[2], clamp_trunc(y + 1.779 * c2));
        }
}

TEST(Yuv, TwoByTwoBmpsStoreTheTopRowLast) {
    // Top row luma 200, bottom row 50; neutral chroma keeps the pixels grey.
    Bytes yuv420 = {200, 200, 50, 50, 128, 128};
    Bytes yuyv = {200, 128, 200, 128, 50, 128, 50, 128};
    Bytes bmp(66);
    ASSERT_EQ(YUV420_To_BMP(yuv420.data(), bmp.data(), 2, 2), 66);
    EXPECT_EQ(Bytes(bmp.begin() + 54, bmp.end()), (Bytes{50, 50, 50, 50, 50, 50, 200, 200, 200, 200, 200, 200}));
    EXPECT_EQ(bmp_get_width(reinterpret_cast<char*>(bmp.data())), 2);
    std::fill(bmp.begin(), bmp.end(), 0);
    ASSERT_EQ(YUV422_To_BMP(yuyv.data(), bmp.data(), 2, 2), 66);
    EXPECT_EQ(Bytes(bmp.begin() + 54, bmp.end()), (Bytes{50, 50, 50, 50, 50, 50, 200, 200, 200, 200, 200, 200}));
    EXPECT_EQ(bmp_get_height(reinterpret_cast<char*>(bmp.data())), 2);
}

}  // namespace
