// crc32 as a drop-in for zlib's (checked against the real libz.so.1 loaded with
// dlopen, and through libpng and zlib's gzip code in this process), and the
// DOS time helpers of the ZIP writer.
#include <dlfcn.h>
#include <png.h>

#include <csetjmp>
#include <cstring>
#include <ctime>
#include <random>
#include <string>
#include <vector>

#include "codecs/crc32_internal.h"
#include "crc32.h"
#include "dostime.h"
#include "support/test_support.h"

namespace {

// zlib's own prototype: this is how every zlib user calls the symbol.
using ZlibCrc = unsigned long (*)(unsigned long, const unsigned char*, unsigned int);
// The same call with a 64-bit third argument, to put bits above the 32-bit length in its register.
using WideLenCrc = unsigned long (*)(unsigned long, const unsigned char*, unsigned long);

struct Zlib {
    void* handle = dlopen("libz.so.1", RTLD_NOW | RTLD_LOCAL);
    ~Zlib() {
        if (handle) dlclose(handle);
    }
    template <typename F>
    F get(const char* name) const {
        return handle ? reinterpret_cast<F>(dlsym(handle, name)) : nullptr;
    }
};

const Zlib& zlib() {
    static Zlib z;
    return z;
}

std::vector<unsigned char> random_bytes(size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<unsigned char> v(n);
    for (auto& b : v) b = static_cast<unsigned char>(rng());
    return v;
}

ZlibCrc ours_as_zlib() { return reinterpret_cast<ZlibCrc>(reinterpret_cast<void*>(&crc32)); }

TEST(Crc32, CheckValueAndContinuation) {
    EXPECT_EQ(crc32(0, "123456789", 9), 0xCBF43926u);
    EXPECT_EQ(crc32(crc32(0, "1234", 4), "56789", 5), 0xCBF43926u);
    EXPECT_EQ(crc32(0, "", 0), 0u);
    EXPECT_EQ(crc32(0x12345678, "", 0), 0x12345678u);
    // Long enough for the folding path, continued across uneven pieces.
    const auto data = random_bytes(10000, 1);
    const char* p = reinterpret_cast<const char*>(data.data());
    const uint32_t whole = crc32(0, p, data.size());
    EXPECT_EQ(crc32(crc32(crc32(0, p, 63), p + 63, 4000), p + 4063, data.size() - 4063), whole);
    EXPECT_EQ(qb::crc32_tables(0, data.data(), data.size()), whole);
}

TEST(Crc32, IdenticalToZlibForEveryLengthStartAndAlignment) {
    const auto zcrc = zlib().get<ZlibCrc>("crc32");
    ASSERT_NE(zcrc, nullptr) << "libz.so.1 not loadable";
    ASSERT_NE(reinterpret_cast<void*>(zcrc), reinterpret_cast<void*>(&crc32));
    const auto data = random_bytes(70000, 2);
    const ZlibCrc ours = ours_as_zlib();
    std::mt19937 rng(3);
    for (unsigned len = 0; len < 600; ++len) {
        const unsigned offset = rng() % 16;  // no alignment assumptions
        const unsigned long start = len % 3 ? rng() : 0;
        ASSERT_EQ(ours(start, data.data() + offset, len), zcrc(start, data.data() + offset, len))
            << "len " << len << " offset " << offset;
        ASSERT_EQ(qb::crc32_update(static_cast<uint32_t>(start), data.data() + offset, len),
                  qb::crc32_tables(static_cast<uint32_t>(start), data.data() + offset, len));
    }
    for (unsigned len : {1023u, 4096u, 65536u + 5, 69999u})
        EXPECT_EQ(ours(0xdeadbeef, data.data() + 1, len), zcrc(0xdeadbeef, data.data() + 1, len));
}

TEST(Crc32, SameAbiBehaviourAsZlibAtTheEdges) {
    const auto zcrc = zlib().get<ZlibCrc>("crc32");
    ASSERT_NE(zcrc, nullptr);
    const ZlibCrc ours = ours_as_zlib();
    const unsigned char* abc = reinterpret_cast<const unsigned char*>("abc");
    // Null buffer: zlib returns the starting value 0 (libpng begins with crc32(0, NULL, 0)).
    for (unsigned long start : {0ul, 5ul, 0x12345678ul}) {
        EXPECT_EQ(ours(start, nullptr, 0), zcrc(start, nullptr, 0));
        EXPECT_EQ(ours(start, nullptr, 100), zcrc(start, nullptr, 100));
    }
    EXPECT_EQ(ours(0, nullptr, 0), 0u);
    // Bits above 32 in the start value are ignored and never come back in the result.
    const unsigned long dirty = 0xffffffff12345678ul;
    EXPECT_EQ(ours(dirty, abc, 3), zcrc(dirty, abc, 3));
    EXPECT_EQ(ours(dirty, abc, 0), zcrc(dirty, abc, 0));
    EXPECT_EQ(ours(dirty, abc, 3) >> 32, 0u);
    // A caller may leave garbage above a 32-bit length in its register.
    const auto wide = reinterpret_cast<WideLenCrc>(reinterpret_cast<void*>(&crc32));
    EXPECT_EQ(wide(0, abc, 0xdead000000000003ul), zcrc(0, abc, 3));
}

// libpng in this process binds its crc32 calls to ours. Encode an image,
// check every chunk CRC with zlib's own crc32, and decode it again (libpng
// verifies the CRCs while reading).
struct PngBuffer {
    std::vector<unsigned char> bytes;
    size_t read_pos = 0;
};

void png_write_to(png_structp png, png_bytep data, png_size_t len) {
    auto* out = static_cast<PngBuffer*>(png_get_io_ptr(png));
    out->bytes.insert(out->bytes.end(), data, data + len);
}

void png_read_from(png_structp png, png_bytep data, png_size_t len) {
    auto* in = static_cast<PngBuffer*>(png_get_io_ptr(png));
    if (in->read_pos + len > in->bytes.size()) png_error(png, "short");
    memcpy(data, in->bytes.data() + in->read_pos, len);
    in->read_pos += len;
}

constexpr int kW = 61, kH = 37;

bool encode_png(PngBuffer* out, std::vector<png_bytep>* rows) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!info || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_set_write_fn(png, out, png_write_to, nullptr);
    png_set_IHDR(png, info, kW, kH, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_text text{};
    text.compression = PNG_TEXT_COMPRESSION_NONE;
    text.key = const_cast<char*>("Comment");
    text.text = const_cast<char*>("crc32 interplay");
    png_set_text(png, info, &text, 1);
    png_write_info(png, info);
    png_write_image(png, rows->data());
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return true;
}

void png_quiet_error(png_structp png, png_const_charp) { png_longjmp(png, 1); }

bool decode_png(PngBuffer* in, std::vector<unsigned char>* pixels) {
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, png_quiet_error, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!info || setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        return false;
    }
    png_set_read_fn(png, in, png_read_from);
    // Ancillary chunks with a bad CRC are an error too, not a silent skip.
    png_set_crc_action(png, PNG_CRC_ERROR_QUIT, PNG_CRC_ERROR_QUIT);
    png_read_info(png, info);
    const size_t stride = png_get_rowbytes(png, info);
    pixels->assign(stride * png_get_image_height(png, info), 0);
    std::vector<png_bytep> rows;
    for (size_t y = 0; y < png_get_image_height(png, info); ++y) rows.push_back(pixels->data() + y * stride);
    png_read_image(png, rows.data());
    png_read_end(png, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    return true;
}

uint32_t be32(const unsigned char* p) {
    return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
}

TEST(Crc32, LibpngInTheSameProcessWritesValidChunks) {
    // libpng's unversioned crc32 reference resolves to the first definition: ours.
    EXPECT_EQ(dlsym(RTLD_DEFAULT, "crc32"), reinterpret_cast<void*>(&crc32));
    const auto zcrc = zlib().get<ZlibCrc>("crc32");
    ASSERT_NE(zcrc, nullptr);

    std::vector<unsigned char> image = random_bytes(kW * kH * 3, 4);
    std::vector<png_bytep> rows;
    for (int y = 0; y < kH; ++y) rows.push_back(image.data() + y * kW * 3);
    PngBuffer png;
    ASSERT_TRUE(encode_png(&png, &rows));

    const auto& b = png.bytes;
    ASSERT_GT(b.size(), 8u);
    size_t pos = 8, chunks = 0;
    while (pos + 12 <= b.size()) {
        const uint32_t len = be32(&b[pos]);
        ASSERT_LE(pos + 12 + len, b.size());
        const std::string type(reinterpret_cast<const char*>(&b[pos + 4]), 4);
        EXPECT_EQ(be32(&b[pos + 8 + len]), zcrc(0, &b[pos + 4], len + 4)) << "chunk " << type;
        pos += 12 + len;
        ++chunks;
    }
    EXPECT_EQ(pos, b.size());
    EXPECT_GE(chunks, 4u);  // IHDR, tEXt, IDAT, IEND

    std::vector<unsigned char> decoded;
    ASSERT_TRUE(decode_png(&png, &decoded));
    EXPECT_EQ(decoded, image);

    // A flipped bit in a chunk must now be caught by the reader through our crc32.
    PngBuffer damaged{png.bytes, 0};
    damaged.bytes[8 + 8 + 3] ^= 1;  // inside IHDR's data (width)
    std::vector<unsigned char> ignored;
    EXPECT_FALSE(decode_png(&damaged, &ignored));
}

TEST(Crc32, ZlibGzipStreamsUseItConsistently) {
    // zlib's own gzip code calls crc32 through its PLT, so it runs ours too.
    using GzOpen = void* (*)(const char*, const char*);
    using GzWrite = int (*)(void*, const void*, unsigned);
    using GzRead = int (*)(void*, void*, unsigned);
    using GzClose = int (*)(void*);
    const auto gzopen = zlib().get<GzOpen>("gzopen");
    const auto gzwrite = zlib().get<GzWrite>("gzwrite");
    const auto gzread = zlib().get<GzRead>("gzread");
    const auto gzclose = zlib().get<GzClose>("gzclose");
    ASSERT_TRUE(gzopen && gzwrite && gzread && gzclose);
    qbtest::TempDir dir;
    const std::string path = dir.file("data.gz");
    const auto data = random_bytes(200000, 5);
    void* w = gzopen(path.c_str(), "wb");
    ASSERT_NE(w, nullptr);
    ASSERT_EQ(gzwrite(w, data.data(), static_cast<unsigned>(data.size())), static_cast<int>(data.size()));
    ASSERT_EQ(gzclose(w), 0);
    // The trailer's CRC is the CRC of the data.
    const std::string file = qbtest::read_file(path);
    ASSERT_GT(file.size(), 8u);
    const auto* t = reinterpret_cast<const unsigned char*>(file.data() + file.size() - 8);
    const uint32_t trailer = uint32_t{t[0]} | uint32_t{t[1]} << 8 | uint32_t{t[2]} << 16 | uint32_t{t[3]} << 24;
    EXPECT_EQ(trailer, qb::crc32_tables(0, data.data(), data.size()));
    // Reading checks the trailer and fails on a mismatch.
    void* r = gzopen(path.c_str(), "rb");
    ASSERT_NE(r, nullptr);
    std::vector<unsigned char> back(data.size() + 16);
    EXPECT_EQ(gzread(r, back.data(), static_cast<unsigned>(back.size())), static_cast<int>(data.size()));
    EXPECT_EQ(gzclose(r), 0);
    back.resize(data.size());
    EXPECT_EQ(back, data);
}

// Local time is UTC for these tests; the zone is re-read once TZ is restored.
struct Retzset {
    ~Retzset() { tzset(); }
};

class DosTime : public ::testing::Test {
protected:
    void SetUp() override { tzset(); }
    Retzset retzset_;
    qbtest::ScopedEnv tz_{"TZ", "UTC"};
};

TEST_F(DosTime, PacksAndRefusesOutOfRangeFields) {
    EXPECT_EQ(mindostime(), 0x00210000u);
    EXPECT_EQ(maxdostime(), 0xFF9FBF7Du);
    EXPECT_EQ(dostime(2024, 2, 29, 13, 45, 31), (44u << 25) | (2u << 21) | (29u << 16) | (13u << 11) | (45u << 5) | 15u);
    struct Bad {
        int y, mo, d, h, mi, s;
    };
    for (const Bad& b : {Bad{1979, 1, 1, 0, 0, 0}, Bad{2108, 1, 1, 0, 0, 0}, Bad{2000, 0, 1, 0, 0, 0},
                         Bad{2000, 13, 1, 0, 0, 0}, Bad{2000, 1, 0, 0, 0, 0}, Bad{2000, 1, 32, 0, 0, 0},
                         Bad{2000, 1, 1, 24, 0, 0}, Bad{2000, 1, 1, -1, 0, 0}, Bad{2000, 1, 1, 0, 60, 0},
                         Bad{2000, 1, 1, 0, 0, 60}})
        EXPECT_EQ(dostime(b.y, b.mo, b.d, b.h, b.mi, b.s), 0u) << b.y << "-" << b.mo << "-" << b.d;
}

TEST_F(DosTime, ConvertsToAndFromPosixTime) {
    EXPECT_EQ(dos2unixtime(mindostime()), 315532800);  // 1980-01-01 00:00:00 UTC
    const time_t t = 1700000000;                       // 2023-11-14 22:13:20 UTC
    EXPECT_EQ(dos2unixtime(unix2dostime(t)), t);
    EXPECT_EQ(unix2dostime(t + 1), unix2dostime(t + 2));  // odd seconds round up
    EXPECT_EQ(dos2unixtime(unix2dostime(t + 1)), t + 2);
    EXPECT_EQ(unix2dostime(0), 0u);  // 1970 has no DOS form
    EXPECT_EQ(dos2unixtime(0), -1);  // month 0
    EXPECT_EQ(dos2unixtime(dostime(2000, 1, 1, 0, 0, 0) | (30u << 0)), -1);  // 60 seconds
    EXPECT_EQ(dos2unixtime((1u << 21) | (1u << 16) | (24u << 11)), -1);        // hour 24
}

}  // namespace
