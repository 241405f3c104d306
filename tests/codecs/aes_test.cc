// AES against FIPS-197 appendix C, SP 800-38A and the openssl command, on the
// AES-instruction path and on the table path.
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "aes.h"
#include "codecs/aes_internal.h"
#include "support/test_support.h"

namespace {

using Bytes = std::vector<unsigned char>;

Bytes hex(const std::string& h) {
    Bytes out;
    for (size_t i = 0; i + 1 < h.size(); i += 2) out.push_back(static_cast<unsigned char>(std::stoi(h.substr(i, 2), nullptr, 16)));
    return out;
}

std::string to_hex(const Bytes& b) {
    static const char* digits = "0123456789abcdef";
    std::string s;
    for (unsigned char c : b) {
        s += digits[c >> 4];
        s += digits[c & 15];
    }
    return s;
}

Bytes random_bytes(size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    Bytes v(n);
    for (auto& b : v) b = static_cast<unsigned char>(rng());
    return v;
}

// Runs every test once with the instructions (where the CPU has them) and once with the tables.
class Aes : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override { qb::aes::force_tables(GetParam()); }
    void TearDown() override { qb::aes::force_tables(false); }
};

INSTANTIATE_TEST_SUITE_P(Paths, Aes, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "tables" : "instructions"; });

struct Schedule {
    unsigned int rk[AES_RK_WORDS] = {};
    unsigned char nr = 0xEE;
};

Schedule en(const Bytes& key) {
    Schedule s;
    aes_key_en_schedule(key.data(), static_cast<unsigned>(key.size() * 8), s.rk, &s.nr);
    return s;
}

Schedule de(const Bytes& key) {
    Schedule s;
    aes_key_de_schedule(key.data(), static_cast<unsigned>(key.size() * 8), s.rk, &s.nr);
    return s;
}

const std::string kSpPlain =
    "6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e5130c81c46a35ce411e5fbc1191a0a52eff69f2445df4f9b17ad2b417be66c3710";

struct Vector {
    const char* name;
    std::string key;
    std::string ecb;  // SP 800-38A F.1 ciphertext of kSpPlain
    std::string cbc;  // SP 800-38A F.2 ciphertext of kSpPlain with IV 00..0f
};

const std::vector<Vector>& sp800_38a() {
    static const std::vector<Vector> v = {
        {"AES-128", "2b7e151628aed2a6abf7158809cf4f3c",
         "3ad77bb40d7a3660a89ecaf32466ef97f5d3d58503b9699de785895a96fdbaaf43b1cd7f598ece23881b00e3ed0306887b0c785e27e8ad3f8223207104725dd4",
         "7649abac8119b246cee98e9b12e9197d5086cb9b507219ee95db113a917678b273bed6b8e3c1743b7116e69e222295163ff1caa1681fac09120eca307586e1a7"},
        {"AES-192", "8e73b0f7da0e6452c810f32b809079e562f8ead2522c6b7b",
         "bd334f1d6e45f25ff712a214571fa5cc974104846d0ad3ad7734ecb3ecee4eefef7afd2270e2e60adce0ba2face6444e9a4b41ba738d6c72fb16691603c18e0e",
         "4f021db243bc633d7178183a9fa071e8b4d9ada9ad7dedf4e5e738763f69145a571b242012fb7ae07fa9baac3df102e008b0e27988598881d920a9e64f5615cd"},
        {"AES-256", "603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4",
         "f3eed1bdb5d2a03c064b5a7e3db181f8591ccb10d410ed26dc5ba74a31362870b6ed21b99ca6f4f9f153e7b1beafed1d23304b7a39f9f3ff067d8d8f9e24ecc7",
         "f58c4c04d6e5f1ba779eabfb5f7bfbd69cfc4e967edb808d679f777bc6702c7d39f23369a9d9bacfa530e26304231461b2eb05e2c39be9fcda6c19078c6a9d1b"},
    };
    return v;
}

TEST_P(Aes, PathInUse) {
    EXPECT_EQ(qb::aes::hardware_in_use(), !GetParam() && qb::aes::ni_available());
}

