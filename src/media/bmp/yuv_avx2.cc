// AVX2 kernels for the YUV converters. They reproduce the scalar results bit
// for bit: the 4:2:0 path does the same 32-bit integer sums and shifts, the
// 4:2:2 path uses integer forms of the double formulas whose equality for all
// 2^24 inputs the tests check exhaustively.
#include "media/bmp/media_internal.h"

#if defined(__x86_64__) || defined(__i386__)

#include <immintrin.h>

#include <array>

#define QB_AVX2 __attribute__((target("avx2")))

namespace {

// After packing, each 128-bit lane holds the 16 pixels of one row (or chunk)
// in the order even 0-3, odd 0-3, even 4-7, odd 4-7 (pixel p -> byte below).
constexpr int lane_byte(int p) {
    int k = p / 2;
    return p % 2 == 0 ? (k < 4 ? k : k + 4) : (k < 4 ? k + 4 : k + 8);
}

// pshufb masks that pick channel c's bytes into output register m (48 bytes = 3 registers).
constexpr std::array<std::array<std::array<int8_t, 32>, 3>, 3> make_masks() {
    std::array<std::array<std::array<int8_t, 32>, 3>, 3> m{};
    for (int reg = 0; reg < 3; reg++)
        for (int c = 0; c < 3; c++)
            for (int i = 0; i < 32; i++) {
                int j = 16 * reg + i % 16;
                m[reg][c][i] = j % 3 == c ? int8_t(lane_byte(j / 3)) : int8_t(-128);
            }
    return m;
}
constexpr auto kMasks = make_masks();

QB_AVX2 inline __m256i mask(int reg, int c) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(kMasks[reg][c].data()));
}

// Interleaves 16 pixels per lane of three channel registers into packed
// 3-byte pixels: lane 0 to dst0, lane 1 to dst1 (48 bytes each).
QB_AVX2 inline void store_packed(__m256i c0, __m256i c1, __m256i c2, uint8_t* dst0, uint8_t* dst1) {
    for (int reg = 0; reg < 3; reg++) {
        __m256i o = _mm256_or_si256(
            _mm256_or_si256(_mm256_shuffle_epi8(c0, mask(reg, 0)), _mm256_shuffle_epi8(c1, mask(reg, 1))),
            _mm256_shuffle_epi8(c2, mask(reg, 2)));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst0 + 16 * reg), _mm256_castsi256_si128(o));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst1 + 16 * reg), _mm256_extracti128_si256(o, 1));
    }
}

// Two sets of 16 int16 values (lanes: even 0-3, odd 0-3 | even 4-7, odd 4-7)
// to bytes with unsigned saturation, set a in lane 0 and set b in lane 1.
QB_AVX2 inline __m256i pack_two(__m256i a16, __m256i b16) {
    return _mm256_permute4x64_epi64(_mm256_packus_epi16(a16, b16), 0xD8);
}

// (even + add) >> 16 and (odd + add) >> 16 packed to 16 int16 lanes.
QB_AVX2 inline __m256i shifted_pair(__m256i even, __m256i odd, __m256i add) {
    return _mm256_packs_epi32(_mm256_srai_epi32(_mm256_add_epi32(even, add), 16),
                              _mm256_srai_epi32(_mm256_add_epi32(odd, add), 16));
}

QB_AVX2 inline __m256i offset_pair(__m256i even, __m256i odd, __m256i off) {
    return _mm256_packs_epi32(_mm256_add_epi32(even, off), _mm256_add_epi32(odd, off));
}

// floor((128 - 0.698001 * dv) - 0.337633 * du) - 128 for four groups, in the
// reference's operation order.
QB_AVX2 inline __m128i g_offset4(__m128i du4, __m128i dv4) {
    __m256d g = _mm256_sub_pd(
        _mm256_sub_pd(_mm256_set1_pd(128.0), _mm256_mul_pd(_mm256_set1_pd(0.698001), _mm256_cvtepi32_pd(dv4))),
        _mm256_mul_pd(_mm256_set1_pd(0.337633), _mm256_cvtepi32_pd(du4)));
    return _mm_sub_epi32(_mm256_cvttpd_epi32(_mm256_floor_pd(g)), _mm_set1_epi32(128));
}

struct Rgb16 {
    __m256i r, g, b;
};

// 4:2:0 fixed point for 16 pixels of one luma row: even/odd pixels share
// the block's chroma terms (already in 32-bit lanes, one per block).
QB_AVX2 inline Rgb16 yuv420_16(const uint8_t* y, __m256i cr, __m256i cg, __m256i cb) {
    const __m256i k_y = _mm256_set1_epi32(76309);
    const __m128i lum = _mm_loadu_si128(reinterpret_cast<const __m128i*>(y));
    const __m128i even = _mm_and_si128(lum, _mm_set1_epi16(0x00FF));
    const __m128i odd = _mm_srli_epi16(lum, 8);
    // y * 76309 here; the -16 * 76309 is folded into the chroma terms.
    const __m256i ye = _mm256_mullo_epi32(_mm256_cvtepu16_epi32(even), k_y);
    const __m256i yo = _mm256_mullo_epi32(_mm256_cvtepu16_epi32(odd), k_y);
    return {shifted_pair(ye, yo, cr), shifted_pair(ye, yo, cg), shifted_pair(ye, yo, cb)};
}

