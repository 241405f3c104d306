// MD5 as published in RFC 1321; the block function is unrolled and keeps the
// chaining words in registers across consecutive blocks.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "codecs/block_feed.h"
#include "sdk_md5.h"

namespace {

// Large reads: the digest costs less than a syscall per kilobyte.
constexpr size_t kFileBlock = 256 * 1024;

inline uint32_t rotl(uint32_t x, int s) { return (x << s) | (x >> (32 - s)); }

inline uint32_t load_le32(const unsigned char* p) {
    uint32_t v;
    memcpy(&v, p, 4);
#if __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    v = __builtin_bswap32(v);
#endif
    return v;
}

inline void store_le32(unsigned char* p, uint32_t v) {
#if __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    v = __builtin_bswap32(v);
#endif
    memcpy(p, &v, 4);
}

// F and G in their select forms; G's two halves never overlap, so the sum
// lets the CPU start the d-independent half early.
#define QB_MD5_F(a, b, c, d, x, t, s)           \
    a += (d ^ (b & (c ^ d))) + (x) + (t);       \
    a = rotl(a, s) + b;
#define QB_MD5_G(a, b, c, d, x, t, s)           \
    a += (x) + (t) + (c & ~d);                  \
    a += (b & d);                               \
    a = rotl(a, s) + b;
#define QB_MD5_H(a, b, c, d, x, t, s)           \
    a += (b ^ c ^ d) + (x) + (t);               \
    a = rotl(a, s) + b;
#define QB_MD5_I(a, b, c, d, x, t, s)           \
    a += (c ^ (b | ~d)) + (x) + (t);            \
    a = rotl(a, s) + b;

void md5_blocks(uint32_t state[4], const unsigned char* p, size_t blocks) {
    uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    for (; blocks > 0; --blocks, p += 64) {
        uint32_t x[16];
        for (int i = 0; i < 16; ++i) x[i] = load_le32(p + 4 * i);
        const uint32_t aa = a, bb = b, cc = c, dd = d;

        QB_MD5_F(a, b, c, d, x[0], 0xd76aa478, 7)
        QB_MD5_F(d, a, b, c, x[1], 0xe8c7b756, 12)
        QB_MD5_F(c, d, a, b, x[2], 0x242070db, 17)
        QB_MD5_F(b, c, d, a, x[3], 0xc1bdceee, 22)
        QB_MD5_F(a, b, c, d, x[4], 0xf57c0faf, 7)
        QB_MD5_F(d, a, b, c, x[5], 0x4787c62a, 12)
        QB_MD5_F(c, d, a, b, x[6], 0xa8304613, 17)
        QB_MD5_F(b, c, d, a, x[7], 0xfd469501, 22)
        QB_MD5_F(a, b, c, d, x[8], 0x698098d8, 7)
        QB_MD5_F(d, a, b, c, x[9], 0x8b44f7af, 12)
        QB_MD5_F(c, d, a, b, x[10], 0xffff5bb1, 17)
        QB_MD5_F(b, c, d, a, x[11], 0x895cd7be, 22)
        QB_MD5_F(a, b, c, d, x[12], 0x6b901122, 7)
        QB_MD5_F(d, a, b, c, x[13], 0xfd987193, 12)
        QB_MD5_F(c, d, a, b, x[14], 0xa679438e, 17)
        QB_MD5_F(b, c, d, a, x[15], 0x49b40821, 22)

        QB_MD5_G(a, b, c, d, x[1], 0xf61e2562, 5)
        QB_MD5_G(d, a, b, c, x[6], 0xc040b340, 9)
        QB_MD5_G(c, d, a, b, x[11], 0x265e5a51, 14)
        QB_MD5_G(b, c, d, a, x[0], 0xe9b6c7aa, 20)
        QB_MD5_G(a, b, c, d, x[5], 0xd62f105d, 5)
        QB_MD5_G(d, a, b, c, x[10], 0x02441453, 9)
        QB_MD5_G(c, d, a, b, x[15], 0xd8a1e681, 14)
        QB_MD5_G(b, c, d, a, x[4], 0xe7d3fbc8, 20)
        QB_MD5_G(a, b, c, d, x[9], 0x21e1cde6, 5)
        QB_MD5_G(d, a, b, c, x[14], 0xc33707d6, 9)
        QB_MD5_G(c, d, a, b, x[3], 0xf4d50d87, 14)
        QB_MD5_G(b, c, d, a, x[8], 0x455a14ed, 20)
        QB_MD5_G(a, b, c, d, x[13], 0xa9e3e905, 5)
        QB_MD5_G(d, a, b, c, x[2], 0xfcefa3f8, 9)
        QB_MD5_G(c, d, a, b, x[7], 0x676f02d9, 14)
        QB_MD5_G(b, c, d, a, x[12], 0x8d2a4c8a, 20)

        QB_MD5_H(a, b, c, d, x[5], 0xfffa3942, 4)
        QB_MD5_H(d, a, b, c, x[8], 0x8771f681, 11)
        QB_MD5_H(c, d, a, b, x[11], 0x6d9d6122, 16)
        QB_MD5_H(b, c, d, a, x[14], 0xfde5380c, 23)
        QB_MD5_H(a, b, c, d, x[1], 0xa4beea44, 4)
        QB_MD5_H(d, a, b, c, x[4], 0x4bdecfa9, 11)
        QB_MD5_H(c, d, a, b, x[7], 0xf6bb4b60, 16)
        QB_MD5_H(b, c, d, a, x[10], 0xbebfbc70, 23)
        QB_MD5_H(a, b, c, d, x[13], 0x289b7ec6, 4)
        QB_MD5_H(d, a, b, c, x[0], 0xeaa127fa, 11)
        QB_MD5_H(c, d, a, b, x[3], 0xd4ef3085, 16)
        QB_MD5_H(b, c, d, a, x[6], 0x04881d05, 23)
        QB_MD5_H(a, b, c, d, x[9], 0xd9d4d039, 4)
        QB_MD5_H(d, a, b, c, x[12], 0xe6db99e5, 11)
        QB_MD5_H(c, d, a, b, x[15], 0x1fa27cf8, 16)
        QB_MD5_H(b, c, d, a, x[2], 0xc4ac5665, 23)

        QB_MD5_I(a, b, c, d, x[0], 0xf4292244, 6)
        QB_MD5_I(d, a, b, c, x[7], 0x432aff97, 10)
        QB_MD5_I(c, d, a, b, x[14], 0xab9423a7, 15)
        QB_MD5_I(b, c, d, a, x[5], 0xfc93a039, 21)
        QB_MD5_I(a, b, c, d, x[12], 0x655b59c3, 6)
        QB_MD5_I(d, a, b, c, x[3], 0x8f0ccc92, 10)
        QB_MD5_I(c, d, a, b, x[10], 0xffeff47d, 15)
        QB_MD5_I(b, c, d, a, x[1], 0x85845dd1, 21)
        QB_MD5_I(a, b, c, d, x[8], 0x6fa87e4f, 6)
        QB_MD5_I(d, a, b, c, x[15], 0xfe2ce6e0, 10)
        QB_MD5_I(c, d, a, b, x[6], 0xa3014314, 15)
        QB_MD5_I(b, c, d, a, x[13], 0x4e0811a1, 21)
        QB_MD5_I(a, b, c, d, x[4], 0xf7537e82, 6)
        QB_MD5_I(d, a, b, c, x[11], 0xbd3af235, 10)
        QB_MD5_I(c, d, a, b, x[2], 0x2ad7d2bb, 15)
        QB_MD5_I(b, c, d, a, x[9], 0xeb86d391, 21)

        a += aa;
        b += bb;
        c += cc;
        d += dd;
    }
    state[0] = a;
    state[1] = b;
    state[2] = c;
    state[3] = d;
}

#undef QB_MD5_F
#undef QB_MD5_G
#undef QB_MD5_H
#undef QB_MD5_I

void md5_update(MD5_CTX* ctx, const unsigned char* in, size_t len) {
    size_t have = (ctx->count[0] >> 3) & 63;
    // The bit count is a 64-bit number kept as two words.
    uint64_t bits = (static_cast<uint64_t>(ctx->count[1]) << 32 | ctx->count[0]) + (static_cast<uint64_t>(len) << 3);
    ctx->count[0] = static_cast<UINT4>(bits);
    ctx->count[1] = static_cast<UINT4>(bits >> 32);

    qb::digest::feed_blocks(ctx->buffer, have, in, len,
                            [ctx](const unsigned char* p, size_t n) { md5_blocks(ctx->state, p, n); });
}

// Feeds the whole stream into ctx; false on a read error.
bool md5_stream(MD5_CTX* ctx, FILE* fp) {
    // Unbuffered: fread then goes straight into our block.
    setvbuf(fp, nullptr, _IONBF, 0);
    unsigned char* block = static_cast<unsigned char*>(malloc(kFileBlock));
    if (!block) return false;
    size_t n;
    while ((n = fread(block, 1, kFileBlock, fp)) > 0) md5_update(ctx, block, n);
    bool ok = !ferror(fp);
    free(block);
    return ok;
}

}  // namespace