TEST_P(Aes, Fips197AppendixC) {
    const Bytes plain = hex("00112233445566778899aabbccddeeff");
    const struct {
        std::string key, cipher;
        unsigned char nr;
    } cases[] = {
        {"000102030405060708090a0b0c0d0e0f", "69c4e0d86a7b0430d8cdb78070b4c55a", 10},
        {"000102030405060708090a0b0c0d0e0f1011121314151617", "dda97ca4864cdfe06eaf70a0ec0d7191", 12},
        {"000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f", "8ea2b7ca516745bfeafc49904b496089", 14},
    };
    for (const auto& c : cases) {
        const Bytes key = hex(c.key);
        const Schedule e = en(key), d = de(key);
        ASSERT_EQ(e.nr, c.nr);
        ASSERT_EQ(d.nr, c.nr);
        Bytes out(16), back(16);
        aes_encrypt(e.rk, &e.nr, plain.data(), out.data());
        EXPECT_EQ(to_hex(out), c.cipher) << c.key.size() * 4 << " bits";
        aes_decrypt(d.rk, &d.nr, out.data(), back.data());
        EXPECT_EQ(back, plain);
        // The one-block ECB entry: any non-zero mode decrypts.
        Bytes via_ecb(16);
        aes_crypt_ecb(ENCRYPT, e.rk, &e.nr, const_cast<unsigned char*>(plain.data()), via_ecb.data());
        EXPECT_EQ(via_ecb, out);
        aes_crypt_ecb(7, d.rk, &d.nr, via_ecb.data(), via_ecb.data());  // in place
        EXPECT_EQ(via_ecb, plain);
    }
    // FIPS-197 A.1: the last round key of the 128-bit expansion, w[40..43] = d014f9a8 c9ee2589 e13f0cc8 b6630ca6.
    const Schedule e = en(hex("2b7e151628aed2a6abf7158809cf4f3c"));
    EXPECT_EQ(e.rk[40], 0xa8f914d0u);
    EXPECT_EQ(e.rk[43], 0xa60c63b6u);
}

TEST_P(Aes, Sp800_38aEcbAndCbc) {
    const Bytes plain = hex(kSpPlain);
    const Bytes iv0 = hex("000102030405060708090a0b0c0d0e0f");
    for (const auto& v : sp800_38a()) {
        SCOPED_TRACE(v.name);
        const Bytes key = hex(v.key);
        const Schedule e = en(key), d = de(key);
        Bytes out(plain.size());
        for (size_t b = 0; b < 4; ++b) aes_encrypt(e.rk, &e.nr, plain.data() + 16 * b, out.data() + 16 * b);
        EXPECT_EQ(to_hex(out), v.ecb);

        // CBC in two calls of two blocks: the IV carries the chain.
        Bytes iv = iv0, cbc(plain.size());
        aes_crypt_cbc(ENCRYPT, 32, iv.data(), e.rk, &e.nr, const_cast<unsigned char*>(plain.data()), cbc.data());
        EXPECT_EQ(iv, Bytes(cbc.begin() + 16, cbc.begin() + 32));
        aes_crypt_cbc(ENCRYPT, 32, iv.data(), e.rk, &e.nr, const_cast<unsigned char*>(plain.data()) + 32, cbc.data() + 32);
        EXPECT_EQ(to_hex(cbc), v.cbc);
        EXPECT_EQ(iv, Bytes(cbc.end() - 16, cbc.end()));

        // Decryption in place, in one call.
        iv = iv0;
        aes_crypt_cbc(DECRYPT, static_cast<unsigned>(cbc.size()), iv.data(), d.rk, &d.nr, cbc.data(), cbc.data());
        EXPECT_EQ(cbc, plain);
        EXPECT_EQ(to_hex(iv), v.cbc.substr(v.cbc.size() - 32));
    }
    // The AES-128 ECB helpers.
    const Bytes key = hex(sp800_38a()[0].key);
    Bytes out(plain.size()), back(plain.size());
    ASSERT_EQ(aes_encrypt_ecb(key.data(), 16, const_cast<unsigned char*>(plain.data()), out.data(), 4), 0);
    EXPECT_EQ(to_hex(out), sp800_38a()[0].ecb);
    ASSERT_EQ(aes_decrypt_ecb(key.data(), 16, out.data(), back.data(), 4), 0);
    EXPECT_EQ(back, plain);
}

TEST_P(Aes, LongRunsMatchBlockByBlock) {
    // 37 blocks: batches of eight on the instruction path plus a remainder.
    const Bytes data = random_bytes(37 * 16, 11), key = random_bytes(32, 12);
    for (unsigned bits : {128u, 192u, 256u}) {
        const Bytes k(key.begin(), key.begin() + bits / 8);
        const Schedule e = en(k), d = de(k);
        Bytes one_by_one(data.size()), iv(16, 0x5a), chained(data.size());
        Bytes prev = iv;
        for (size_t b = 0; b < 37; ++b) {
            unsigned char x[16];
            for (int i = 0; i < 16; ++i) x[i] = data[16 * b + i] ^ prev[i];
            aes_encrypt(e.rk, &e.nr, x, one_by_one.data() + 16 * b);
            prev.assign(one_by_one.begin() + 16 * b, one_by_one.begin() + 16 * b + 16);
        }
        aes_crypt_cbc(ENCRYPT, static_cast<unsigned>(data.size()), iv.data(), e.rk, &e.nr,
                      const_cast<unsigned char*>(data.data()), chained.data());
        EXPECT_EQ(chained, one_by_one) << bits;
        iv.assign(16, 0x5a);
        aes_crypt_cbc(DECRYPT, static_cast<unsigned>(data.size()), iv.data(), d.rk, &d.nr, chained.data(), chained.data());
        EXPECT_EQ(chained, data) << bits;
    }
    const Bytes k16(key.begin(), key.begin() + 16);
    Bytes ecb(data.size()), single(16);
    ASSERT_EQ(aes_encrypt_ecb(k16.data(), 16, const_cast<unsigned char*>(data.data()), ecb.data(), 37), 0);
    const Schedule e = en(k16);
    for (size_t b = 0; b < 37; b += 9) {
        aes_encrypt(e.rk, &e.nr, data.data() + 16 * b, single.data());
        EXPECT_EQ(Bytes(ecb.begin() + 16 * b, ecb.begin() + 16 * b + 16), single) << b;
    }
    ASSERT_EQ(aes_decrypt_ecb(k16.data(), 16, ecb.data(), ecb.data(), 37), 0);
    EXPECT_EQ(ecb, data);
}

