// YUV to RGB/BGR conversion and the in-memory BMP header.
#include "bmp_encode.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <cstring>

#include "media/bmp/media_internal.h"

namespace {

// Fixed-point factors (BT.601 scaled by 65536), built at compile time so the
// first conversion cannot race another thread building them.
template <int64_t Factor, int Offset>
constexpr std::array<int64_t, 256> scaled_table() {
    std::array<int64_t, 256> t{};
    for (int i = 0; i < 256; i++) t[i] = int64_t(i - Offset) * Factor;
    return t;
}

constexpr std::array<int64_t, 256> crv_tab = scaled_table<104597, 128>();
constexpr std::array<int64_t, 256> cbu_tab = scaled_table<132201, 128>();
constexpr std::array<int64_t, 256> cgu_tab = scaled_table<25675, 128>();
constexpr std::array<int64_t, 256> cgv_tab = scaled_table<53279, 128>();
constexpr std::array<int64_t, 256> tab_76309 = scaled_table<76309, 16>();

constexpr std::array<uint8_t, 1024> make_clp() {
    std::array<uint8_t, 1024> t{};
    for (int i = 0; i < 1024; i++) t[i] = uint8_t(i < 384 ? 0 : i < 640 ? i - 384 : 255);
    return t;
}
constexpr std::array<uint8_t, 1024> clp = make_clp();

std::atomic<bool> g_simd_enabled{true};

bool use_avx2() { return g_simd_enabled.load(std::memory_order_relaxed) && qb::media::simd_available(); }

uint8_t clamp_byte(double v) {
    int i = static_cast<int>(v);  // toward zero, as the reference does
    return static_cast<uint8_t>(i < 0 ? 0 : i > 255 ? 255 : i);
}

void put_le16(unsigned char* p, uint32_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}

void put_le32(unsigned char* p, uint32_t v) {
    for (int i = 0; i < 4; i++) p[i] = uint8_t(v >> (8 * i));
}

// Bytes, not a cast: the header sits at any alignment in the caller's buffer.
int32_t get_le32(const char* p) {
    const auto* b = reinterpret_cast<const unsigned char*>(p);
    return int32_t(uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24);
}

// Scalar 4:2:0 pixels [x0, width) of one row pair.
void yuv420_rows_scalar(const uint8_t* y0, const uint8_t* y1, const uint8_t* u, const uint8_t* v, uint8_t* out0,
                        uint8_t* out1, int x0, int width) {
    for (int x = x0; x < width; x += 2) {
        int32_t cr = int32_t(crv_tab[v[x / 2]]);
        int32_t cg = int32_t(cgu_tab[u[x / 2]]) + int32_t(cgv_tab[v[x / 2]]);
        int32_t cb = int32_t(cbu_tab[u[x / 2]]);
        const uint8_t* ys[2] = {y0, y1};
        uint8_t* outs[2] = {out0, out1};
        for (int r = 0; r < 2; r++) {
            for (int k = 0; k < 2; k++) {
                int32_t yy = int32_t(tab_76309[ys[r][x + k]]);
                uint8_t* px = outs[r] + 3 * (x + k);
                px[0] = clp[384 + ((yy + cr) >> 16)];
                px[1] = clp[384 + ((yy - cg) >> 16)];
                px[2] = clp[384 + ((yy + cb) >> 16)];
            }
        }
    }
}

// Scalar 4:2:2 pixels [x0, width) of one YUYV row; bgr swaps the outer bytes.
void yuv422_row_scalar(const uint8_t* yuyv, uint8_t* out, int x0, int width, bool bgr) {
    for (int x = x0; x + 1 < width; x += 2) {
        const uint8_t* g = yuyv + 2 * x;
        for (int k = 0; k < 2; k++) {
            int px = convert_yuv_to_rgb_pixel(g[2 * k], g[1], g[3]);
            uint8_t* o = out + 3 * (x + k);
            o[bgr ? 2 : 0] = uint8_t(px);
            o[1] = uint8_t(px >> 8);
            o[bgr ? 0 : 2] = uint8_t(px >> 16);
        }
    }
}

void yuv422_convert(const unsigned char* yuv, unsigned char* rgb, unsigned int width, unsigned int height,
                    bool bgr, bool bottom_up) {
    const bool simd = use_avx2();
    const size_t in_stride = size_t(width) * 2, out_stride = size_t(width) * 3;
    for (size_t j = 0; j < height; j++) {
        const uint8_t* in = yuv + j * in_stride;
        uint8_t* out = rgb + (bottom_up ? height - 1 - j : j) * out_stride;
        int done = simd ? qb::media::yuv422_row_avx2(in, out, int(width), bgr) : 0;
        yuv422_row_scalar(in, out, done, int(width), bgr);
    }
}

}  // namespace