QB_AVX2 inline __m256i load8_epi32(const uint8_t* p) {
    return _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)));
}

// 4:2:2 for 16 pixels (8 YUYV groups): R and B offsets are exact integer
// forms of the double products; G keeps the double arithmetic per group.
QB_AVX2 inline Rgb16 yuv422_16(const uint8_t* src) {
    const __m256i groups = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src));
    const __m256i byte = _mm256_set1_epi32(0xFF);
    const __m256i y0 = _mm256_and_si256(groups, byte);
    const __m256i u = _mm256_and_si256(_mm256_srli_epi32(groups, 8), byte);
    const __m256i y1 = _mm256_and_si256(_mm256_srli_epi32(groups, 16), byte);
    const __m256i v = _mm256_srli_epi32(groups, 24);
    const __m256i c128 = _mm256_set1_epi32(128);
    const __m256i du = _mm256_sub_epi32(u, c128), dv = _mm256_sub_epi32(v, c128);
    // floor(1.370705 * dv) and floor(1.732446 * du) for every dv, du in -128..127.
    const __m256i ro = _mm256_srai_epi32(_mm256_mullo_epi32(dv, _mm256_set1_epi32(89831)), 16);
    const __m256i bo = _mm256_srai_epi32(_mm256_mullo_epi32(du, _mm256_set1_epi32(113538)), 16);
    const __m256i go = _mm256_setr_m128i(g_offset4(_mm256_castsi256_si128(du), _mm256_castsi256_si128(dv)),
                                         g_offset4(_mm256_extracti128_si256(du, 1), _mm256_extracti128_si256(dv, 1)));
    return {offset_pair(y0, y1, ro), offset_pair(y0, y1, go), offset_pair(y0, y1, bo)};
}

}  // namespace

namespace qb::media {

QB_AVX2 int yuv420_rows_avx2(const uint8_t* y0, const uint8_t* y1, const uint8_t* u, const uint8_t* v,
                             uint8_t* out0, uint8_t* out1, int width) {
    const int32_t y_bias = -16 * 76309;
    const __m256i k_cr = _mm256_set1_epi32(104597), k_cbu = _mm256_set1_epi32(132201);
    const __m256i k_cgu = _mm256_set1_epi32(25675), k_cgv = _mm256_set1_epi32(53279);
    const __m256i c128 = _mm256_set1_epi32(128), bias = _mm256_set1_epi32(y_bias);
    int x = 0;
    for (; x + 16 <= width; x += 16) {
        const __m256i du = _mm256_sub_epi32(load8_epi32(u + x / 2), c128);
        const __m256i dv = _mm256_sub_epi32(load8_epi32(v + x / 2), c128);
        const __m256i cr = _mm256_add_epi32(bias, _mm256_mullo_epi32(dv, k_cr));
        const __m256i cb = _mm256_add_epi32(bias, _mm256_mullo_epi32(du, k_cbu));
        const __m256i cg = _mm256_sub_epi32(
            bias, _mm256_add_epi32(_mm256_mullo_epi32(du, k_cgu), _mm256_mullo_epi32(dv, k_cgv)));
        const Rgb16 a = yuv420_16(y0 + x, cr, cg, cb);
        const Rgb16 b = yuv420_16(y1 + x, cr, cg, cb);
        store_packed(pack_two(a.r, b.r), pack_two(a.g, b.g), pack_two(a.b, b.b), out0 + 3 * x, out1 + 3 * x);
    }
    return x;
}

QB_AVX2 int yuv422_row_avx2(const uint8_t* yuyv, uint8_t* out, int width, bool bgr) {
    int x = 0;
    for (; x + 32 <= width; x += 32) {
        const Rgb16 a = yuv422_16(yuyv + 2 * x);
        const Rgb16 b = yuv422_16(yuyv + 2 * x + 32);
        const __m256i r = pack_two(a.r, b.r), g = pack_two(a.g, b.g), bl = pack_two(a.b, b.b);
        if (bgr)
            store_packed(bl, g, r, out + 3 * x, out + 3 * x + 48);
        else
            store_packed(r, g, bl, out + 3 * x, out + 3 * x + 48);
    }
    return x;
}

}  // namespace qb::media

#else

namespace qb::media {

int yuv420_rows_avx2(const uint8_t*, const uint8_t*, const uint8_t*, const uint8_t*, uint8_t*, uint8_t*, int) {
    return 0;
}
int yuv422_row_avx2(const uint8_t*, uint8_t*, int, bool) { return 0; }

}  // namespace qb::media

#endif
