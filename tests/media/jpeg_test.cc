#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "bmp_encode.h"
#include "jpeg_encode.h"
#include "support/pillow.h"
#include "support/test_support.h"

namespace {

using Bytes = std::vector<uint8_t>;

int max_diff(const Bytes& a, const Bytes& b) {
    if (a.size() != b.size()) return 256;
    int m = 0;
    for (size_t i = 0; i < a.size(); i++) m = std::max(m, std::abs(int(a[i]) - int(b[i])));
    return m;
}

// A smooth image (JPEG-friendly) as top-first R, G, B.
Bytes smooth_rgb(int w, int h) {
    Bytes img(size_t(w) * h * 3);
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) {
            uint8_t* p = &img[(size_t(y) * w + x) * 3];
            p[0] = uint8_t(40 + 160 * x / w);
            p[1] = uint8_t(40 + 160 * y / h);
            p[2] = uint8_t(120);
        }
    return img;
}

// Top-first rows -> bottom-up rows, optionally with R and B exchanged.
Bytes stored_bottom_up(const Bytes& top_first, int w, int h, bool bgr) {
    Bytes out(top_first.size());
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) {
            const uint8_t* s = &top_first[(size_t(y) * w + x) * 3];
            uint8_t* d = &out[(size_t(h - 1 - y) * w + x) * 3];
            d[0] = s[bgr ? 2 : 0], d[1] = s[1], d[2] = s[bgr ? 0 : 2];
        }
    return out;
}

struct Jpeg {
    char* data = nullptr;
    int size = 0;
    ~Jpeg() { free(data); }
    Bytes bytes() const { return Bytes(data, data + size); }
};

qbtest::PillowImage pillow(const Jpeg& j) { return qbtest::pillow_decode(std::string(j.data, j.data + j.size)); }

constexpr int kTolerance = 12;  // quality 90 on a smooth image

TEST(Jpeg, RgbAndBgrDecodeToTheImageTopRowFirst) {
    const int w = 64, h = 48;
    Bytes img = smooth_rgb(w, h);
    Bytes rgb = stored_bottom_up(img, w, h, false), bgr = stored_bottom_up(img, w, h, true);
    Jpeg a, b;
    ASSERT_EQ(RGB888_To_JPEG(reinterpret_cast<char*>(rgb.data()), w, h, 90, &a.data, &a.size), 0);
    ASSERT_EQ(BGR888_To_JPEG(reinterpret_cast<char*>(bgr.data()), w, h, 90, &b.data, &b.size), 0);
    EXPECT_EQ(a.bytes(), b.bytes());
    qbtest::PillowImage p = pillow(a);
    ASSERT_TRUE(p.ok) << p.error;
    EXPECT_EQ(p.format, "JPEG");
    EXPECT_EQ(p.mode, "RGB");
    EXPECT_EQ(p.width, w);
    EXPECT_EQ(p.height, h);
    EXPECT_LE(max_diff(Bytes(p.rgb.begin(), p.rgb.end()), img), kTolerance);
}

TEST(Jpeg, BmpGivesTheSameJpegAsItsPixels) {
    const int w = 24, h = 16;
    Bytes bmp(54 + w * h * 3);
    bmp_header_add(bmp.data(), w, h);
    Bytes pixels = stored_bottom_up(smooth_rgb(w, h), w, h, true);
    std::copy(pixels.begin(), pixels.end(), bmp.begin() + 54);
    Jpeg a, b;
    a.size = BMP_To_JPEG(reinterpret_cast<char*>(bmp.data()), &a.data, w, h, 75);
    ASSERT_GT(a.size, 0);
    ASSERT_EQ(BGR888_To_JPEG(reinterpret_cast<char*>(pixels.data()), w, h, 75, &b.data, &b.size), 0);
    EXPECT_EQ(a.bytes(), b.bytes());
}

TEST(Jpeg, LargeImagesGrowTheOutput) {
    // Noise compresses badly, so the output outgrows the first allocation guess.
    const int w = 640, h = 480;
    Bytes img(size_t(w) * h * 3);
    uint32_t s = 1;
    for (auto& x : img) x = uint8_t((s = s * 1103515245 + 12345) >> 16);
    Jpeg a;
    ASSERT_EQ(RGB888_To_JPEG(reinterpret_cast<char*>(img.data()), w, h, 100, &a.data, &a.size), 0);
    EXPECT_GT(a.size, w * h * 3 / 4 + 65536);
    qbtest::PillowImage p = pillow(a);
    ASSERT_TRUE(p.ok) << p.error;
    EXPECT_EQ(p.height, h);
}

