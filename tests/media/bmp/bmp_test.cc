#include <gd.h>

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "bmp_encode.h"
#include "support/pillow.h"
#include "support/test_support.h"

namespace {

using Bytes = std::vector<uint8_t>;
using GdImage = std::unique_ptr<gdImage, decltype(&gdImageDestroy)>;

char* chars(Bytes& b) { return reinterpret_cast<char*>(b.data()); }

// Three bytes R, G, B (or B, G, R) as 0xRRGGBB.
int rgb(const void* p, bool bgr) {
    const auto* q = static_cast<const uint8_t*>(p);
    return q[bgr ? 2 : 0] << 16 | q[1] << 8 | q[bgr ? 0 : 2];
}

// Pixel (x, y from the top) of a BMP in this module's unpadded layout.
int pixel(const Bytes& b, int w, int h, int x, int y) { return rgb(&b[54 + (size_t(h - 1 - y) * w + x) * 3], true); }

// A BMP whose pixels differ in every channel from their neighbours.
Bytes test_bmp(int w, int h) {
    Bytes bmp(54 + size_t(w) * h * 3);
    for (size_t i = 54; i < bmp.size(); i++) bmp[i] = uint8_t(i * 37 + i / 3 * 11);
    bmp_header_add(bmp.data(), w, h);
    return bmp;
}

// Every pixel of the BMP equals read(x, y), the colour another reader sees there.
template <typename Reader>
void expect_pixels(const Bytes& bmp, int w, int h, Reader read) {
    for (int i = 0; i < w * h; i++) EXPECT_EQ(pixel(bmp, w, h, i % w, i / w), read(i % w, i / w)) << "pixel " << i;
}

TEST(Bmp, HeaderOfFourByTwoIsByteExactAndReadsBackAtAnyAlignment) {
    Bytes h(55, 0xEE);
    ASSERT_EQ(bmp_header_add(h.data() + 1, 4, 2), 54);  // odd address: a cast read would be unaligned
    // "BM", size 78, offset 54 | info size 40, 4 x 2, 1 plane, 24 bits | no compression, 24 bytes of pixels,
    // 4875 pixels per metre twice, no palette.
    const Bytes want = {0xEE, 'B', 'M', 78, 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0, 40, 0, 0, 0, 4, 0, 0, 0, 2, 0, 0, 0, 1, 0,
                        24, 0, 0, 0, 0, 0, 24, 0, 0, 0, 0x0B, 0x13, 0, 0, 0x0B, 0x13, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(h, want);
    for (auto [w, ht] : {std::pair{4, 2}, {640, 480}, {70000, -3}}) {
        bmp_header_add(h.data() + 1, w, ht);
        EXPECT_EQ(std::pair(bmp_get_width(chars(h) + 1), bmp_get_height(chars(h) + 1)), std::pair(w, ht));
    }
}

TEST(Bmp, LinearResizeTakesNearestStoredSamples) {
    Bytes src = test_bmp(4, 4), out(54 + 2 * 2 * 3), wide(54 + 7 * 3);
    ASSERT_EQ(BMP_Resize_linear(chars(src), chars(out), 4, 4, 2, 2), 66);
    // Stored rows are sampled in stored order: stored (row, col) (0,0), (0,2), (2,0), (2,2).
    expect_pixels(out, 2, 2, [&](int x, int y) { return pixel(src, 4, 4, 2 * x, 2 * y + 1); });
    EXPECT_EQ(std::pair(bmp_get_width(chars(out)), bmp_get_height(chars(out))), std::pair(2, 2));
    // Upscaling repeats samples: 3 -> 7 columns take 0,0,0,1,1,2,2 (single-precision ratio 3/7).
    ASSERT_EQ(BMP_Resize_linear(chars(src), chars(wide), 3, 1, 7, 1), 54 + 21);
    expect_pixels(wide, 7, 1, [&](int x, int) { return pixel(src, 3, 1, x * 3 / 7, 0); });
}

TEST(Bmp, ResizersRefuseBadInput) {
    Bytes src = test_bmp(4, 4), out(200, 0xEE), junk(54 + 4 * 4 * 3, 0x5A);
    for (auto [w, h, tw, th] : {std::tuple{4, 4, 0, 2}, {4, 4, 2, 0}, {4, 4, -2, 2}, {0, 4, 2, 2}, {4, -4, 2, 2}}) {
        EXPECT_EQ(BMP_Resize_linear(chars(src), chars(out), w, h, tw, th), -1);
        EXPECT_EQ(BMP_Resize_GD(chars(src), chars(out), w, h, tw, th), -1);
    }
    EXPECT_EQ(out, Bytes(200, 0xEE));
    std::string log = qbtest::capture_stdout([&] { EXPECT_EQ(BMP_Resize_GD(chars(junk), chars(out), 4, 4, 2, 2), 4); });
    EXPECT_NE(log.find("Can't create image from bmp\n"), std::string::npos);
}

TEST(Bmp, GdResizeMatchesLibgdForAnyRowPadding) {
    // Widths whose rows need padding on the way in (5, 7, 9) and out (3, 5, 7) or not (4, 8).
    for (auto [w, h, tw, th] : {std::tuple{8, 6, 4, 3}, {5, 3, 7, 5}, {7, 7, 3, 2}, {4, 4, 5, 9}, {9, 5, 8, 2}}) {
        Bytes src = test_bmp(w, h), got(54 + size_t(tw) * th * 3);  // exactly: ASan sees a longer write
        ASSERT_EQ(BMP_Resize_GD(chars(src), chars(got), w, h, tw, th), int(got.size())) << tw << "x" << th;
        EXPECT_TRUE(bmp_get_width(chars(got)) == tw && bmp_get_height(chars(got)) == th && got[10] == 54);
        GdImage im(gdImageCreateTrueColor(w, h), gdImageDestroy);
        for (int i = 0; i < w * h; i++) gdImageSetPixel(im.get(), i % w, i / w, pixel(src, w, h, i % w, i / w));
        gdImageSetInterpolationMethod(im.get(), GD_BILINEAR_FIXED);
        GdImage ref(gdImageScale(im.get(), tw, th), gdImageDestroy);
        ASSERT_TRUE(ref);
        expect_pixels(got, tw, th, [&](int x, int y) { return gdImageGetTrueColorPixel(ref.get(), x, y) & 0xFFFFFF; });
    }
}

TEST(Bmp, PillowAndLibgdReadOurBmps) {
    const int w = 8, h = 6;  // width multiple of 4: a standard file
    Bytes bmp = test_bmp(w, h);
    qbtest::PillowImage img = qbtest::pillow_decode(std::string(bmp.begin(), bmp.end()));
    ASSERT_EQ(std::tuple(img.ok, img.format, img.width, img.height), std::tuple(true, "BMP", w, h)) << img.error;
    expect_pixels(bmp, w, h, [&](int x, int y) { return rgb(&img.rgb[(y * w + x) * 3], false); });
    GdImage gd(gdImageCreateFromBmpPtr(int(bmp.size()), bmp.data()), gdImageDestroy);
    ASSERT_TRUE(gd && gdImageSX(gd.get()) == w && gdImageSY(gd.get()) == h);
    expect_pixels(bmp, w, h, [&](int x, int y) { return gdImageGetTrueColorPixel(gd.get(), x, y) & 0xFFFFFF; });
}

}  // namespace
