// AES against FIPS-197 appendix C, SP 800-38A and the openssl command, on the
// AES-instruction path and on the table path.
#include <cstdlib>
#include <string>
#include <vector>

#include "aes.h"
#include "codecs/aes/aes_internal.h"
#include "support/test_support.h"

namespace {

using Bytes = std::vector<unsigned char>;

Bytes hex(const std::string& h) {
    Bytes out;
    for (size_t i = 0; i + 1 < h.size(); i += 2) out.push_back(static_cast<unsigned char>(std::stoi(h.substr(i, 2), nullptr, 16)));
    return out;
}

unsigned char* mut(const Bytes& b) { return const_cast<unsigned char*>(b.data()); }

struct Schedule {
    unsigned int rk[AES_RK_WORDS] = {};
    unsigned char nr = 0xEE;
    Schedule(const Bytes& key, bool decrypt, unsigned bits = ~0u) {
        (decrypt ? aes_key_de_schedule : aes_key_en_schedule)(key.data(), ~bits ? bits : unsigned(key.size() * 8), rk, &nr);
    }
};

// Every test runs once with the instructions (where the CPU has them) and once with the tables.
class Aes : public ::testing::TestWithParam<bool> {
    void SetUp() override { qb::aes::force_tables(GetParam()); }
    void TearDown() override { qb::aes::force_tables(false); }
};

INSTANTIATE_TEST_SUITE_P(Paths, Aes, ::testing::Values(false, true), [](const auto& i) { return i.param ? "tables" : "instructions"; });

// SP 800-38A appendix F: the IV and the 256-bit key.
const char* kSpIv = "000102030405060708090a0b0c0d0e0f";
const char* kSpKey256 = "603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4";

TEST_P(Aes, KnownAnswersOfFips197AppendixCAndSp800_38a) {
    EXPECT_EQ(qb::aes::hardware_in_use(), !GetParam() && qb::aes::ni_available());
    const Bytes block = hex("00112233445566778899aabbccddeeff");
    const char* fips[][2] = {{"000102030405060708090a0b0c0d0e0f", "69c4e0d86a7b0430d8cdb78070b4c55a"},
                             {"000102030405060708090a0b0c0d0e0f1011121314151617", "dda97ca4864cdfe06eaf70a0ec0d7191"},
                             {"000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f", "8ea2b7ca516745bfeafc49904b496089"}};
    for (const auto& c : fips) {
        const Schedule e(hex(c[0]), false), d(hex(c[0]), true);
        ASSERT_TRUE(e.nr == 6 + std::string(c[0]).size() / 8 && d.nr == e.nr) << int(e.nr) << " " << int(d.nr);
        Bytes out(16), back(16);
        aes_encrypt(e.rk, &e.nr, block.data(), out.data());
        EXPECT_EQ(out, hex(c[1])) << c[0];
        aes_decrypt(d.rk, &d.nr, out.data(), back.data());
        EXPECT_EQ(back, block);
        aes_crypt_ecb(ENCRYPT, e.rk, &e.nr, mut(block), back.data());
        EXPECT_EQ(back, out);
        aes_crypt_ecb(7, d.rk, &d.nr, back.data(), back.data());  // any non-zero mode decrypts; in place
        EXPECT_EQ(back, block);
    }
    const Bytes plain = hex("6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e51"
                            "30c81c46a35ce411e5fbc1191a0a52eff69f2445df4f9b17ad2b417be66c3710");
    const char* cbc[][2] = {  // F.2.1 and F.2.5
        {"2b7e151628aed2a6abf7158809cf4f3c",
         "7649abac8119b246cee98e9b12e9197d5086cb9b507219ee95db113a917678b273bed6b8e3c1743b7116e69e222295163ff1caa1681fac09120eca307586e1a7"},
        {kSpKey256,
         "f58c4c04d6e5f1ba779eabfb5f7bfbd69cfc4e967edb808d679f777bc6702c7d39f23369a9d9bacfa530e26304231461b2eb05e2c39be9fcda6c19078c6a9d1b"}};
    for (const auto& c : cbc) {
        const Bytes key = hex(c[0]), want = hex(c[1]);
        const Schedule e(key, false), d(key, true);
        Bytes out(64), iv = hex(kSpIv);
        for (size_t half = 0; half < 64; half += 32) {  // two calls of two blocks: the IV carries the chain
            aes_crypt_cbc(ENCRYPT, 32, iv.data(), e.rk, &e.nr, mut(plain) + half, out.data() + half);
            EXPECT_EQ(iv, Bytes(out.begin() + half + 16, out.begin() + half + 32));
        }
        EXPECT_EQ(out, want) << c[0];
        iv = hex(kSpIv);
        aes_crypt_cbc(DECRYPT, 64, iv.data(), d.rk, &d.nr, out.data(), out.data());  // in place, one call
        EXPECT_EQ(out, plain);
        EXPECT_EQ(iv, Bytes(want.end() - 16, want.end()));
    }
}

TEST_P(Aes, RefusesBadKeysRoundCountsAndLengths) {
    const Bytes key(32, 0x42), block(16, 0x17);
    for (unsigned bits : {0u, 64u, 127u, 129u, 512u}) EXPECT_EQ(Schedule(key, false, bits).nr + Schedule(key, true, bits).nr, 0) << bits;
    // A garbage round count never reaches the round keys.
    const Schedule good(key, false, 128);
    for (unsigned char nr : {0, 9, 11, 13, 15, 200}) {
        Bytes out(16, 1), iv(16, 1);
        aes_encrypt(good.rk, &nr, block.data(), out.data());
        aes_decrypt(good.rk, &nr, block.data(), out.data());
        aes_crypt_cbc(ENCRYPT, 16, iv.data(), good.rk, &nr, mut(block), out.data());
        EXPECT_TRUE(out == Bytes(16, 1) && iv == out) << int(nr);
    }
    // A length that is not whole blocks does nothing at all; the ECB helpers take only 16-byte keys.
    Bytes out(32, 0), iv(16, 0);
    aes_crypt_cbc(ENCRYPT, 20, iv.data(), good.rk, &good.nr, mut(key), out.data());
    EXPECT_EQ(aes_encrypt_ecb(key.data(), 24, mut(key), out.data(), 2) + aes_decrypt_ecb(key.data(), 32, mut(key), out.data(), 2), 2);
    EXPECT_TRUE(out == Bytes(32, 0) && iv == Bytes(16, 0));
}

// Long runs (batches of eight blocks on the instruction path plus a remainder) agree with `openssl enc`.
TEST_P(Aes, AgreesWithOpensslEncOverLongRuns) {
    qbtest::TempDir dir;
    const unsigned n = 261 * 16;
    Bytes plain(n), key = hex(kSpKey256), iv = hex(kSpIv);
    for (size_t i = 0; i < n; ++i) plain[i] = static_cast<unsigned char>(i * 131 + (i >> 7));
    qbtest::write_file(dir.file("plain"), std::string(plain.begin(), plain.end()));
    const char* ciphers[] = {"aes-128-ecb", "aes-128-cbc", "aes-192-cbc", "aes-256-cbc"};
    std::string script = "set -e\ncd '" + dir.path() + "'\n";  // one shell for all cases
    for (const char* c : ciphers)
        script += std::string("openssl enc -") + c + " -nopad -K " + std::string(kSpKey256, atoi(c + 4) / 4) +
                  (c[8] == 'c' ? std::string(" -iv ") + kSpIv : "") + " -in plain -out " + c + "\n";
    ASSERT_EQ(system(script.c_str()), 0) << "openssl enc failed or is missing";
    for (const char* c : ciphers) {
        const Schedule e(key, false, atoi(c + 4)), d(key, true, atoi(c + 4));
        Bytes ours(n), ivc = iv;
        if (c[8] == 'c') aes_crypt_cbc(ENCRYPT, n, ivc.data(), e.rk, &e.nr, mut(plain), ours.data());
        else ASSERT_EQ(aes_encrypt_ecb(key.data(), 16, mut(plain), ours.data(), int(n / 16)), 0);
        EXPECT_EQ(std::string(ours.begin(), ours.end()), qbtest::read_file(dir.file(c))) << c;
        ivc = iv;
        if (c[8] == 'c') aes_crypt_cbc(DECRYPT, n, ivc.data(), d.rk, &d.nr, ours.data(), ours.data());
        else ASSERT_EQ(aes_decrypt_ecb(key.data(), 16, ours.data(), ours.data(), int(n / 16)), 0);
        EXPECT_EQ(ours, plain) << c;
    }
}

}  // namespace
