#include <cstdint>
#include <cstdlib>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "bmp_encode.h"
#include "crc32.h"
#include "png_encode.h"
#include "support/pillow.h"
#include "support/test_support.h"

namespace {

using Bytes = std::vector<uint8_t>;

char* chars(Bytes& b) { return reinterpret_cast<char*>(b.data()); }

Bytes random_rgb(int w, int h, uint32_t seed) {
    std::mt19937 rng(seed);
    Bytes b(size_t(w) * h * 3);
    for (auto& x : b) x = uint8_t(rng());
    return b;
}

// Encodes into a roomy buffer and returns exactly the PNG bytes.
Bytes encode(Bytes& src, int w, int h, bool bmp) {
    Bytes out(size_t(PNG_Encode_Bound(w, h)));
    int len = bmp ? BMP_To_PNG(chars(src), chars(out), w, h) : RGB888_To_PNG(chars(src), chars(out), w, h);
    EXPECT_GT(len, 0);
    out.resize(size_t(len < 0 ? 0 : len));
    return out;
}

TEST(Png, OnePixelStartsWithTheSignature) {
    Bytes px = {1, 2, 3};
    Bytes png = encode(px, 1, 1, false);
    ASSERT_GE(png.size(), 8u);
    EXPECT_EQ(Bytes(png.begin(), png.begin() + 8), (Bytes{0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A}));
    qbtest::PillowImage img = qbtest::pillow_decode(std::string(png.begin(), png.end()));
    ASSERT_TRUE(img.ok) << img.error;
    EXPECT_EQ(img.mode, "RGB");
    EXPECT_EQ(img.rgb, std::string("\x01\x02\x03"));
}

TEST(Png, ChunksCarryTheCrcOfTheLibrarysCrc32) {
    // The library's crc32 stands in for zlib's, so libpng itself computes with it
    // here; Pillow (below and in the other tests) checks the sums with zlib's.
    const int w = 40, h = 30;
    Bytes rgb = random_rgb(w, h, 9);
    Bytes png = encode(rgb, w, h, false);
    int chunks = 0;
    for (size_t at = 8; at + 12 <= png.size(); chunks++) {
        size_t len = size_t(png[at]) << 24 | size_t(png[at + 1]) << 16 | size_t(png[at + 2]) << 8 | png[at + 3];
        ASSERT_LE(at + 12 + len, png.size());
        uint32_t want = uint32_t(png[at + 8 + len]) << 24 | uint32_t(png[at + 9 + len]) << 16 |
                        uint32_t(png[at + 10 + len]) << 8 | png[at + 11 + len];
        EXPECT_EQ(crc32(0, reinterpret_cast<const char*>(&png[at + 4]), len + 4), want) << "chunk " << chunks;
        at += 12 + len;
    }
    EXPECT_GE(chunks, 3);  // IHDR, IDAT..., IEND
    qbtest::PillowImage img = qbtest::pillow_decode(std::string(png.begin(), png.end()));
    ASSERT_TRUE(img.ok) << img.error;
}

TEST(Png, PillowReadsBackExactPixels) {
    // Noise and a flat area, so both compressible and incompressible rows occur.
    const int w = 37, h = 29;
    Bytes rgb = random_rgb(w, h, 11);
    std::fill(rgb.begin(), rgb.begin() + w * 3 * 10, 0x40);
    Bytes png = encode(rgb, w, h, false);
    qbtest::PillowImage img = qbtest::pillow_decode(std::string(png.begin(), png.end()));
    ASSERT_TRUE(img.ok) << img.error;
    EXPECT_EQ(img.format, "PNG");
    EXPECT_EQ(img.width, w);
    EXPECT_EQ(img.height, h);
    EXPECT_TRUE(img.rgb == std::string(rgb.begin(), rgb.end()));
}

TEST(Png, BmpRowsAreFlippedAndChannelsSwapped) {
    // 2 x 2 BMP whose stored first row (the image's bottom) is blue, top row red and green.
    Bytes bmp(54 + 12);
    bmp_header_add(bmp.data(), 2, 2);
    Bytes pixels = {255, 0, 0, 255, 0, 0, /* top: */ 0, 0, 255, 0, 255, 0};
    std::copy(pixels.begin(), pixels.end(), bmp.begin() + 54);
    Bytes png = encode(bmp, 2, 2, true);
    qbtest::PillowImage img = qbtest::pillow_decode(std::string(png.begin(), png.end()));
    ASSERT_TRUE(img.ok) << img.error;
    EXPECT_EQ(Bytes(img.rgb.begin(), img.rgb.end()), (Bytes{255, 0, 0, 0, 255, 0, 0, 0, 255, 0, 0, 255}));

    // A larger BMP decodes to the same image as its top-first RGB form.
    const int w = 19, h = 7;
    Bytes rgb = random_rgb(w, h, 4), big(54 + rgb.size());
    bmp_header_add(big.data(), w, h);
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++)
            for (int c = 0; c < 3; c++) big[54 + ((h - 1 - y) * w + x) * 3 + c] = rgb[(y * w + x) * 3 + 2 - c];
    EXPECT_EQ(encode(big, w, h, true), encode(rgb, w, h, false));
}

