#include <gd.h>

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "bmp_encode.h"
#include "support/pillow.h"
#include "support/test_support.h"

namespace {

using Bytes = std::vector<uint8_t>;

char* chars(Bytes& b) { return reinterpret_cast<char*>(b.data()); }

uint32_t le32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24; }

// A BMP of this module with pixel (x, y from the top) = colour(x, y) as {R, G, B}.
template <typename Colour>
Bytes make_bmp(int w, int h, Colour colour) {
    Bytes bmp(54 + size_t(w) * h * 3);
    bmp_header_add(bmp.data(), w, h);
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) {
            auto [r, g, b] = colour(x, y);
            uint8_t* p = &bmp[54 + (size_t(h - 1 - y) * w + x) * 3];
            p[0] = uint8_t(b), p[1] = uint8_t(g), p[2] = uint8_t(r);
        }
    return bmp;
}

struct Rgb {
    int r, g, b;
};
Rgb gradient(int x, int y) { return {x * 37 % 256, y * 53 % 256, (x * 11 + y * 7) % 256}; }

// Pixel (x, y from the top) of a BMP in this module's unpadded layout.
Rgb pixel_at(const Bytes& bmp, int w, int h, int x, int y) {
    const uint8_t* p = &bmp[54 + (size_t(h - 1 - y) * w + x) * 3];
    return {p[2], p[1], p[0]};
}

using GdImage = std::unique_ptr<gdImage, decltype(&gdImageDestroy)>;

TEST(Bmp, HeaderOfFourByTwoIsByteExact) {
    Bytes h(54, 0xEE);
    ASSERT_EQ(bmp_header_add(h.data(), 4, 2), 54);
    EXPECT_EQ(bmp_header_size(), 54);
    Bytes want = {'B', 'M', 78, 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0,   // file header
                  40, 0, 0, 0, 4, 0, 0, 0, 2, 0, 0, 0, 1, 0, 24, 0,  // size, w, h, planes, bpp
                  0, 0, 0, 0, 24, 0, 0, 0,                           // compression, image size
                  0x0B, 0x13, 0, 0, 0x0B, 0x13, 0, 0,                // resolutions 4875
                  0, 0, 0, 0, 0, 0, 0, 0};                           // palette counts
    EXPECT_EQ(h, want);
}

TEST(Bmp, SizeFieldsReadBackAtAnyAlignment) {
    // Odd offsets: a cast read would be unaligned (a fault on some ARM cores).
    for (auto [w, h] : {std::pair{4, 2}, {640, 480}, {70000, -3}}) {
        Bytes buf(60);
        bmp_header_add(buf.data() + 1, w, h);
        EXPECT_EQ(bmp_get_width(chars(buf) + 1), w);
        EXPECT_EQ(bmp_get_height(chars(buf) + 1), h);
    }
}

TEST(Bmp, LinearResizeTakesNearestStoredSamples) {
    Bytes src = make_bmp(4, 4, gradient);
    Bytes out(54 + 2 * 2 * 3);
    ASSERT_EQ(BMP_Resize_linear(chars(src), chars(out), 4, 4, 2, 2), 66);
    EXPECT_EQ(bmp_get_width(chars(out)), 2);
    EXPECT_EQ(bmp_get_height(chars(out)), 2);
    // Stored rows are sampled in stored order: stored (row, col) (0,0), (0,2), (2,0), (2,2).
    for (int sr = 0; sr < 2; sr++)
        for (int sc = 0; sc < 2; sc++)
            EXPECT_EQ(0, memcmp(&out[54 + (sr * 2 + sc) * 3], &src[54 + (2 * sr * 4 + 2 * sc) * 3], 3));
    // Upscaling repeats samples: 3 -> 7 columns take 0,0,0,1,1,2,2 (single-precision ratio 3/7).
    Bytes row = make_bmp(3, 1, gradient), wide(54 + 7 * 3);
    ASSERT_EQ(BMP_Resize_linear(chars(row), chars(wide), 3, 1, 7, 1), 54 + 21);
    int want[] = {0, 0, 0, 1, 1, 2, 2};
    for (int x = 0; x < 7; x++) EXPECT_EQ(pixel_at(wide, 7, 1, x, 0).r, gradient(want[x], 0).r) << x;
}

TEST(Bmp, ResizersRefuseSizesThatAreNotPositive) {
    Bytes src = make_bmp(4, 4, gradient), out(200, 0xEE);
    for (auto [w, h, tw, th] : {std::tuple{4, 4, 0, 2}, {4, 4, 2, 0}, {4, 4, -2, 2}, {0, 4, 2, 2}, {4, -4, 2, 2}}) {
        EXPECT_EQ(BMP_Resize_linear(chars(src), chars(out), w, h, tw, th), -1);
        EXPECT_EQ(BMP_Resize_GD(chars(src), chars(out), w, h, tw, th), -1);
    }
    EXPECT_EQ(out, Bytes(200, 0xEE));
}

