// CRC-32 (reflected polynomial 0xEDB88320): slice-by-8 tables computed at
// compile time, and folding with carry-less multiplication where the CPU has it.
#include <array>
#include <bit>
#include <cstring>

#include "codecs/crc32_internal.h"
#include "qb_export.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define QB_CRC_CLMUL 1
#endif

namespace {

constexpr uint32_t kPoly = 0xEDB88320u;

// Built by the compiler, so two threads making their first call together have
// nothing to race on.
constexpr std::array<std::array<uint32_t, 256>, 8> make_tables() {
    std::array<std::array<uint32_t, 256>, 8> t{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t c = i;
        for (int k = 0; k < 8; ++k) c = (c & 1) ? (c >> 1) ^ kPoly : c >> 1;
        t[0][i] = c;
    }
    for (int s = 1; s < 8; ++s)
        for (int i = 0; i < 256; ++i) t[s][i] = (t[s - 1][i] >> 8) ^ t[0][t[s - 1][i] & 0xff];
    return t;
}
constexpr auto kTables = make_tables();

inline uint32_t load32(const unsigned char* p) {
    uint32_t v;
    memcpy(&v, p, 4);
    return v;
}

// Works on the inverted register (no pre/post inversion).
uint32_t tables_raw(uint32_t reg, const unsigned char* p, size_t len) {
    const auto& t = kTables;
    if constexpr (std::endian::native == std::endian::little) {
        while (len >= 8) {
            const uint32_t lo = load32(p) ^ reg;
            const uint32_t hi = load32(p + 4);
            reg = t[7][lo & 0xff] ^ t[6][(lo >> 8) & 0xff] ^ t[5][(lo >> 16) & 0xff] ^ t[4][lo >> 24] ^
                  t[3][hi & 0xff] ^ t[2][(hi >> 8) & 0xff] ^ t[1][(hi >> 16) & 0xff] ^ t[0][hi >> 24];
            p += 8;
            len -= 8;
        }
    }
    while (len--) reg = t[0][(reg ^ *p++) & 0xff] ^ (reg >> 8);
    return reg;
}

#ifdef QB_CRC_CLMUL
// x^n mod P, bit-reflected (bit 31 is the x^0 coefficient).
constexpr uint32_t xpow_mod(unsigned n) {
    uint32_t r = 0x80000000u;
    while (n--) r = (r & 1) ? (r >> 1) ^ kPoly : r >> 1;
    return r;
}

// Multiplier that moves a 64-bit half forward by n bits. A carry-less product of
// two reflected operands comes out one bit short of the 128-bit reflection, so
// the constant carries x^(n-1) instead of x^n.
constexpr uint64_t fold_constant(unsigned n) { return static_cast<uint64_t>(xpow_mod(n - 1)) << 32; }

// A 16-byte lane holds the bits x^127 (low half) .. x^0 relative to its end;
// folding it forward by `bits` keeps it congruent modulo P and fits 97 bits.
struct Fold {
    uint64_t low_half;  // for the low 64 bits (the high-degree half): x^(bits + 64)
    uint64_t high_half; // for the high 64 bits: x^bits
};
constexpr Fold kFold512{fold_constant(512 + 64), fold_constant(512)};
constexpr Fold kFold128{fold_constant(128 + 64), fold_constant(128)};

__attribute__((target("pclmul,sse4.1"))) inline __m128i fold(__m128i v, __m128i k) {
    return _mm_xor_si128(_mm_clmulepi64_si128(v, k, 0x00), _mm_clmulepi64_si128(v, k, 0x11));
}

__attribute__((target("pclmul,sse4.1"))) uint32_t clmul_raw(uint32_t reg, const unsigned char* p, size_t len) {
    // len >= 64. The register is folded into the first bytes: a CRC with start
    // value R equals one with start 0 over the data whose first word is XORed with R.
    const __m128i k512 = _mm_set_epi64x(static_cast<long long>(kFold512.high_half),
                                        static_cast<long long>(kFold512.low_half));
    const __m128i k128 = _mm_set_epi64x(static_cast<long long>(kFold128.high_half),
                                        static_cast<long long>(kFold128.low_half));
    auto load = [](const unsigned char* q) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(q)); };
    __m128i x0 = _mm_xor_si128(load(p), _mm_cvtsi32_si128(static_cast<int>(reg)));
    __m128i x1 = load(p + 16), x2 = load(p + 32), x3 = load(p + 48);
    p += 64;
    len -= 64;
    while (len >= 64) {
        x0 = _mm_xor_si128(fold(x0, k512), load(p));
        x1 = _mm_xor_si128(fold(x1, k512), load(p + 16));
        x2 = _mm_xor_si128(fold(x2, k512), load(p + 32));
        x3 = _mm_xor_si128(fold(x3, k512), load(p + 48));
        p += 64;
        len -= 64;
    }
    x1 = _mm_xor_si128(x1, fold(x0, k128));
    x2 = _mm_xor_si128(x2, fold(x1, k128));
    x3 = _mm_xor_si128(x3, fold(x2, k128));
    while (len >= 16) {
        x3 = _mm_xor_si128(fold(x3, k128), load(p));
        p += 16;
        len -= 16;
    }
    // The last lane is congruent to everything before it: finish it and the
    // tail with the tables, starting from a zero register.
    unsigned char lane[16];
    _mm_storeu_si128(reinterpret_cast<__m128i*>(lane), x3);
    return tables_raw(tables_raw(0, lane, 16), p, len);
}

bool have_clmul() {
    static const bool has = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1");
    }();
    return has;
}
#endif

}  // namespace

namespace qb {

uint32_t crc32_tables(uint32_t crc, const void* buf, size_t len) {
    if (len == 0) return crc;
    return ~tables_raw(~crc, static_cast<const unsigned char*>(buf), len);
}

uint32_t crc32_update(uint32_t crc, const void* buf, size_t len) {
    if (len == 0) return crc;
    const auto* p = static_cast<const unsigned char*>(buf);
#ifdef QB_CRC_CLMUL
    if (len >= 64 && have_clmul()) return ~clmul_raw(~crc, p, len);
#endif
    return ~tables_raw(~crc, p, len);
}

}  // namespace qb

// The exported symbol has zlib's exact C types (not the public header's), so
// that zlib's callers bound to it read a clean 64-bit result and our code never
// looks at bits of the length register that a 32-bit argument leaves undefined.
// This file must not include crc32.h: the two declarations differ on purpose.
extern "C" QB_API unsigned long crc32(unsigned long crc, const unsigned char* buf, unsigned int len) {
    if (!buf) return 0;  // zlib: the starting value
    return qb::crc32_update(static_cast<uint32_t>(crc), buf, len);
}