extern "C" {

QB_API void MD5Init(MD5_CTX* context) {
    if (!context) return;
    context->count[0] = context->count[1] = 0;
    context->state[0] = 0x67452301;
    context->state[1] = 0xefcdab89;
    context->state[2] = 0x98badcfe;
    context->state[3] = 0x10325476;
    memset(context->buffer, 0, sizeof context->buffer);
}

QB_API void MD5Update(MD5_CTX* context, unsigned char* input, unsigned int inputLen) {
    if (!context || (!input && inputLen > 0)) return;
    md5_update(context, input, inputLen);
}

QB_API void MD5Final(unsigned char* digest, MD5_CTX* context) {
    if (!context) return;
    unsigned char bits[8];
    store_le32(bits, context->count[0]);
    store_le32(bits + 4, context->count[1]);
    // Pad to 56 mod 64: 0x80 then zeros, then the bit count.
    static const unsigned char kPad[64] = {0x80};
    size_t have = (context->count[0] >> 3) & 63;
    size_t pad = have < 56 ? 56 - have : 120 - have;
    md5_update(context, kPad, pad);
    md5_update(context, bits, 8);
    if (digest)
        for (int i = 0; i < 4; ++i) store_le32(digest + 4 * i, context->state[i]);
    memset(context, 0, sizeof *context);
}

QB_API void MD5UpdaterString(MD5_CTX* context, const char* string) {
    if (!context || !string) return;
    md5_update(context, reinterpret_cast<const unsigned char*>(string), strlen(string));
}

QB_API int MD5FileUpdateFile(MD5_CTX* context, char* filename) {
    if (!context || !filename) return -1;
    FILE* fp = fopen(filename, "rb");
    if (!fp) return -1;
    // Work on a copy so a read error leaves the caller's context as it was.
    MD5_CTX work = *context;
    bool ok = md5_stream(&work, fp);
    fclose(fp);
    if (!ok) return -1;
    *context = work;
    return 0;
}

QB_API void SDK_MD5String(char* string, unsigned char* digest) {
    if (!string || !digest) return;
    MD5_CTX ctx;
    MD5Init(&ctx);
    md5_update(&ctx, reinterpret_cast<const unsigned char*>(string), strlen(string));
    MD5Final(digest, &ctx);
}

QB_API int SDK_MD5File(char* filename, unsigned char* digest) {
    if (!filename || !digest) return -1;
    FILE* fp = fopen(filename, "rb");
    if (!fp) return -1;
    MD5_CTX ctx;
    MD5Init(&ctx);
    bool ok = md5_stream(&ctx, fp);
    fclose(fp);
    if (!ok) return -1;
    MD5Final(digest, &ctx);
    return 0;
}

}  // extern "C"