TEST(Png, BoundedVariantNeverWritesPastTheCapacity) {
    const int w = 64, h = 64;
    Bytes rgb = random_rgb(w, h, 7);
    Bytes full = encode(rgb, w, h, false);
    ASSERT_FALSE(full.empty());
    for (int cap : {int(full.size()), int(full.size()) - 1, 100, 0}) {
        // Exactly cap bytes of heap: an overrun is an ASan error, and the guard checks the rest.
        std::unique_ptr<char, decltype(&free)> out(static_cast<char*>(malloc(size_t(cap) + 1)), free);
        out.get()[cap] = char(0xA5);
        std::string log = qbtest::capture_stdout(
            [&] { EXPECT_EQ(RGB888_To_PNG_Bounded(chars(rgb), out.get(), cap, w, h), cap == int(full.size()) ? cap : -1); });
        EXPECT_EQ(out.get()[cap], char(0xA5)) << cap;
        if (cap == int(full.size()))
            EXPECT_EQ(Bytes(out.get(), out.get() + cap), full);
        else
            EXPECT_NE(log.find("Error during png creation\n"), std::string::npos);
    }
}

TEST(Png, DocumentedBoundCoversIncompressibleImages) {
    // Noise does not compress: the PNG exceeds the raw size but stays within the bound.
    for (auto [w, h] : {std::pair{1, 1}, {3, 1000}, {700, 300}}) {
        Bytes rgb = random_rgb(w, h, uint32_t(w + h));
        Bytes out(size_t(PNG_Encode_Bound(w, h)));
        int len = RGB888_To_PNG_Bounded(chars(rgb), chars(out), int(out.size()), w, h);
        EXPECT_GT(len, w * h * 3) << w << "x" << h;
        EXPECT_LE(len, PNG_Encode_Bound(w, h));
    }
    EXPECT_EQ(PNG_Encode_Bound(0, 5), -1);
    EXPECT_EQ(PNG_Encode_Bound(100000, 100000), -1);
}

TEST(Png, InvalidSizesFailWithTheCreationError) {
    Bytes rgb(12), out(4096);
    for (auto [w, h] : {std::pair{0, 2}, {2, 0}, {-1, 2}}) {
        std::string log = qbtest::capture_stdout([&] {
            testing::internal::CaptureStderr();  // libpng's own message
            EXPECT_EQ(RGB888_To_PNG(chars(rgb), chars(out), w, h), -1);
            EXPECT_EQ(BMP_To_PNG(chars(rgb), chars(out), w, h), -1);
            testing::internal::GetCapturedStderr();
        });
        EXPECT_EQ(qbtest::count_of(log, "Error during png creation\n"), 2) << log;
    }
}

}  // namespace
