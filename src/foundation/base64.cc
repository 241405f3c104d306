#include <array>
#include <bit>
#include <cstdint>
#include <cstring>

#include "base64.h"

// Decoding rule for bad input: the output is the decoding of the longest
// prefix made only of alphabet characters ("=" and NUL end it). Whole groups
// give three bytes; a final run of 2 or 3 characters gives 1 or 2 bytes (its
// leftover bits are dropped); a single character gives nothing. Well-formed
// padded input thus decodes exactly as usual, and nothing past the NUL is read.

namespace {
constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr uint32_t kBad = 0x01000000;  // above any 24-bit group value

// Two output characters per 12 input bits halves the table look-ups.
constexpr std::array<uint16_t, 4096> make_pairs() {
    std::array<uint16_t, 4096> t{};
    for (unsigned i = 0; i < 4096; ++i) {
        unsigned char hi = static_cast<unsigned char>(kAlphabet[i >> 6]);
        unsigned char lo = static_cast<unsigned char>(kAlphabet[i & 63]);
        // Stored in memory order, so a memcpy of the entry writes hi then lo.
        if constexpr (std::endian::native == std::endian::little)
            t[i] = static_cast<uint16_t>(hi | (lo << 8));
        else
            t[i] = static_cast<uint16_t>((hi << 8) | lo);
    }
    return t;
}

// One table per position in a group, each value pre-shifted, so a group is
// four look-ups OR-ed together and one range check.
constexpr std::array<uint32_t, 256> make_decode(unsigned shift) {
    std::array<uint32_t, 256> t{};
    for (auto& v : t) v = kBad;
    for (unsigned i = 0; i < 64; ++i) t[static_cast<unsigned char>(kAlphabet[i])] = i << shift;
    return t;
}

constexpr auto kPairs = make_pairs();
constexpr auto kDec0 = make_decode(18);
constexpr auto kDec1 = make_decode(12);
constexpr auto kDec2 = make_decode(6);
constexpr auto kDec3 = make_decode(0);

inline void put_group(unsigned char* out, uint32_t v) {
    out[0] = static_cast<unsigned char>(v >> 16);
    out[1] = static_cast<unsigned char>(v >> 8);
    out[2] = static_cast<unsigned char>(v);
}
}  // namespace

extern "C" {

QB_API int sdk_base64_encode(const unsigned char* sourcedata, char* base64) {
    if (!sourcedata || !base64) return -1;
    const size_t n = strlen(reinterpret_cast<const char*>(sourcedata));
    const unsigned char* in = sourcedata;
    const unsigned char* const full_end = sourcedata + n / 3 * 3;
    char* out = base64;
    for (; in != full_end; in += 3, out += 4) {
        uint32_t v = (uint32_t{in[0]} << 16) | (uint32_t{in[1]} << 8) | in[2];
        memcpy(out, &kPairs[v >> 12], 2);
        memcpy(out + 2, &kPairs[v & 0xFFF], 2);
    }
    switch (n % 3) {
        case 1:
            out[0] = kAlphabet[in[0] >> 2];
            out[1] = kAlphabet[(in[0] & 3) << 4];
            out[2] = '=';
            out[3] = '=';
            out += 4;
            break;
        case 2:
            out[0] = kAlphabet[in[0] >> 2];
            out[1] = kAlphabet[((in[0] & 3) << 4) | (in[1] >> 4)];
            out[2] = kAlphabet[(in[1] & 15) << 2];
            out[3] = '=';
            out += 4;
            break;
        default:
            break;
    }
    *out = '\0';
    return 0;
}

QB_API int sdk_base64_decode(const char* base64, unsigned char* dedata) {
    if (!base64 || !dedata) return -1;
    const auto* in = reinterpret_cast<const unsigned char*>(base64);
    // strlen bounds every later read by the NUL, and lets the main loop take
    // whole groups without testing each character for the end.
    const size_t n = strlen(base64);
    const unsigned char* const groups_end = in + n / 4 * 4;
    unsigned char* out = dedata;
    for (; in != groups_end; in += 4, out += 3) {
        uint32_t v = kDec0[in[0]] | kDec1[in[1]] | kDec2[in[2]] | kDec3[in[3]];
        if (v >= kBad) break;
        put_group(out, v);
    }

    // Padding, a short final group or a bad character: take the valid run.
    const auto* end = reinterpret_cast<const unsigned char*>(base64) + n;
    uint32_t v = 0;
    int k = 0;
    for (; k < 4 && in + k != end && kDec3[in[k]] != kBad; ++k) v |= kDec3[in[k]] << (18 - 6 * k);
    if (k >= 2) *out++ = static_cast<unsigned char>(v >> 16);
    if (k >= 3) *out++ = static_cast<unsigned char>(v >> 8);
    *out = '\0';
    return 0;
}

}  // extern "C"