namespace qb::media {

bool simd_available() {
#if defined(__x86_64__) || defined(__i386__)
    static const bool avx2 = __builtin_cpu_supports("avx2");
    return avx2;
#else
    return false;
#endif
}

void set_simd_enabled(bool on) { g_simd_enabled.store(on, std::memory_order_relaxed); }
bool simd_enabled() { return use_avx2(); }

void bmp_header_write(unsigned char* b, int width, int height, uint32_t stride) {
    uint32_t image = stride * uint32_t(height);
    std::memset(b, 0, 54);
    b[0] = 'B';
    b[1] = 'M';
    put_le32(b + 2, 54 + image);
    put_le32(b + 10, 54);
    put_le32(b + 14, 40);
    put_le32(b + 18, uint32_t(width));
    put_le32(b + 22, uint32_t(height));
    put_le16(b + 26, 1);
    put_le16(b + 28, 24);
    put_le32(b + 34, image);
    put_le32(b + 38, _ypixelpermeter);
    put_le32(b + 42, _xpixelpermeter);
}

}  // namespace qb::media

static_assert(sizeof(struct bitmap) == 54, "BMP header must stay packed");

extern "C" {

QB_API int YUV420_To_RGB888_Fast(int type, unsigned char* yuvbuffer, unsigned char* rgbbuffer, int width,
                                 int height) {
    const size_t w = size_t(width), luma = w * size_t(height), chroma = luma / 4;
    const uint8_t* p1 = yuvbuffer + luma;
    const uint8_t* u = type == FMT_YV12 ? p1 + chroma : p1;
    const uint8_t* v = type == FMT_YV12 ? p1 : p1 + chroma;
    const bool simd = use_avx2();
    for (size_t j = 0; j + 1 < size_t(height); j += 2) {
        const uint8_t* y0 = yuvbuffer + j * w;
        const uint8_t* cu = u + (j / 2) * (w / 2);
        const uint8_t* cv = v + (j / 2) * (w / 2);
        uint8_t* out0 = rgbbuffer + j * w * 3;
        int done = simd ? qb::media::yuv420_rows_avx2(y0, y0 + w, cu, cv, out0, out0 + w * 3, width) : 0;
        yuv420_rows_scalar(y0, y0 + w, cu, cv, out0, out0 + w * 3, done, width);
    }
    return 0;
}

QB_API int YUV420_To_BGR888(unsigned char* yuv, unsigned char* rgb, int width, int height) {
    const size_t w = size_t(width), h = size_t(height), cw = w / 2;
    const uint8_t* p1 = yuv + w * h;
    const uint8_t* p2 = p1 + (w / 2) * (h / 2);
    for (size_t j = 0; j < h; j++) {
        uint8_t* out = rgb + (h - 1 - j) * w * 3;
        for (size_t i = 0; i < w; i++) {
            double y = yuv[j * w + i];
            double c1 = double(p1[(j / 2) * cw + i / 2]) - 128;
            double c2 = double(p2[(j / 2) * cw + i / 2]) - 128;
            out[3 * i] = clamp_byte(y + 1.4075 * c1);
            out[3 * i + 1] = clamp_byte(y - 0.3455 * c2 - 0.7169 * c1);
            out[3 * i + 2] = clamp_byte(y + 1.779 * c2);
        }
    }
    return width * height * 3;
}

QB_API int convert_yuv_to_rgb_pixel(int y, int u, int v) {
    uint32_t r = clamp_byte(y + 1.370705 * (v - 128));
    uint32_t g = clamp_byte(y - 0.698001 * (v - 128) - 0.337633 * (u - 128));
    uint32_t b = clamp_byte(y + 1.732446 * (u - 128));
    return int(r | g << 8 | b << 16);
}

QB_API int YUV422_To_RGB888(unsigned char* yuv, unsigned char* rgb, unsigned int width, unsigned int height) {
    yuv422_convert(yuv, rgb, width, height, false, false);
    return 0;
}

QB_API int YUV422_To_BGR888_Reverse(unsigned char* yuv, unsigned char* rgb, unsigned int width,
                                    unsigned int height) {
    yuv422_convert(yuv, rgb, width, height, true, true);
    return 0;
}

QB_API int YUV420_To_BMP(unsigned char* yuv, unsigned char* rgb, int width, int height) {
    bmp_header_add(rgb, width, height);
    return 54 + YUV420_To_BGR888(yuv, rgb + 54, width, height);
}

QB_API int YUV422_To_BMP(unsigned char* yuv, unsigned char* rgb, int width, int height) {
    bmp_header_add(rgb, width, height);
    YUV422_To_BGR888_Reverse(yuv, rgb + 54, unsigned(width), unsigned(height));
    return 54 + width * height * 3;
}

QB_API int bmp_header_size(void) { return 54; }

QB_API int bmp_header_add(unsigned char* buffer, int width, int height) {
    qb::media::bmp_header_write(buffer, width, height, uint32_t(width) * 3);
    return 54;
}

QB_API int bmp_get_width(char* buffer) { return get_le32(buffer + 18); }

QB_API int bmp_get_height(char* buffer) { return get_le32(buffer + 22); }

}  // extern "C"