TEST_P(Aes, RefusesBadKeysRoundCountsAndLengths) {
    const Bytes key = random_bytes(32, 21), block = random_bytes(16, 22);
    for (unsigned bits : {0u, 64u, 127u, 129u, 512u}) {
        Schedule s;
        s.rk[0] = 0x11223344;
        aes_key_en_schedule(key.data(), bits, s.rk, &s.nr);
        EXPECT_EQ(s.nr, 0) << bits;
        EXPECT_EQ(s.rk[0], 0x11223344u);
        s.nr = 0xEE;
        aes_key_de_schedule(key.data(), bits, s.rk, &s.nr);
        EXPECT_EQ(s.nr, 0) << bits;
    }
    // A garbage round count never reaches the round keys.
    Schedule good = en(Bytes(key.begin(), key.begin() + 16));
    for (unsigned char nr : {0, 9, 11, 13, 15, 200}) {
        Bytes out(16, 0xA5), iv(16, 1);
        aes_encrypt(good.rk, &nr, block.data(), out.data());
        aes_decrypt(good.rk, &nr, block.data(), out.data());
        aes_crypt_cbc(ENCRYPT, 16, iv.data(), good.rk, &nr, const_cast<unsigned char*>(block.data()), out.data());
        EXPECT_EQ(out, Bytes(16, 0xA5)) << int(nr);
        EXPECT_EQ(iv, Bytes(16, 1));
    }
    // A length that is not whole blocks does nothing at all.
    Bytes in = random_bytes(32, 23), out(32, 0), iv(16, 9);
    aes_crypt_cbc(ENCRYPT, 20, iv.data(), good.rk, &good.nr, in.data(), out.data());
    EXPECT_EQ(out, Bytes(32, 0));
    EXPECT_EQ(iv, Bytes(16, 9));
    // The ECB helpers take only 16-byte keys.
    EXPECT_EQ(aes_encrypt_ecb(key.data(), 24, in.data(), out.data(), 2), 1);
    EXPECT_EQ(aes_decrypt_ecb(key.data(), 32, in.data(), out.data(), 2), 1);
    EXPECT_EQ(out, Bytes(32, 0));
}

// The openssl command agrees byte for byte (one shell for all cases).
TEST_P(Aes, AgreesWithOpensslEnc) {
    qbtest::TempDir dir;
    const Bytes plain = random_bytes(4096, 31), key = random_bytes(32, 32), iv = random_bytes(16, 33);
    qbtest::write_file(dir.file("plain"), std::string(plain.begin(), plain.end()));
    const struct {
        const char* cipher;
        unsigned bits;
        bool cbc;
    } cases[] = {{"aes-128-ecb", 128, false}, {"aes-128-cbc", 128, true}, {"aes-192-cbc", 192, true},
                 {"aes-256-cbc", 256, true}, {"aes-256-ecb", 256, false}};
    std::string script = "set -e\ncd '" + dir.path() + "'\n";
    for (const auto& c : cases) {
        script += std::string("openssl enc -") + c.cipher + " -nopad -K " + to_hex(Bytes(key.begin(), key.begin() + c.bits / 8));
        if (c.cbc) script += " -iv " + to_hex(iv);
        script += std::string(" -in plain -out ") + c.cipher + "\n";
    }
    qbtest::write_file(dir.file("run.sh"), script);
    ASSERT_EQ(system(("sh '" + dir.file("run.sh") + "'").c_str()), 0) << "openssl enc failed or is missing";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.cipher);
        const std::string theirs = qbtest::read_file(dir.file(c.cipher));
        const Bytes k(key.begin(), key.begin() + c.bits / 8);
        const Schedule e = en(k);
        Bytes ours(plain.size()), ivc = iv;
        if (c.cbc) {
            aes_crypt_cbc(ENCRYPT, static_cast<unsigned>(plain.size()), ivc.data(), e.rk, &e.nr,
                          const_cast<unsigned char*>(plain.data()), ours.data());
        } else {
            for (size_t b = 0; b < plain.size(); b += 16) aes_crypt_ecb(ENCRYPT, e.rk, &e.nr, const_cast<unsigned char*>(plain.data()) + b, ours.data() + b);
        }
        EXPECT_EQ(std::string(ours.begin(), ours.end()), theirs);
    }
}

}  // namespace
