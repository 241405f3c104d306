// SHA-256 as published in FIPS 180-4. The block function is chosen once: the
// x86 SHA extensions when the CPU reports them, else portable code.
#include "sha256.h"

#include <atomic>
#include <cstring>

#include "codecs/block_feed.h"
#include "codecs/sha256_internal.h"

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#include <immintrin.h>
#define QB_SHA256_X86 1
#endif

namespace qb::sha256 {
namespace {

alignas(16) constexpr uint32_t K[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

inline uint32_t rotr(uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }

inline uint32_t load_be32(const uint8_t* p) {
    uint32_t v;
    memcpy(&v, p, 4);
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    v = __builtin_bswap32(v);
#endif
    return v;
}

inline void store_be32(uint8_t* p, uint32_t v) {
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    v = __builtin_bswap32(v);
#endif
    memcpy(p, &v, 4);
}

#ifdef QB_SHA256_X86
bool cpu_has_sha_ext() {
    unsigned a, b, c, d;
    if (!__get_cpuid(1, &a, &b, &c, &d)) return false;
    const bool ssse3 = c & (1u << 9), sse41 = c & (1u << 19);
    if (!__get_cpuid_count(7, 0, &a, &b, &c, &d)) return false;
    return ssse3 && sse41 && (b & (1u << 29));
}

// Four rounds per group; the schedule for group r is made just before use
// from the four previous groups kept in a ring of registers.
__attribute__((target("sha,sse4.1"))) void blocks_shani(uint32_t state[8], const uint8_t* data, size_t blocks) {
    const __m128i byteswap = _mm_set_epi64x(0x0c0d0e0f08090a0bULL, 0x0405060700010203ULL);
    __m128i tmp = _mm_loadu_si128(reinterpret_cast<const __m128i*>(state));      // DCBA
    __m128i st1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(state + 4));  // HGFE
    tmp = _mm_shuffle_epi32(tmp, 0xB1);                                         // CDAB
    st1 = _mm_shuffle_epi32(st1, 0x1B);                                         // EFGH
    __m128i st0 = _mm_alignr_epi8(tmp, st1, 8);                                 // ABEF
    st1 = _mm_blend_epi16(st1, tmp, 0xF0);                                      // CDGH

    for (; blocks > 0; --blocks, data += 64) {
        const __m128i save0 = st0, save1 = st1;
        __m128i w[4];
        for (int i = 0; i < 4; ++i)
            w[i] = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 16 * i)), byteswap);
#pragma GCC unroll 16
        for (int r = 0; r < 16; ++r) {
            if (r >= 4) {
                __m128i m = _mm_sha256msg1_epu32(w[r & 3], w[(r + 1) & 3]);
                m = _mm_add_epi32(m, _mm_alignr_epi8(w[(r + 3) & 3], w[(r + 2) & 3], 4));
                w[r & 3] = _mm_sha256msg2_epu32(m, w[(r + 3) & 3]);
            }
            __m128i msg = _mm_add_epi32(w[r & 3], _mm_load_si128(reinterpret_cast<const __m128i*>(K + 4 * r)));
            st1 = _mm_sha256rnds2_epu32(st1, st0, msg);
            msg = _mm_shuffle_epi32(msg, 0x0E);
            st0 = _mm_sha256rnds2_epu32(st0, st1, msg);
        }
        st0 = _mm_add_epi32(st0, save0);
        st1 = _mm_add_epi32(st1, save1);
    }

    tmp = _mm_shuffle_epi32(st0, 0x1B);     // FEBA
    st1 = _mm_shuffle_epi32(st1, 0xB1);     // DCHG
    st0 = _mm_blend_epi16(tmp, st1, 0xF0);  // DCBA
    st1 = _mm_alignr_epi8(st1, tmp, 8);     // HGFE
    _mm_storeu_si128(reinterpret_cast<__m128i*>(state), st0);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(state + 4), st1);
}
#endif

BlockFn pick(Impl impl) {
    switch (impl) {
    case Impl::portable:
        return blocks_portable;
    case Impl::sha_ext:
        return blocks_sha_ext();
    case Impl::automatic:
        break;
    }
    BlockFn fast = blocks_sha_ext();
    return fast ? fast : blocks_portable;
}

std::atomic<BlockFn>& active() {
    static std::atomic<BlockFn> fn{pick(Impl::automatic)};
    return fn;
}

}  // namespace

