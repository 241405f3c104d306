#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "codecs/sha256_internal.h"
#include "sdk_md5.h"
#include "sha256.h"
#include "support/test_support.h"

using namespace qbtest;
namespace sha = qb::sha256;

namespace {

std::string hex(const unsigned char* d, size_t n) {
    static const char digits[] = "0123456789abcdef";
    std::string s;
    for (size_t i = 0; i < n; ++i) s += {digits[d[i] >> 4], digits[d[i] & 15]};
    return s;
}

unsigned char* bytes(const std::string& s) { return reinterpret_cast<unsigned char*>(const_cast<char*>(s.data())); }

// Feeds data in pieces of `step` bytes (0: one call).
std::string md5_of(const std::string& data, size_t step = 0) {
    MD5_CTX ctx;
    MD5Init(&ctx);
    if (step == 0) step = data.size() + 1;
    for (size_t i = 0; i < data.size(); i += step)
        MD5Update(&ctx, bytes(data) + i, static_cast<unsigned>(std::min(step, data.size() - i)));
    unsigned char d[16];
    MD5Final(d, &ctx);
    return hex(d, 16);
}

std::string sha256_of(const std::string& data, size_t step = 0) {
    sha256_context ctx;
    ext_sha256_init(&ctx);
    if (step == 0) step = data.size() + 1;
    for (size_t i = 0; i < data.size(); i += step)
        ext_sha256_hash(&ctx, bytes(data) + i, static_cast<uint32_t>(std::min(step, data.size() - i)));
    uint8_t d[32];
    ext_sha256_done(&ctx, d);
    return hex(d, 32);
}

// First word of a coreutils digest tool's output for a file.
std::string tool_digest(const std::string& tool, const std::string& file) {
    std::string cmd = tool + " '" + file + "'";
    FILE* p = popen(cmd.c_str(), "r");
    if (!p) return "popen failed";
    char line[256] = {};
    bool got = fgets(line, sizeof line, p) != nullptr;
    int rc = pclose(p);
    if (!got || rc != 0) return tool + " failed";
    return std::string(line).substr(0, std::string(line).find(' '));
}

std::string random_bytes(size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::string s(n, '\0');
    for (auto& c : s) c = static_cast<char>(rng());
    return s;
}

// Every SHA-256 block function this machine can run; both when it has SHA extensions.
std::vector<std::pair<const char*, sha::Impl>> sha_paths() {
    std::vector<std::pair<const char*, sha::Impl>> v{{"portable", sha::Impl::portable}};
    if (sha::blocks_sha_ext()) v.push_back({"sha_ext", sha::Impl::sha_ext});
    return v;
}

struct ShaPathReset {
    ~ShaPathReset() { sha::select(sha::Impl::automatic); }
};

const std::string kMillionA(1000000, 'a');

}  // namespace

TEST(Md5, Rfc1321Suite) {
    const std::pair<std::string, std::string> cases[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "d174ab98d277d9f5a5611c2c9f419d9f"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
    };
    for (const auto& [text, want] : cases) {
        unsigned char d[16];
        SDK_MD5String(mut(text.c_str()), d);
        EXPECT_EQ(hex(d, 16), want) << '"' << text << '"';
        for (size_t step : {1, 3, 7, 64}) EXPECT_EQ(md5_of(text, step), want) << step;
        MD5_CTX ctx;
        MD5Init(&ctx);
        MD5UpdaterString(&ctx, text.c_str());
        MD5Final(d, &ctx);
        EXPECT_EQ(hex(d, 16), want);
        // Final clears the context so no digest state lingers.
        EXPECT_EQ(ctx.state[0] | ctx.state[1] | ctx.count[0] | ctx.buffer[0], 0u);
    }
}

