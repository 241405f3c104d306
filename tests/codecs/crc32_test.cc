// crc32 as a drop-in for zlib's (checked against the real libz.so.1 loaded with
// dlopen, and through libpng and zlib's gzip code in this process), and the
// DOS time helpers of the ZIP writer.
#include <dlfcn.h>

#include <algorithm>
#include <random>
#include <vector>

#include "codecs/crc32_internal.h"
#include "crc32.h"
#include "dostime.h"
#include "sdk_config.h"
#include "support/test_support.h"
#ifdef ENABLE_MEDIA_PNG
#include "png_encode.h"
#endif

namespace {

// zlib's own prototype: this is how every zlib user calls the symbol.
using ZlibCrc = unsigned long (*)(unsigned long, const unsigned char*, unsigned int);

template <typename F>
F zlib_fn(const char* name) {
    static void* handle = dlopen("libz.so.1", RTLD_NOW | RTLD_LOCAL);
    return handle ? reinterpret_cast<F>(dlsym(handle, name)) : nullptr;
}

std::vector<unsigned char> random_bytes(size_t n, uint32_t seed) {
    std::vector<unsigned char> v(n);
    std::generate(v.begin(), v.end(), std::independent_bits_engine<std::mt19937, 8, unsigned>(seed));
    return v;
}

// A random start value is the CRC of earlier pieces: continuation is checked with every length.
TEST(Crc32, IdenticalToZlibForEveryLengthStartAlignmentAndEdge) {
    EXPECT_EQ(crc32(0, "123456789", 9), 0xCBF43926u);  // the standard check value
    const auto zcrc = zlib_fn<ZlibCrc>("crc32");
    ASSERT_NE(zcrc, nullptr) << "libz.so.1 not loadable";
    ASSERT_NE(reinterpret_cast<void*>(zcrc), reinterpret_cast<void*>(&crc32));
    const auto ours = reinterpret_cast<ZlibCrc>(reinterpret_cast<void*>(&crc32));
    const auto data = random_bytes(70000, 2);
    std::mt19937 rng(3);
    for (unsigned len = 0; len < 600; ++len) {
        const unsigned offset = rng() % 16;  // no alignment assumptions
        const unsigned long start = len % 3 ? rng() : 0;
        const unsigned long want = zcrc(start, data.data() + offset, len);
        ASSERT_EQ(ours(start, data.data() + offset, len), want) << len;
        ASSERT_EQ(qb::crc32_tables(static_cast<uint32_t>(start), data.data() + offset, len), want) << len;  // other CPUs
    }
    for (unsigned len : {1023u, 4096u, 65541u, 69999u})
        EXPECT_EQ(ours(0xdeadbeef, data.data() + 1, len), zcrc(0xdeadbeef, data.data() + 1, len));
    // A null buffer answers as zlib's does (libpng begins with crc32(0, NULL, 0)).
    for (unsigned long start : {0ul, 5ul, 0x12345678ul})
        for (unsigned len : {0u, 100u}) EXPECT_EQ(ours(start, nullptr, len), zcrc(start, nullptr, len));
    // Bits above 32 in the start value are ignored and never come back; so is garbage above a 32-bit length.
    const auto* abc = reinterpret_cast<const unsigned char*>("abc");
    EXPECT_EQ(ours(0xffffffff12345678ul, abc, 3), zcrc(0xffffffff12345678ul, abc, 3));
    using WideLen = unsigned long (*)(unsigned long, const unsigned char*, unsigned long);
    EXPECT_EQ(reinterpret_cast<WideLen>(reinterpret_cast<void*>(&crc32))(0, abc, 0xdead000000000003ul), zcrc(0, abc, 3));
}

#ifdef ENABLE_MEDIA_PNG  // without libpng linked in, nothing binds to our crc32 dynamically
uint32_t be32(const unsigned char* p) { return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3]; }

