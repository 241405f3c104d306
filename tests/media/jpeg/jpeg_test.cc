#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "bmp_encode.h"
#include "jpeg_encode.h"
#include "support/pillow.h"
#include "support/test_support.h"

namespace {

using Bytes = std::vector<uint8_t>;

char* chars(Bytes& b) { return reinterpret_cast<char*>(b.data()); }

// Largest channel difference between decoded bytes and the expected ones (256 for a size mismatch).
int max_diff(const std::string& a, const Bytes& b) {
    int m = a.size() == b.size() ? 0 : 256;
    for (size_t i = 0; i < std::min(a.size(), b.size()); i++) m = std::max(m, std::abs(uint8_t(a[i]) - int(b[i])));
    return m;
}

// An encoder's output, released with free().
struct Jpeg {
    char* data = nullptr;
    int size = 0;
    ~Jpeg() { free(data); }
    std::string bytes() const { return std::string(data, size_t(size)); }
};

// A smooth (JPEG-friendly) or noisy image: rows top-first or stored bottom-up, as R, G, B or B, G, R.
Bytes image(int w, int h, bool noise, bool bottom_up, bool bgr) {
    Bytes img(size_t(w) * h * 3);
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) {
            uint32_t n = uint32_t(y * w + x) * 0x9E3779B9u;
            uint8_t* p = &img[(size_t(bottom_up ? h - 1 - y : y) * w + x) * 3];
            p[bgr ? 2 : 0] = uint8_t(noise ? n : 40 + 160 * x / w), p[1] = uint8_t(noise ? n >> 8 : 40 + 160 * y / h);
            p[bgr ? 0 : 2] = uint8_t(noise ? n >> 16 : 120);
        }
    return img;
}

TEST(Jpeg, RgbBgrAndBmpGiveOneJpegThatDecodesTopRowFirst) {
    // Noise does not compress, so its output outgrows the encoder's first allocation guess.
    for (auto [w, h, noise] : {std::tuple{64, 48, false}, {640, 480, true}}) {
        Bytes rgb = image(w, h, noise, true, false), bgr = image(w, h, noise, true, true), bmp(54);  // header unread
        bmp.insert(bmp.end(), bgr.begin(), bgr.end());
        Jpeg a, b, c;
        ASSERT_EQ(RGB888_To_JPEG(chars(rgb), w, h, noise ? 100 : 90, &a.data, &a.size), 0);
        ASSERT_EQ(BGR888_To_JPEG(chars(bgr), w, h, noise ? 100 : 90, &b.data, &b.size), 0);
        c.size = BMP_To_JPEG(chars(bmp), &c.data, w, h, noise ? 100 : 90);
        EXPECT_TRUE(a.bytes() == b.bytes() && a.bytes() == c.bytes());
        EXPECT_GT(a.size, noise ? w * h * 3 / 4 + 65536 : 0);
        qbtest::PillowImage p = qbtest::pillow_decode(a.bytes());
        ASSERT_EQ(std::tuple(p.ok, p.mode, p.width, p.height), std::tuple(true, "RGB", w, h)) << p.error;
        EXPECT_LE(noise ? 0 : max_diff(p.rgb, image(w, h, false, false, false)), 12);  // quality 90, smooth
    }
}

TEST(Jpeg, LibjpegErrorsFailTheCallInsteadOfTheProcess) {
    char img[3 * 16] = {};
    char* const bad = reinterpret_cast<char*>(0x1);  // outputs must be reset
    for (auto [w, h] : {std::pair{0, 4}, {4, 0}, {70000, 1}, {-5, 4}}) {
        Jpeg a{bad, 99}, b{bad, 99}, c{bad, 99};
        std::string log = qbtest::capture_stdout([&] {
            EXPECT_EQ((std::tuple{RGB888_To_JPEG(img, w, h, 80, &a.data, &a.size), BMP_To_JPEG(img, &c.data, w, h, 80),
                                  YUV422_To_JPEG(img, w, h, 80, &b.data, &b.size)}), std::tuple(-1, -1, -1));
        });
        EXPECT_TRUE(!a.data && !b.data && !c.data && a.size == 0 && b.size == 0) << w << "x" << h;
        EXPECT_GE(qbtest::count_of(log, "[E][JPEG_ENCODE]"), 3) << log;
    }
}

TEST(Jpeg, Yuv422DecodesToTheFrame) {
    // Luma ramps across by 8 per pixel pair, neutral chroma: the decoded grey must follow the ramp.
    const int w = 32, h = 16;
    Bytes yuyv(size_t(w) * h * 2, 128), want(size_t(w) * h * 3);
    for (size_t i = 0; i < yuyv.size(); i += 2) yuyv[i] = uint8_t(60 + 8 * (i / 2 % w / 2));
    for (size_t i = 0; i < want.size(); i++) want[i] = uint8_t(60 + 8 * (i / 3 % w / 2));
    Jpeg a;
    ASSERT_EQ(YUV422_To_JPEG(chars(yuyv), w, h, 95, &a.data, &a.size), 0);
    qbtest::PillowImage p = qbtest::pillow_decode(a.bytes());
    EXPECT_LE(max_diff(p.rgb, want), 4) << p.error;
}

TEST(Jpeg, Yuv420ChecksTheFrameSizeAndReportsFailures) {
    const int w = 640, h = 480;
    Bytes yuv(460800, 128);
    for (size_t i = 0; i < size_t(w) * h; i++) yuv[i] = uint8_t(i % w / 3);  // grey ramp
    unsigned char* jpeg = nullptr;
    unsigned long size = 0;
    auto encode = [&](int n, unsigned char** out, int q) { return YUV420_To_JPEG(yuv.data(), n, w, h, out, &size, q); };
    std::string out = qbtest::capture_stdout([&] { EXPECT_EQ(encode(460799, &jpeg, 80), 0); });
    EXPECT_EQ(out, "we detect yuv size: 460800, but you give: 460799, check again.\n");
    EXPECT_TRUE(jpeg == nullptr && size == 0);
    out = qbtest::capture_stdout([&] { EXPECT_LT(encode(460800, &jpeg, 500), 0); });
    EXPECT_EQ(out.rfind("compress to jpeg failed: ", 0), 0u) << out;  // quality 500 is out of range
    ASSERT_EQ(encode(460800, &jpeg, 80), 0);
    Jpeg owned{reinterpret_cast<char*>(jpeg), int(size)};
    qbtest::PillowImage p = qbtest::pillow_decode(owned.bytes());
    ASSERT_EQ(std::tuple(p.ok, p.width, p.height), std::tuple(true, w, h)) << p.error;
    EXPECT_LE(max_diff(p.rgb.substr(300 * 3, 3), Bytes(3, 100)), 6);  // the middle of the first row
}

}  // namespace