TEST(Bmp, GdResizeMatchesLibgdForAnyRowPadding) {
    // Widths whose rows need padding on the way in (5, 7) and out (3, 5, 7) or not (4, 8).
    for (auto [w, h, tw, th] : {std::tuple{8, 6, 4, 3}, {5, 3, 7, 5}, {7, 7, 3, 2}, {4, 4, 5, 9}, {9, 5, 8, 2}}) {
        Bytes src = make_bmp(w, h, gradient);
        const size_t cap = 54 + size_t(tw) * th * 3;
        // Exactly the documented size, so a longer write is a heap overflow under ASan.
        std::unique_ptr<char, decltype(&free)> out(static_cast<char*>(malloc(cap)), free);
        int len = BMP_Resize_GD(chars(src), out.get(), w, h, tw, th);
        ASSERT_EQ(len, int(cap)) << w << "x" << h << " -> " << tw << "x" << th;
        Bytes got(out.get(), out.get() + cap);
        EXPECT_EQ(bmp_get_width(out.get()), tw);
        EXPECT_EQ(bmp_get_height(out.get()), th);
        EXPECT_EQ(le32(&got[10]), 54u);

        // The same scaling done with libgd directly.
        GdImage im(gdImageCreateTrueColor(w, h), gdImageDestroy);
        for (int y = 0; y < h; y++)
            for (int x = 0; x < w; x++) {
                Rgb c = gradient(x, y);
                gdImageSetPixel(im.get(), x, y, gdTrueColor(c.r, c.g, c.b));
            }
        gdImageSetInterpolationMethod(im.get(), GD_BILINEAR_FIXED);
        GdImage scaled(gdImageScale(im.get(), tw, th), gdImageDestroy);
        ASSERT_TRUE(scaled);
        for (int y = 0; y < th; y++)
            for (int x = 0; x < tw; x++) {
                int c = gdImageGetTrueColorPixel(scaled.get(), x, y);
                Rgb p = pixel_at(got, tw, th, x, y);
                EXPECT_EQ((std::tuple{p.r, p.g, p.b}),
                          (std::tuple{gdTrueColorGetRed(c), gdTrueColorGetGreen(c), gdTrueColorGetBlue(c)}))
                    << "pixel " << x << "," << y << " of " << w << "x" << h << " -> " << tw << "x" << th;
            }
    }
}

TEST(Bmp, GdResizeReportsUndecodableInput) {
    Bytes junk(54 + 4 * 4 * 3, 0x5A), out(54 + 2 * 2 * 3);
    std::string log = qbtest::capture_stdout([&] { EXPECT_EQ(BMP_Resize_GD(chars(junk), chars(out), 4, 4, 2, 2), 4); });
    EXPECT_NE(log.find("Can't create image from bmp\n"), std::string::npos);
}

TEST(Bmp, PillowAndLibgdReadOurBmps) {
    // YUV420_To_BMP of a frame with distinct rows and columns; width multiple of 4 = standard file.
    const int w = 8, h = 6;
    std::vector<uint8_t> yuv(w * h * 3 / 2);
    std::mt19937 rng(3);
    for (auto& b : yuv) b = uint8_t(rng());
    Bytes bmp(54 + w * h * 3);
    ASSERT_EQ(YUV420_To_BMP(yuv.data(), bmp.data(), w, h), int(bmp.size()));

    qbtest::PillowImage img = qbtest::pillow_decode(std::string(bmp.begin(), bmp.end()));
    ASSERT_TRUE(img.ok) << img.error;
    EXPECT_EQ(img.format, "BMP");
    EXPECT_EQ(img.width, w);
    EXPECT_EQ(img.height, h);
    GdImage gd(gdImageCreateFromBmpPtr(int(bmp.size()), bmp.data()), gdImageDestroy);
    ASSERT_TRUE(gd);
    ASSERT_EQ(gdImageSX(gd.get()), w);
    ASSERT_EQ(gdImageSY(gd.get()), h);
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) {
            Rgb p = pixel_at(bmp, w, h, x, y);
            const uint8_t* q = reinterpret_cast<const uint8_t*>(&img.rgb[(y * w + x) * 3]);
            EXPECT_EQ((std::tuple{p.r, p.g, p.b}), (std::tuple{int(q[0]), int(q[1]), int(q[2])})) << x << "," << y;
            int c = gdImageGetTrueColorPixel(gd.get(), x, y);
            EXPECT_EQ((std::tuple{p.r, p.g, p.b}),
                      (std::tuple{gdTrueColorGetRed(c), gdTrueColorGetGreen(c), gdTrueColorGetBlue(c)}));
        }
}

}  // namespace
