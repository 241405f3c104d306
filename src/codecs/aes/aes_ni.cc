// AES with the x86 AES instructions. The schedules of aes.cc pack key bytes
// little-endian into words, so on this (little-endian) architecture the round
// keys lie in memory exactly as the instructions take them.
#include "codecs/aes/aes_internal.h"

#ifdef QB_AES_NI
#include <immintrin.h>

#define QB_TARGET __attribute__((target("aes,sse4.1")))

namespace qb::aes {
namespace {

constexpr size_t kLanes = 8;  // independent blocks in flight, to cover the instruction latency

struct Keys {
    __m128i k[15];
    int nr;
};

QB_TARGET inline Keys load_keys(const uint32_t* rk, int nr) {
    Keys keys;
    keys.nr = nr;
    for (int i = 0; i <= nr; ++i) keys.k[i] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rk + 4 * i));
    return keys;
}

QB_TARGET inline __m128i load(const unsigned char* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
QB_TARGET inline void store(unsigned char* p, __m128i v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v); }

QB_TARGET inline __m128i encrypt1(const Keys& keys, __m128i s) {
    s = _mm_xor_si128(s, keys.k[0]);
    for (int r = 1; r < keys.nr; ++r) s = _mm_aesenc_si128(s, keys.k[r]);
    return _mm_aesenclast_si128(s, keys.k[keys.nr]);
}

QB_TARGET inline __m128i decrypt1(const Keys& keys, __m128i s) {
    s = _mm_xor_si128(s, keys.k[0]);
    for (int r = 1; r < keys.nr; ++r) s = _mm_aesdec_si128(s, keys.k[r]);
    return _mm_aesdeclast_si128(s, keys.k[keys.nr]);
}

QB_TARGET inline void encrypt8(const Keys& keys, __m128i* s) {
    for (size_t i = 0; i < kLanes; ++i) s[i] = _mm_xor_si128(s[i], keys.k[0]);
    for (int r = 1; r < keys.nr; ++r)
        for (size_t i = 0; i < kLanes; ++i) s[i] = _mm_aesenc_si128(s[i], keys.k[r]);
    for (size_t i = 0; i < kLanes; ++i) s[i] = _mm_aesenclast_si128(s[i], keys.k[keys.nr]);
}

QB_TARGET inline void decrypt8(const Keys& keys, __m128i* s) {
    for (size_t i = 0; i < kLanes; ++i) s[i] = _mm_xor_si128(s[i], keys.k[0]);
    for (int r = 1; r < keys.nr; ++r)
        for (size_t i = 0; i < kLanes; ++i) s[i] = _mm_aesdec_si128(s[i], keys.k[r]);
    for (size_t i = 0; i < kLanes; ++i) s[i] = _mm_aesdeclast_si128(s[i], keys.k[keys.nr]);
}

}  // namespace

bool ni_available() {
    static const bool has = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("aes") && __builtin_cpu_supports("sse4.1");
    }();
    return has;
}

QB_TARGET void ni_ecb_encrypt(const uint32_t* rk, int nr, const unsigned char* in, unsigned char* out,
                              size_t blocks) {
    const Keys keys = load_keys(rk, nr);
    for (; blocks >= kLanes; blocks -= kLanes, in += 16 * kLanes, out += 16 * kLanes) {
        __m128i s[kLanes];
        for (size_t i = 0; i < kLanes; ++i) s[i] = load(in + 16 * i);
        encrypt8(keys, s);
        for (size_t i = 0; i < kLanes; ++i) store(out + 16 * i, s[i]);
    }
    for (; blocks; --blocks, in += 16, out += 16) store(out, encrypt1(keys, load(in)));
}

QB_TARGET void ni_ecb_decrypt(const uint32_t* rk, int nr, const unsigned char* in, unsigned char* out,
                              size_t blocks) {
    const Keys keys = load_keys(rk, nr);
    for (; blocks >= kLanes; blocks -= kLanes, in += 16 * kLanes, out += 16 * kLanes) {
        __m128i s[kLanes];
        for (size_t i = 0; i < kLanes; ++i) s[i] = load(in + 16 * i);
        decrypt8(keys, s);
        for (size_t i = 0; i < kLanes; ++i) store(out + 16 * i, s[i]);
    }
    for (; blocks; --blocks, in += 16, out += 16) store(out, decrypt1(keys, load(in)));
}

QB_TARGET void ni_cbc_encrypt(const uint32_t* rk, int nr, unsigned char* iv, const unsigned char* in,
                              unsigned char* out, size_t blocks) {
    // Each block needs the previous ciphertext: no parallelism to be had.
    const Keys keys = load_keys(rk, nr);
    __m128i chain = load(iv);
    for (; blocks; --blocks, in += 16, out += 16) {
        chain = encrypt1(keys, _mm_xor_si128(load(in), chain));
        store(out, chain);
    }
    store(iv, chain);
}

QB_TARGET void ni_cbc_decrypt(const uint32_t* rk, int nr, unsigned char* iv, const unsigned char* in,
                              unsigned char* out, size_t blocks) {
    const Keys keys = load_keys(rk, nr);
    __m128i chain = load(iv);
    // All inputs of a batch are loaded before any output is stored, so in and out may be one buffer.
    for (; blocks >= kLanes; blocks -= kLanes, in += 16 * kLanes, out += 16 * kLanes) {
        __m128i c[kLanes], s[kLanes];
        for (size_t i = 0; i < kLanes; ++i) s[i] = c[i] = load(in + 16 * i);
        decrypt8(keys, s);
        store(out, _mm_xor_si128(s[0], chain));
        for (size_t i = 1; i < kLanes; ++i) store(out + 16 * i, _mm_xor_si128(s[i], c[i - 1]));
        chain = c[kLanes - 1];
    }
    for (; blocks; --blocks, in += 16, out += 16) {
        const __m128i c = load(in);
        store(out, _mm_xor_si128(decrypt1(keys, c), chain));
        chain = c;
    }
    store(iv, chain);
}

}  // namespace qb::aes
#endif
