// AES (FIPS-197) with 32-bit lookup tables computed at compile time from the
// S-box, ECB and CBC (SP 800-38A); AES instructions take over where present.
#include <array>
#include <atomic>
#include <cstring>

#include "aes.h"
#include "codecs/aes/aes_internal.h"

namespace {

using Table = std::array<uint32_t, 256>;

constexpr uint8_t xtime(uint8_t b) { return static_cast<uint8_t>((b << 1) ^ ((b & 0x80) ? 0x1b : 0)); }

constexpr uint8_t gmul(uint8_t a, uint8_t b) {
    uint8_t r = 0;
    for (; b; b >>= 1, a = xtime(a))
        if (b & 1) r ^= a;
    return r;
}

constexpr uint8_t rotl8(uint8_t b, int n) { return static_cast<uint8_t>((b << n) | (b >> (8 - n))); }
constexpr uint32_t rotl32(uint32_t w, int n) { return (w << n) | (w >> (32 - n)); }

// The S-box: multiplicative inverse in GF(2^8) (a^254), then the affine map.
constexpr std::array<uint8_t, 256> make_sbox() {
    std::array<uint8_t, 256> s{};
    for (int x = 0; x < 256; ++x) {
        uint8_t inv = 0;
        if (x) {
            uint8_t p = 1, base = static_cast<uint8_t>(x);
            for (int e = 254; e; e >>= 1, base = gmul(base, base))
                if (e & 1) p = gmul(p, base);
            inv = p;
        }
        s[x] = inv ^ rotl8(inv, 1) ^ rotl8(inv, 2) ^ rotl8(inv, 3) ^ rotl8(inv, 4) ^ 0x63;
    }
    return s;
}
constexpr auto kSbox = make_sbox();

constexpr std::array<uint8_t, 256> make_inverse_sbox() {
    std::array<uint8_t, 256> inv{};
    for (int x = 0; x < 256; ++x) inv[kSbox[x]] = static_cast<uint8_t>(x);
    return inv;
}
constexpr auto kInvSbox = make_inverse_sbox();

// Words hold a column with row 0 in the low byte. Table n gives the column
// contribution of a byte from row n: table 0 times the byte rotation n.
constexpr std::array<Table, 4> make_forward() {
    std::array<Table, 4> t{};
    for (int x = 0; x < 256; ++x) {
        const uint8_t s = kSbox[x];
        t[0][x] = uint32_t{gmul(s, 2)} | uint32_t{s} << 8 | uint32_t{s} << 16 | uint32_t{gmul(s, 3)} << 24;
        for (int n = 1; n < 4; ++n) t[n][x] = rotl32(t[n - 1][x], 8);
    }
    return t;
}
constexpr std::array<Table, 4> make_reverse() {
    std::array<Table, 4> t{};
    for (int x = 0; x < 256; ++x) {
        const uint8_t s = kInvSbox[x];
        t[0][x] = uint32_t{gmul(s, 14)} | uint32_t{gmul(s, 9)} << 8 | uint32_t{gmul(s, 13)} << 16 |
                  uint32_t{gmul(s, 11)} << 24;
        for (int n = 1; n < 4; ++n) t[n][x] = rotl32(t[n - 1][x], 8);
    }
    return t;
}
constexpr auto kFT = make_forward();
constexpr auto kRT = make_reverse();

std::atomic<bool> g_force_tables{false};

bool valid_rounds(const unsigned char* NR) { return NR && (*NR == 10 || *NR == 12 || *NR == 14); }

uint32_t load_le(const unsigned char* p) {
    return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

void store_le(unsigned char* p, uint32_t w) {
    p[0] = static_cast<unsigned char>(w);
    p[1] = static_cast<unsigned char>(w >> 8);
    p[2] = static_cast<unsigned char>(w >> 16);
    p[3] = static_cast<unsigned char>(w >> 24);
}

uint32_t sub_word(uint32_t w) {
    return uint32_t{kSbox[w & 0xff]} | uint32_t{kSbox[(w >> 8) & 0xff]} << 8 |
           uint32_t{kSbox[(w >> 16) & 0xff]} << 16 | uint32_t{kSbox[w >> 24]} << 24;
}

int expand(const unsigned char* key, unsigned int keybits, uint32_t* rk) {
    if (!key || !rk || (keybits != 128 && keybits != 192 && keybits != 256)) return 0;
    const int nk = static_cast<int>(keybits / 32);
    const int nr = nk + 6;
    for (int i = 0; i < nk; ++i) rk[i] = load_le(key + 4 * i);
    uint8_t rcon = 1;
    for (int i = nk; i < 4 * (nr + 1); ++i) {
        uint32_t temp = rk[i - 1];
        if (i % nk == 0) {
            temp = sub_word((temp >> 8) | (temp << 24)) ^ rcon;  // RotWord, SubWord, Rcon
            rcon = xtime(rcon);
        } else if (nk > 6 && i % nk == 4) {
            temp = sub_word(temp);
        }
        rk[i] = rk[i - nk] ^ temp;
    }
    return nr;
}

uint32_t inv_mix_column(uint32_t w) {
    // The reverse tables include the inverse S-box; feeding them S[b] leaves InvMixColumns alone.
    return kRT[0][kSbox[w & 0xff]] ^ kRT[1][kSbox[(w >> 8) & 0xff]] ^ kRT[2][kSbox[(w >> 16) & 0xff]] ^
           kRT[3][kSbox[w >> 24]];
}

void encrypt_tables(const uint32_t* rk, int nr, const unsigned char* in, unsigned char* out) {
    const auto& T = kFT;
    uint32_t s0 = load_le(in) ^ rk[0], s1 = load_le(in + 4) ^ rk[1];
    uint32_t s2 = load_le(in + 8) ^ rk[2], s3 = load_le(in + 12) ^ rk[3];
    for (int round = 1; round < nr; ++round) {
        rk += 4;
        const uint32_t t0 = T[0][s0 & 0xff] ^ T[1][(s1 >> 8) & 0xff] ^ T[2][(s2 >> 16) & 0xff] ^ T[3][s3 >> 24] ^ rk[0];
        const uint32_t t1 = T[0][s1 & 0xff] ^ T[1][(s2 >> 8) & 0xff] ^ T[2][(s3 >> 16) & 0xff] ^ T[3][s0 >> 24] ^ rk[1];
        const uint32_t t2 = T[0][s2 & 0xff] ^ T[1][(s3 >> 8) & 0xff] ^ T[2][(s0 >> 16) & 0xff] ^ T[3][s1 >> 24] ^ rk[2];
        const uint32_t t3 = T[0][s3 & 0xff] ^ T[1][(s0 >> 8) & 0xff] ^ T[2][(s1 >> 16) & 0xff] ^ T[3][s2 >> 24] ^ rk[3];
        s0 = t0, s1 = t1, s2 = t2, s3 = t3;
    }
    rk += 4;
    const auto& S = kSbox;
    auto last = [&](uint32_t a, uint32_t b, uint32_t c, uint32_t d, uint32_t k) {
        return (uint32_t{S[a & 0xff]} | uint32_t{S[(b >> 8) & 0xff]} << 8 | uint32_t{S[(c >> 16) & 0xff]} << 16 |
                uint32_t{S[d >> 24]} << 24) ^ k;
    };
    store_le(out, last(s0, s1, s2, s3, rk[0]));
    store_le(out + 4, last(s1, s2, s3, s0, rk[1]));
    store_le(out + 8, last(s2, s3, s0, s1, rk[2]));
    store_le(out + 12, last(s3, s0, s1, s2, rk[3]));
}

void decrypt_tables(const uint32_t* rk, int nr, const unsigned char* in, unsigned char* out) {
    const auto& T = kRT;
    uint32_t s0 = load_le(in) ^ rk[0], s1 = load_le(in + 4) ^ rk[1];
    uint32_t s2 = load_le(in + 8) ^ rk[2], s3 = load_le(in + 12) ^ rk[3];
    for (int round = 1; round < nr; ++round) {
        rk += 4;
        const uint32_t t0 = T[0][s0 & 0xff] ^ T[1][(s3 >> 8) & 0xff] ^ T[2][(s2 >> 16) & 0xff] ^ T[3][s1 >> 24] ^ rk[0];
        const uint32_t t1 = T[0][s1 & 0xff] ^ T[1][(s0 >> 8) & 0xff] ^ T[2][(s3 >> 16) & 0xff] ^ T[3][s2 >> 24] ^ rk[1];
        const uint32_t t2 = T[0][s2 & 0xff] ^ T[1][(s1 >> 8) & 0xff] ^ T[2][(s0 >> 16) & 0xff] ^ T[3][s3 >> 24] ^ rk[2];
        const uint32_t t3 = T[0][s3 & 0xff] ^ T[1][(s2 >> 8) & 0xff] ^ T[2][(s1 >> 16) & 0xff] ^ T[3][s0 >> 24] ^ rk[3];
        s0 = t0, s1 = t1, s2 = t2, s3 = t3;
    }
    rk += 4;
    const auto& S = kInvSbox;
    auto last = [&](uint32_t a, uint32_t b, uint32_t c, uint32_t d, uint32_t k) {
        return (uint32_t{S[a & 0xff]} | uint32_t{S[(b >> 8) & 0xff]} << 8 | uint32_t{S[(c >> 16) & 0xff]} << 16 |
                uint32_t{S[d >> 24]} << 24) ^ k;
    };
    store_le(out, last(s0, s3, s2, s1, rk[0]));
    store_le(out + 4, last(s1, s0, s3, s2, rk[1]));
    store_le(out + 8, last(s2, s1, s0, s3, rk[2]));
    store_le(out + 12, last(s3, s2, s1, s0, rk[3]));
}

bool use_hardware() {
#ifdef QB_AES_NI
    return !g_force_tables.load(std::memory_order_relaxed) && qb::aes::ni_available();
#else
    return false;
#endif
}

void ecb_blocks(bool decrypt, const uint32_t* rk, int nr, const unsigned char* in, unsigned char* out,
                size_t blocks) {
#ifdef QB_AES_NI
    if (use_hardware()) {
        (decrypt ? qb::aes::ni_ecb_decrypt : qb::aes::ni_ecb_encrypt)(rk, nr, in, out, blocks);
        return;
    }
#endif
    for (; blocks; --blocks, in += AES_BLOCK_SIZE, out += AES_BLOCK_SIZE)
        (decrypt ? decrypt_tables : encrypt_tables)(rk, nr, in, out);
}

int ecb_helper(bool decrypt, const unsigned char* key, unsigned char key_len, const unsigned char* in,
               unsigned char* out, int blocks) {
    if (key_len != 16 || !key) return 1;
    if (blocks <= 0 || !in || !out) return 0;
    uint32_t rk[AES_RK_WORDS];
    unsigned char nr = 0;
    (decrypt ? aes_key_de_schedule : aes_key_en_schedule)(key, 128, rk, &nr);
    ecb_blocks(decrypt, rk, nr, in, out, static_cast<size_t>(blocks));
    explicit_bzero(rk, sizeof rk);
    return 0;
}

}  // namespace

namespace qb::aes {
void force_tables(bool on) { g_force_tables.store(on); }
bool hardware_in_use() { return use_hardware(); }
}  // namespace qb::aes

extern "C" {

QB_API void aes_key_en_schedule(const unsigned char* key, unsigned int keybits, unsigned int* RK, unsigned char* NR) {
    const int nr = expand(key, keybits, RK);
    if (NR) *NR = static_cast<unsigned char>(nr);
}

QB_API void aes_key_de_schedule(const unsigned char* key, unsigned int keybits, unsigned int* RK, unsigned char* NR) {
    uint32_t ek[AES_RK_WORDS];
    const int nr = expand(key, keybits, ek);
    if (NR) *NR = static_cast<unsigned char>(nr);
    if (nr == 0) return;
    // The equivalent inverse cipher: round keys reversed, inner ones through InvMixColumns.
    for (int c = 0; c < 4; ++c) {
        RK[c] = ek[4 * nr + c];
        RK[4 * nr + c] = ek[c];
    }
    for (int r = 1; r < nr; ++r)
        for (int c = 0; c < 4; ++c) RK[4 * r + c] = inv_mix_column(ek[4 * (nr - r) + c]);
    explicit_bzero(ek, sizeof ek);
}

QB_API void aes_encrypt(const unsigned int* RK, const unsigned char* NR, const unsigned char* input,
                        unsigned char* output) {
    if (RK && valid_rounds(NR) && input && output) ecb_blocks(false, RK, *NR, input, output, 1);
}

QB_API void aes_decrypt(const unsigned int* RK, const unsigned char* NR, const unsigned char* input,
                        unsigned char* output) {
    if (RK && valid_rounds(NR) && input && output) ecb_blocks(true, RK, *NR, input, output, 1);
}

QB_API void aes_crypt_ecb(unsigned char mode, const unsigned int* RK, const unsigned char* NR, unsigned char* input,
                          unsigned char* output) {
    if (mode == ENCRYPT)
        aes_encrypt(RK, NR, input, output);
    else
        aes_decrypt(RK, NR, input, output);
}

QB_API void aes_crypt_cbc(unsigned char mode, unsigned int length, unsigned char* iv, const unsigned int* RK,
                          const unsigned char* NR, unsigned char* input, unsigned char* output) {
    if (length % AES_BLOCK_SIZE != 0 || !iv || !RK || !valid_rounds(NR) || !input || !output) return;
    const size_t blocks = length / AES_BLOCK_SIZE;
    const int nr = *NR;
#ifdef QB_AES_NI
    if (use_hardware()) {
        (mode == ENCRYPT ? qb::aes::ni_cbc_encrypt : qb::aes::ni_cbc_decrypt)(RK, nr, iv, input, output, blocks);
        return;
    }
#endif
    unsigned char block[AES_BLOCK_SIZE];
    for (size_t b = 0; b < blocks; ++b, input += AES_BLOCK_SIZE, output += AES_BLOCK_SIZE) {
        if (mode == ENCRYPT) {
            for (int i = 0; i < AES_BLOCK_SIZE; ++i) block[i] = input[i] ^ iv[i];
            encrypt_tables(RK, nr, block, output);
            memcpy(iv, output, AES_BLOCK_SIZE);
        } else {
            memcpy(block, input, AES_BLOCK_SIZE);  // input and output may be one buffer
            decrypt_tables(RK, nr, input, output);
            for (int i = 0; i < AES_BLOCK_SIZE; ++i) output[i] ^= iv[i];
            memcpy(iv, block, AES_BLOCK_SIZE);
        }
    }
}

QB_API int aes_encrypt_ecb(const unsigned char* Key, const unsigned char KeyLen, unsigned char* PlainContent,
                           unsigned char* CipherContent, const int BlockCount) {
    return ecb_helper(false, Key, KeyLen, PlainContent, CipherContent, BlockCount);
}

QB_API int aes_decrypt_ecb(const unsigned char* Key, const unsigned char KeyLen, unsigned char* CipherContent,
                           unsigned char* PlainContent, const int BlockCount) {
    return ecb_helper(true, Key, KeyLen, CipherContent, PlainContent, BlockCount);
}

}  // extern "C"