#define QB_S0(x) (rotr(x, 2) ^ rotr(x, 13) ^ rotr(x, 22))
#define QB_S1(x) (rotr(x, 6) ^ rotr(x, 11) ^ rotr(x, 25))
#define QB_s0(x) (rotr(x, 7) ^ rotr(x, 18) ^ ((x) >> 3))
#define QB_s1(x) (rotr(x, 17) ^ rotr(x, 19) ^ ((x) >> 10))

void blocks_portable(uint32_t state[8], const uint8_t* data, size_t blocks) {
    uint32_t s[8];
    memcpy(s, state, sizeof s);
    for (; blocks > 0; --blocks, data += 64) {
        uint32_t w[16];
        for (int i = 0; i < 16; ++i) w[i] = load_be32(data + 4 * i);
        uint32_t a = s[0], b = s[1], c = s[2], d = s[3], e = s[4], f = s[5], g = s[6], h = s[7];
#pragma GCC unroll 64
        for (int i = 0; i < 64; ++i) {
            uint32_t wi;
            if (i < 16) {
                wi = w[i];
            } else {
                wi = w[i & 15] += QB_s1(w[(i - 2) & 15]) + w[(i - 7) & 15] + QB_s0(w[(i - 15) & 15]);
            }
            const uint32_t t1 = h + QB_S1(e) + (g ^ (e & (f ^ g))) + K[i] + wi;
            const uint32_t t2 = QB_S0(a) + ((a & b) | (c & (a | b)));
            h = g;
            g = f;
            f = e;
            e = d + t1;
            d = c;
            c = b;
            b = a;
            a = t1 + t2;
        }
        s[0] += a;
        s[1] += b;
        s[2] += c;
        s[3] += d;
        s[4] += e;
        s[5] += f;
        s[6] += g;
        s[7] += h;
    }
    memcpy(state, s, sizeof s);
}

#undef QB_S0
#undef QB_S1
#undef QB_s0
#undef QB_s1

BlockFn blocks_sha_ext() {
#ifdef QB_SHA256_X86
    static const bool have = cpu_has_sha_ext();
    return have ? blocks_shani : nullptr;
#else
    return nullptr;
#endif
}

bool select(Impl impl) {
    BlockFn fn = pick(impl);
    if (!fn) return false;
    active().store(fn, std::memory_order_relaxed);
    return true;
}

}  // namespace qb::sha256

extern "C" {

QB_API void ext_sha256_init(sha256_context* ctx) {
    if (!ctx) return;
    static const uint32_t kInit[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                      0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
    memset(ctx->buf, 0, sizeof ctx->buf);
    memcpy(ctx->hash, kInit, sizeof kInit);
    ctx->len[0] = ctx->len[1] = 0;
}

QB_API void ext_sha256_hash(sha256_context* ctx, uint8_t* dat, uint32_t sz) {
    if (!ctx || (!dat && sz > 0) || sz == 0) return;
    const qb::sha256::BlockFn blocks = qb::sha256::active().load(std::memory_order_relaxed);
    uint8_t* partial = reinterpret_cast<uint8_t*>(ctx->buf);
    size_t have = ctx->len[0] & 63;
    const uint64_t total = (static_cast<uint64_t>(ctx->len[1]) << 32 | ctx->len[0]) + sz;
    ctx->len[0] = static_cast<uint32_t>(total);
    ctx->len[1] = static_cast<uint32_t>(total >> 32);

    const uint8_t* in = dat;
    size_t len = sz;
    qb::digest::feed_blocks(partial, have, in, len,
                            [&](const uint8_t* p, size_t n) { blocks(ctx->hash, p, n); });
}

QB_API void ext_sha256_done(sha256_context* ctx, uint8_t* buf) {
    if (!ctx) return;
    const qb::sha256::BlockFn blocks = qb::sha256::active().load(std::memory_order_relaxed);
    uint8_t* partial = reinterpret_cast<uint8_t*>(ctx->buf);
    size_t have = ctx->len[0] & 63;
    const uint64_t bits = (static_cast<uint64_t>(ctx->len[1]) << 32 | ctx->len[0]) << 3;

    partial[have++] = 0x80;
    if (have > 56) {
        memset(partial + have, 0, 64 - have);
        blocks(ctx->hash, partial, 1);
        have = 0;
    }
    memset(partial + have, 0, 56 - have);
    qb::sha256::store_be32(partial + 56, static_cast<uint32_t>(bits >> 32));
    qb::sha256::store_be32(partial + 60, static_cast<uint32_t>(bits));
    blocks(ctx->hash, partial, 1);

    if (buf)
        for (int i = 0; i < 8; ++i) qb::sha256::store_be32(buf + 4 * i, ctx->hash[i]);
    memset(ctx->buf, 0, sizeof ctx->buf);
}

}  // extern "C"
