#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include <gtest/gtest.h>

#include "bmp_encode.h"
#include "media/bmp/media_internal.h"

namespace {

using Bytes = std::vector<uint8_t>;

// Every (Y, U, V) triple needs 4096 x 4096 pixels; the sanitized build checks a 1/16 sample.
#ifdef __SANITIZE_ADDRESS__
constexpr int kSide = 1024;
#else
constexpr int kSide = 4096;
#endif

uint8_t clamp(double v) { return uint8_t(v < 0 ? 0 : v > 255 ? 255 : v); }

// The formulas written out directly. kind 0: fast 4:2:0, 1: the same from YV12, 2: 4:2:2 to RGB,
// 3: 4:2:2 to BGR bottom-up, 4: the floating-point 4:2:0 path (bottom-up, first plane weighted as U).
Bytes reference(const Bytes& in, int w, int h, int kind) {
    Bytes out(size_t(w) * h * 3);
    for (int j = 0; j < h; j++)
        for (int i = 0; i < w; i++) {
            size_t n = size_t(w) * h, c = n + size_t(j / 2) * (w / 2) + i / 2, q = c + n / 4;
            const uint8_t* g = kind == 2 || kind == 3 ? &in[(size_t(j) * w + (i & ~1)) * 2] : nullptr;
            double y = g ? g[(i & 1) * 2] : in[size_t(j) * w + i], yy = (y - 16) * 76309;
            double u = (g ? g[1] : in[kind == 1 ? q : c]) - 128.0, v = (g ? g[3] : in[kind == 1 ? c : q]) - 128.0;
            double r = kind == 4 ? y + 1.4075 * u : g ? y + 1.370705 * v : std::floor((yy + v * 104597) / 65536);
            double gr = kind == 4 ? y - 0.3455 * v - 0.7169 * u : g ? y - 0.698001 * v - 0.337633 * u
                                                                : std::floor((yy - u * 25675 - v * 53279) / 65536);
            double b = kind == 4 ? y + 1.779 * v : g ? y + 1.732446 * u : std::floor((yy + u * 132201) / 65536);
            uint8_t* o = &out[(size_t(kind >= 3 ? h - 1 - j : j) * w + i) * 3];
            o[kind == 3 ? 2 : 0] = clamp(r), o[1] = clamp(gr), o[kind == 3 ? 0 : 2] = clamp(b);
        }
    return out;
}

int convert(int kind, Bytes& in, uint8_t* out, int w, int h) {
    if (kind < 2) return YUV420_To_RGB888_Fast(kind, in.data(), out, w, h);
    if (kind == 4) return YUV420_To_BGR888(in.data(), out, w, h);
    return kind == 2 ? YUV422_To_RGB888(in.data(), out, w, h) : YUV422_To_BGR888_Reverse(in.data(), out, w, h);
}

// A kSide-square frame: every (U, V) pair with 4096 / kSide luma blocks, rotated per pair so all values occur.
Bytes every_triple(bool planar) {
    const size_t w = kSide, n = w * w;
    Bytes in(planar ? n * 3 / 2 : n * 2);
    for (size_t b = 0; b < (planar ? n / 4 : n / 2); b++) {  // 2 x 2 blocks or YUYV groups
        size_t uv = b & 0xFFFF, rot = (b >> 16) + uv * 37, x = 2 * (b % (w / 2)), y = 2 * (b / (w / 2));
        uint8_t* p = &in[4 * b];
        if (!planar) {
            p[0] = uint8_t(2 * (rot % 128)), p[1] = uint8_t(uv >> 8), p[2] = uint8_t(p[0] + 1), p[3] = uint8_t(uv);
            continue;
        }
        in[n + b] = uint8_t(uv >> 8), in[n + n / 4 + b] = uint8_t(uv);
        for (size_t k = 0; k < 4; k++) in[(y + k / 2) * w + x + k % 2] = uint8_t(4 * (rot % 64) + k);
    }
    return in;
}

// Index of the first differing byte, or -1: a readable failure for huge buffers.
long first_diff(const Bytes& a, const Bytes& b) {
    auto m = std::mismatch(a.begin(), a.end(), b.begin(), b.end());
    return m.first == a.end() && m.second == b.end() ? -1 : long(m.first - a.begin());
}

// Runs each test body with the vector kernels (where the CPU has them) and without.
struct BothPaths : testing::TestWithParam<bool> {
    void SetUp() override { qb::media::set_simd_enabled(GetParam()); }
    void TearDown() override { qb::media::set_simd_enabled(true); }
};
INSTANTIATE_TEST_SUITE_P(Media, BothPaths, testing::Values(true, false),
                         [](const auto& info) { return info.param ? "Vector" : "Portable"; });

TEST_P(BothPaths, ConvertersHandleRowTailsAndRowOrders) {
    // Widths around the vector steps (16 pixels for 4:2:0, 32 for 4:2:2); odd heights for 4:2:2.
    for (auto [w, h] : {std::pair{2, 2}, {14, 4}, {16, 2}, {18, 6}, {30, 2}, {32, 2}, {34, 2}, {46, 4}, {66, 2},
                        {640, 8}, {1282, 2}})
        for (int kind = 0; kind < 5; kind++) {
            int rows = h + (kind == 2 || kind == 3);  // one more (odd) for the packed kinds
            Bytes in(size_t(w) * rows * (rows > h ? 4 : 3) / 2);
            for (uint32_t s = w * 31 + h * 5 + kind; auto& x : in) x = uint8_t((s = s * 1103515245u + 12345u) >> 16);
            Bytes out(size_t(w) * rows * 3 + 16, 0xEE);
            EXPECT_EQ(convert(kind, in, out.data(), w, rows), kind == 4 ? w * rows * 3 : 0);
            EXPECT_EQ(Bytes(out.end() - 16, out.end()), Bytes(16, 0xEE)) << "wrote past the frame";
            out.resize(out.size() - 16);
            EXPECT_EQ(first_diff(out, reference(in, w, rows, kind)), -1) << w << "x" << rows << " kind " << kind;
        }
}

TEST_P(BothPaths, ClampsToBlackAndWhite) {
    EXPECT_EQ(convert_yuv_to_rgb_pixel(255, 255, 255), 255 << 16 | 123 << 8 | 255);  // G = 255 - 88.65 - 42.88
    EXPECT_EQ(convert_yuv_to_rgb_pixel(0, 0, 0), 132 << 8);
    for (auto [luma, want] : {std::pair{16, 0}, {255, 255}}) {
        Bytes yuv(64, uint8_t(luma)), out(64 * 3);  // 32 x 2: one vector step
        yuv.resize(96, 128);
        YUV420_To_RGB888_Fast(FMT_YUV420P, yuv.data(), out.data(), 32, 2);
        EXPECT_EQ(out, Bytes(out.size(), uint8_t(want))) << "luma " << luma;
    }
}

TEST(Yuv, VectorAndPortablePathsMatchTheFormulasOverTheInputRange) {
    // Only proves something about the vector kernels if they are on by default here.
    EXPECT_TRUE(qb::media::simd_enabled() || !qb::media::simd_available());
    for (int kind : {0, 2, 3}) {
        Bytes in = every_triple(kind == 0), want = reference(in, kSide, kSide, kind), out(want.size());
        for (bool vector : {true, false}) {
            qb::media::set_simd_enabled(vector);
            ASSERT_EQ(convert(kind, in, out.data(), kSide, kSide), 0);
            EXPECT_EQ(first_diff(out, want), -1) << "kind " << kind << (vector ? " vector" : " portable");
        }
    }
    qb::media::set_simd_enabled(true);
}

TEST(Yuv, TwoByTwoBmpsStoreTheTopRowLast) {
    // Top row luma 200, bottom row 50; neutral chroma keeps the pixels grey.
    Bytes in[] = {{200, 200, 50, 50, 128, 128}, {200, 128, 200, 128, 50, 128, 50, 128}};  // 4:2:0, 4:2:2
    for (int packed = 0; packed < 2; packed++) {
        Bytes bmp(66);
        ASSERT_EQ((packed ? YUV422_To_BMP : YUV420_To_BMP)(in[packed].data(), bmp.data(), 2, 2), 66);
        EXPECT_EQ(Bytes(bmp.begin() + 54, bmp.end()), (Bytes{50, 50, 50, 50, 50, 50, 200, 200, 200, 200, 200, 200}));
        EXPECT_EQ(bmp_get_width(reinterpret_cast<char*>(bmp.data())), 2);
        EXPECT_EQ(bmp_get_height(reinterpret_cast<char*>(bmp.data())), 2);
    }
}

}  // namespace