TEST(Crc32, LibpngAndZlibInTheSameProcessWriteZlibsCrcs) {
    // Their unversioned crc32 references resolve to the first definition: ours.
    EXPECT_EQ(dlsym(RTLD_DEFAULT, "crc32"), reinterpret_cast<void*>(&crc32));
    const auto zcrc = zlib_fn<ZlibCrc>("crc32");
    const auto gzopen = zlib_fn<void* (*)(const char*, const char*)>("gzopen");
    const auto gzwrite = zlib_fn<int (*)(void*, const void*, unsigned)>("gzwrite");
    const auto gzclose = zlib_fn<int (*)(void*)>("gzclose");
    ASSERT_TRUE(zcrc && gzopen && gzwrite && gzclose);
    // Our PNG encoder (libpng): every chunk CRC as zlib computes it.
    constexpr int kW = 61, kH = 37;
    auto image = random_bytes(kW * kH * 3, 4);
    std::vector<unsigned char> png(static_cast<size_t>(PNG_Encode_Bound(kW, kH)));
    const int n = RGB888_To_PNG_Bounded(reinterpret_cast<char*>(image.data()), reinterpret_cast<char*>(png.data()),
                                        static_cast<int>(png.size()), kW, kH);
    ASSERT_GT(n, 8);
    size_t pos = 8, chunks = 0;
    for (; pos + 12 <= static_cast<size_t>(n); ++chunks) {
        const uint32_t len = be32(&png[pos]);
        ASSERT_LE(pos + 12 + len, static_cast<size_t>(n));
        EXPECT_EQ(be32(&png[pos + 8 + len]), zcrc(0, &png[pos + 4], len + 4)) << "chunk " << chunks;
        pos += 12 + len;
    }
    EXPECT_EQ(pos, static_cast<size_t>(n));
    EXPECT_GE(chunks, 3u);  // IHDR, IDAT, IEND
    // zlib's own gzip writer calls crc32 through its PLT: the trailer is still zlib's CRC of the data.
    qbtest::TempDir dir;
    void* f = gzopen(dir.file("d.gz").c_str(), "wb");
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(gzwrite(f, image.data(), static_cast<unsigned>(image.size())), static_cast<int>(image.size()));
    ASSERT_EQ(gzclose(f), 0);
    const std::string gz = qbtest::read_file(dir.file("d.gz"));
    ASSERT_GT(gz.size(), 8u);
    EXPECT_EQ(be32(reinterpret_cast<const unsigned char*>(gz.data()) + gz.size() - 8),
              __builtin_bswap32(static_cast<uint32_t>(zcrc(0, image.data(), static_cast<unsigned>(image.size())))));
}
#endif

TEST(DosTime, PacksRefusesOutOfRangeFieldsAndConvertsInLocalTime) {
    qbtest::ScopedEnv tz("TZ", "UTC");
    tzset();
    EXPECT_EQ(dostime(2024, 2, 29, 13, 45, 31), (44u << 25) | (2u << 21) | (29u << 16) | (13u << 11) | (45u << 5) | 15u);
    const int bad[][6] = {{1979, 1, 1, 0, 0, 0}, {2108, 1, 1, 0, 0, 0}, {2000, 0, 1, 0, 0, 0}, {2000, 13, 1, 0, 0, 0},
                          {2000, 1, 32, 0, 0, 0}, {2000, 1, 1, 24, 0, 0}, {2000, 1, 1, 0, 60, 0}, {2000, 1, 1, 0, 0, 60}};
    for (const auto& b : bad) EXPECT_EQ(dostime(b[0], b[1], b[2], b[3], b[4], b[5]), 0u) << b[0] << "-" << b[1];
    EXPECT_EQ(dos2unixtime(mindostime()), 315532800);  // 1980-01-01 00:00:00
    const time_t t = 1700000000;
    EXPECT_EQ(dos2unixtime(unix2dostime(t)), t);
    EXPECT_EQ(dos2unixtime(unix2dostime(t + 1)), t + 2);  // odd seconds pack the next even one
    EXPECT_EQ(unix2dostime(0), 0u);                        // 1970 has no DOS form
    EXPECT_EQ(dos2unixtime((1u << 21) | (1u << 16) | (24u << 11)), -1);  // hour 24
}

}  // namespace