TEST(Sha256, Fips180Vectors) {
    ShaPathReset reset;
    const std::pair<std::string, std::string> cases[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {"abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrsmnopqrstnopq"
         "rstu",
         "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
        {kMillionA, "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    for (const auto& [name, impl] : sha_paths()) {
        ASSERT_TRUE(sha::select(impl)) << name;
        for (const auto& [text, want] : cases) {
            for (size_t step : {0, 1, 5, 63, 64, 65}) {
                if (step == 1 && text.size() > 1000) continue;  // a million one-byte calls add nothing
                EXPECT_EQ(sha256_of(text, step), want) << name << " len " << text.size() << " step " << step;
            }
        }
        // "a" then "bc" is "abc".
        sha256_context ctx;
        ext_sha256_init(&ctx);
        ext_sha256_hash(&ctx, bytes("a"), 1);
        ext_sha256_hash(&ctx, bytes("bc"), 2);
        uint8_t d[32];
        ext_sha256_done(&ctx, d);
        EXPECT_EQ(hex(d, 32), cases[1].second) << name;
        EXPECT_EQ(ctx.len[0], 3u);
        EXPECT_EQ(ctx.buf[0], 0u);  // the input block is cleared
    }
}

TEST(Digests, PaddingBoundariesAgreeWithCoreutils) {
    ShaPathReset reset;
    TempDir dir;
    for (size_t n : {55, 56, 57, 63, 64, 65, 119, 120, 127, 128, 129}) {
        std::string data = random_bytes(n, static_cast<unsigned>(n));
        std::string file = dir.file("b" + std::to_string(n));
        write_file(file, data);
        EXPECT_EQ(md5_of(data), tool_digest("md5sum", file)) << n;
        for (const auto& [name, impl] : sha_paths()) {
            ASSERT_TRUE(sha::select(impl));
            EXPECT_EQ(sha256_of(data), tool_digest("sha256sum", file)) << name << " " << n;
        }
    }
}

TEST(Sha256, PathsAgreeOnEveryLengthAndSplit) {
    ShaPathReset reset;
    const auto paths = sha_paths();
    if (paths.size() < 2) GTEST_SKIP() << "this CPU has no SHA extensions; the portable path is checked by the vectors";
    const std::string data = random_bytes(700, 99);
    for (size_t n = 0; n <= data.size(); n += 7) {
        std::string part = data.substr(0, n);
        sha::select(sha::Impl::portable);
        std::string want = sha256_of(part);
        sha::select(sha::Impl::sha_ext);
        EXPECT_EQ(sha256_of(part), want) << n;
        EXPECT_EQ(sha256_of(part, 1 + n % 70), want) << n;
    }
}

TEST(Md5, FilesChainAndReadErrorsFail) {
    TempDir dir;
    const std::string a = dir.file("a"), b = dir.file("b");
    write_file(a, "abc");
    write_file(b, std::string(3000, 'x'));  // spans several small reads in a naive reader

    unsigned char d[16], s[16];
    ASSERT_EQ(SDK_MD5File(mut(a.c_str()), d), 0);
    SDK_MD5String(mut("abc"), s);
    EXPECT_EQ(hex(d, 16), hex(s, 16));

    // Two files chained into one context digest their concatenation.
    MD5_CTX ctx;
    MD5Init(&ctx);
    ASSERT_EQ(MD5FileUpdateFile(&ctx, mut(a.c_str())), 0);
    ASSERT_EQ(MD5FileUpdateFile(&ctx, mut(b.c_str())), 0);
    MD5UpdaterString(&ctx, "tail");
    MD5Final(d, &ctx);
    EXPECT_EQ(hex(d, 16), md5_of("abc" + std::string(3000, 'x') + "tail"));

    // Missing file, and a directory (opens, then every read fails): -1 with
    // the digest and the context untouched.
    for (const std::string& bad : {dir.file("missing"), dir.path()}) {
        unsigned char untouched[16];
        memset(untouched, 0x5a, sizeof untouched);
        EXPECT_EQ(SDK_MD5File(mut(bad.c_str()), untouched), -1) << bad;
        EXPECT_EQ(hex(untouched, 16), "5a5a5a5a5a5a5a5a5a5a5a5a5a5a5a5a");
        MD5_CTX c;
        MD5Init(&c);
        MD5UpdaterString(&c, "ab");
        MD5_CTX before = c;
        EXPECT_EQ(MD5FileUpdateFile(&c, mut(bad.c_str())), -1) << bad;
        EXPECT_EQ(memcmp(&before, &c, sizeof c), 0) << bad;
    }
}

// A large input generated here, streamed to md5sum and sha256sum through pipes
// while our digests consume the same chunks. 1 GiB in optimised builds; the
// sanitizer and -O0 builds use 64 MiB to stay within the suite's time budget.
TEST(Digests, LargeStreamMatchesCoreutils) {
#if defined(__SANITIZE_ADDRESS__) || !defined(__OPTIMIZE__)
    constexpr size_t kTotal = size_t{64} << 20;
#else
    constexpr size_t kTotal = size_t{1} << 30;
#endif
    constexpr size_t kChunk = size_t{1} << 20;
    TempDir dir;
    const std::string md5_out = dir.file("md5"), sha_out = dir.file("sha");
    FILE* md5_pipe = popen(("md5sum >'" + md5_out + "'").c_str(), "w");
    FILE* sha_pipe = popen(("sha256sum >'" + sha_out + "'").c_str(), "w");
    ASSERT_TRUE(md5_pipe && sha_pipe);

    std::string chunk = random_bytes(kChunk, 1234);
    MD5_CTX m;
    MD5Init(&m);
    sha256_context s;
    ext_sha256_init(&s);
    for (size_t done = 0, i = 0; done < kTotal; done += kChunk, ++i) {
        memcpy(chunk.data(), &i, sizeof i);  // no two chunks alike
        // Odd split so calls straddle block boundaries.
        const size_t cut = 1 + i % 63;
        MD5Update(&m, bytes(chunk), cut);
        MD5Update(&m, bytes(chunk) + cut, static_cast<unsigned>(kChunk - cut));
        ext_sha256_hash(&s, bytes(chunk), cut);
        ext_sha256_hash(&s, bytes(chunk) + cut, static_cast<uint32_t>(kChunk - cut));
        ASSERT_EQ(fwrite(chunk.data(), 1, kChunk, md5_pipe), kChunk);
        ASSERT_EQ(fwrite(chunk.data(), 1, kChunk, sha_pipe), kChunk);
    }
    ASSERT_EQ(pclose(md5_pipe), 0);
    ASSERT_EQ(pclose(sha_pipe), 0);
    unsigned char md[16];
    uint8_t sd[32];
    MD5Final(md, &m);
    ext_sha256_done(&s, sd);
    EXPECT_EQ(hex(md, 16), read_file(md5_out).substr(0, 32));
    EXPECT_EQ(hex(sd, 32), read_file(sha_out).substr(0, 64));
}
