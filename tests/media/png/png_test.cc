#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "bmp_encode.h"
#include "png_encode.h"
#include "sdk_config.h"
#include "support/pillow.h"
#include "support/test_support.h"

namespace {

using Bytes = std::vector<uint8_t>;

char* chars(Bytes& b) { return reinterpret_cast<char*>(b.data()); }

Bytes noise(size_t n, uint32_t s) {
    Bytes b(n);
    for (auto& x : b) x = uint8_t((s = s * 1103515245u + 12345u) >> 16);
    return b;
}

// Encodes into a buffer of the documented worst-case size; returns exactly the PNG bytes.
std::string encode(Bytes& src, int w, int h, bool bmp) {
    Bytes out(size_t(PNG_Encode_Bound(w, h)));
    int len = bmp ? BMP_To_PNG(chars(src), chars(out), w, h) : RGB888_To_PNG(chars(src), chars(out), w, h);
    EXPECT_GT(len, 0);
    return std::string(out.begin(), out.begin() + std::max(len, 0));
}

TEST(Png, PillowReadsBackExactPixels) {
    // One pixel; then noise with a flat band, so both compressible and incompressible rows occur.
    Bytes band = noise(37 * 29 * 3, 11);
    std::fill(band.begin(), band.begin() + 37 * 3 * 10, 0x40);
    for (auto [w, h, rgb] : {std::tuple{1, 1, Bytes{1, 2, 3}}, {37, 29, band}}) {
        std::string png = encode(rgb, w, h, false);
        EXPECT_EQ(png.substr(0, 8), std::string("\x89PNG\r\n\x1a\n"));
        qbtest::PillowImage img = qbtest::pillow_decode(png);
        ASSERT_EQ(std::tuple(img.ok, img.mode, img.width, img.height), std::tuple(true, "RGB", w, h)) << img.error;
        EXPECT_TRUE(img.rgb == std::string(rgb.begin(), rgb.end()));
    }
}

#ifdef ENABLE_MEDIA_BMP  // bmp_header_add
TEST(Png, BmpRowsAreFlippedAndChannelsSwapped) {
    // 2 x 2 BMP whose stored first row (the image's bottom) is blue, top row red and green.
    Bytes bmp(54);
    bmp_header_add(bmp.data(), 2, 2);
    bmp.insert(bmp.end(), {255, 0, 0, 255, 0, 0, /* top: */ 0, 0, 255, 0, 255, 0});
    qbtest::PillowImage img = qbtest::pillow_decode(encode(bmp, 2, 2, true));
    EXPECT_EQ(Bytes(img.rgb.begin(), img.rgb.end()), (Bytes{255, 0, 0, 0, 255, 0, 0, 0, 255, 0, 0, 255})) << img.error;
    // A larger BMP gives the same PNG as its top-first RGB form.
    const int w = 19, h = 7;
    Bytes rgb = noise(w * h * 3, 4), big(54 + rgb.size());
    bmp_header_add(big.data(), w, h);
    for (int i = 0; i < w * h * 3; i++) big[54 + ((h - 1 - i / 3 / w) * w + i / 3 % w) * 3 + 2 - i % 3] = rgb[i];
    EXPECT_EQ(encode(big, w, h, true), encode(rgb, w, h, false));
}
#endif

TEST(Png, BoundedVariantStaysWithinTheDocumentedBoundAndTheCapacity) {
    // Noise does not compress: the PNG exceeds the raw size but stays within the bound.
    for (auto [w, h] : {std::pair{1, 1}, {3, 1000}, {64, 64}, {700, 300}}) {
        Bytes rgb = noise(size_t(w) * h * 3, uint32_t(w + h)), full(size_t(PNG_Encode_Bound(w, h)));
        int len = RGB888_To_PNG_Bounded(chars(rgb), chars(full), int(full.size()), w, h);
        EXPECT_TRUE(len > w * h * 3 && len <= int(full.size())) << w << "x" << h << ": " << len;
        for (int cap : {len, len - 1, len / 2, 0}) {
            Bytes out(size_t(cap) + 1, 0xA5);  // one guard byte; ASan sees anything further
            EXPECT_EQ(RGB888_To_PNG_Bounded(chars(rgb), chars(out), cap, w, h), cap == len ? len : -1) << cap;
            EXPECT_EQ(out[cap], 0xA5) << cap;
            EXPECT_TRUE(cap < len || std::equal(out.begin(), out.begin() + len, full.begin()));
        }
    }
    EXPECT_EQ(std::pair(PNG_Encode_Bound(0, 5), PNG_Encode_Bound(100000, 100000)), std::pair(-1, -1));
}

TEST(Png, InvalidSizesFailWithTheCreationError) {
    Bytes rgb(12), out(4096);
    for (auto [w, h] : {std::pair{0, 2}, {2, 0}, {-1, 2}}) {
        std::string log = qbtest::capture_stdout([&] {
            EXPECT_EQ(std::pair(RGB888_To_PNG(chars(rgb), chars(out), w, h), BMP_To_PNG(chars(rgb), chars(out), w, h)),
                      std::pair(-1, -1));
        });
        EXPECT_EQ(qbtest::count_of(log, "Error during png creation\n"), 2) << log;
    }
}

}  // namespace