TEST(Jpeg, LibjpegErrorsFailTheCallInsteadOfTheProcess) {
    Bytes img(3 * 16, 100);
    struct Case {
        int w, h;
    };
    for (Case c : {Case{0, 4}, Case{4, 0}, Case{70000, 1}, Case{-5, 4}}) {
        Jpeg a;
        a.data = reinterpret_cast<char*>(0x1);  // must be reset
        a.size = 99;
        std::string log = qbtest::capture_stdout([&] {
            EXPECT_EQ(RGB888_To_JPEG(reinterpret_cast<char*>(img.data()), c.w, c.h, 80, &a.data, &a.size), -1);
        });
        EXPECT_EQ(a.data, nullptr);
        EXPECT_EQ(a.size, 0);
        EXPECT_NE(log.find("[E][JPEG_ENCODE]"), std::string::npos) << log;
        Jpeg y;
        EXPECT_EQ(YUV422_To_JPEG(reinterpret_cast<char*>(img.data()), c.w, c.h, 80, &y.data, &y.size), -1);
        EXPECT_EQ(y.data, nullptr);
        EXPECT_EQ(y.size, 0);
        char* out = reinterpret_cast<char*>(0x1);
        EXPECT_EQ(BMP_To_JPEG(reinterpret_cast<char*>(img.data()), &out, c.w, c.h, 80), -1);
        EXPECT_EQ(out, nullptr);
    }
}

TEST(Jpeg, Yuv422DecodesToTheFrame) {
    // Y ramps across, chroma constant per column pair: the decoded image must follow the ramp.
    const int w = 32, h = 16;
    Bytes yuyv(size_t(w) * h * 2);
    for (int y = 0; y < h; y++)
        for (int g = 0; g < w / 2; g++) {
            uint8_t* p = &yuyv[(size_t(y) * w / 2 + g) * 4];
            p[0] = uint8_t(60 + 8 * g), p[1] = 128, p[2] = uint8_t(60 + 8 * g), p[3] = 128;
        }
    Jpeg a;
    ASSERT_EQ(YUV422_To_JPEG(reinterpret_cast<char*>(yuyv.data()), w, h, 95, &a.data, &a.size), 0);
    qbtest::PillowImage p = pillow(a);
    ASSERT_TRUE(p.ok) << p.error;
    ASSERT_EQ(p.width, w);
    ASSERT_EQ(p.height, h);
    Bytes want(p.rgb.size());
    for (size_t i = 0; i < want.size(); i++) want[i] = uint8_t(60 + 8 * ((i / 3) % w / 2));  // grey = Y
    EXPECT_LE(max_diff(Bytes(p.rgb.begin(), p.rgb.end()), want), 4);
}

TEST(Jpeg, Yuv420ChecksTheFrameSizeFirst) {
    const int w = 640, h = 480;
    Bytes yuv(460800);
    for (size_t i = 0; i < size_t(w) * h; i++) yuv[i] = uint8_t(i % w / 3);
    std::fill(yuv.begin() + w * h, yuv.end(), 128);
    unsigned char* jpeg = nullptr;
    unsigned long size = 0;
    std::string out = qbtest::capture_stdout([&] {
        EXPECT_EQ(YUV420_To_JPEG(yuv.data(), 460799, w, h, &jpeg, &size, 80), 0);
    });
    EXPECT_EQ(out, "we detect yuv size: 460800, but you give: 460799, check again.\n");
    EXPECT_EQ(jpeg, nullptr);
    EXPECT_EQ(size, 0u);

    ASSERT_EQ(YUV420_To_JPEG(yuv.data(), 460800, w, h, &jpeg, &size, 80), 0);
    ASSERT_NE(jpeg, nullptr);
    std::unique_ptr<unsigned char, decltype(&free)> owned(jpeg, free);
    qbtest::PillowImage p = qbtest::pillow_decode(std::string(reinterpret_cast<char*>(jpeg), size));
    ASSERT_TRUE(p.ok) << p.error;
    EXPECT_EQ(p.width, w);
    EXPECT_EQ(p.height, h);
    // Grey ramp: R = G = B = Y within JPEG's tolerance, at the middle of the first row.
    const uint8_t* px = reinterpret_cast<const uint8_t*>(&p.rgb[300 * 3]);
    EXPECT_NEAR(px[0], 100, 6);
    EXPECT_NEAR(px[1], 100, 6);
}

TEST(Jpeg, Yuv420ReportsCompressionFailures) {
    Bytes yuv(6);  // 2 x 2 frame
    unsigned char* jpeg = nullptr;
    unsigned long size = 0;
    std::string out = qbtest::capture_stdout([&] {
        EXPECT_LT(YUV420_To_JPEG(yuv.data(), 6, 2, 2, &jpeg, &size, 500), 0);  // quality out of range
    });
    EXPECT_EQ(out.rfind("compress to jpeg failed: ", 0), 0u) << out;
    free(jpeg);
}

}  // namespace
