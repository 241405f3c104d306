#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base64.h"

namespace {

// Exact-size heap copies, so ASan flags any read past the NUL or write past
// the documented output size. Returns the whole output buffer.
std::vector<unsigned char> decode_buffer(const std::string& text) {
    char* in = static_cast<char*>(malloc(text.size() + 1));
    memcpy(in, text.c_str(), text.size() + 1);
    size_t room = SDK_BASE64_DECODED_MAX(strlen(in));
    auto* out = static_cast<unsigned char*>(malloc(room));
    memset(out, 0xAA, room);
    EXPECT_EQ(sdk_base64_decode(in, out), 0);
    std::vector<unsigned char> result(out, out + room);
    free(in);
    free(out);
    return result;
}

// For outputs without zero bytes: the bytes before the terminator.
std::string decode(const std::string& text) {
    std::vector<unsigned char> buf = decode_buffer(text);
    size_t n = 0;
    while (n < buf.size() && buf[n] != 0) ++n;
    EXPECT_LT(n, buf.size()) << "no terminator for " << text;
    return std::string(buf.begin(), buf.begin() + static_cast<long>(n));
}

std::string encode(const std::string& data) {
    size_t n = strlen(data.c_str());
    char* out = static_cast<char*>(malloc(4 * ((n + 2) / 3) + 1));
    EXPECT_EQ(sdk_base64_encode(reinterpret_cast<const unsigned char*>(data.c_str()), out), 0);
    std::string result(out);
    free(out);
    return result;
}

// Bit-by-bit reading of the documented rule: decode the longest prefix of
// alphabet characters, dropping leftover bits.
std::string reference_decode(const std::string& text) {
    static const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    unsigned acc = 0;
    int bits = 0;
    for (char c : text) {
        size_t v = alphabet.find(c);
        if (c == '\0' || v == std::string::npos) break;
        acc = (acc << 6) | static_cast<unsigned>(v);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out.push_back(static_cast<char>((acc >> bits) & 0xFF));
        }
    }
    return out;
}

TEST(Base64, Rfc4648Vectors) {
    const std::pair<const char*, const char*> vectors[] = {
        {"", ""},         {"f", "Zg=="},         {"fo", "Zm8="},        {"foo", "Zm9v"},
        {"foob", "Zm9vYg=="}, {"fooba", "Zm9vYmE="}, {"foobar", "Zm9vYmFy"},
    };
    for (const auto& [plain, coded] : vectors) {
        EXPECT_EQ(encode(plain), coded) << plain;
        EXPECT_EQ(decode(coded), plain) << coded;
    }
    EXPECT_EQ(decode("YWJj"), "abc");
    EXPECT_EQ(decode("YWI="), "ab");
    EXPECT_EQ(encode("abc"), "YWJj");
    EXPECT_EQ(encode("a"), "YQ==");
}

TEST(Base64, RandomTextsRoundTrip) {
    std::mt19937 rng(12345);
    for (int round = 0; round < 500; ++round) {
        std::string text(rng() % 200, ' ');
        for (char& c : text) c = static_cast<char>(1 + rng() % 255);
        std::string coded = encode(text);
        ASSERT_EQ(decode(coded), text) << coded;
    }
}

TEST(Base64, EncoderStopsAtTheFirstNul) {
    EXPECT_EQ(encode(std::string("ab\0cd", 5)), "YWI=");
}

TEST(Base64, MalformedInputDecodesTheValidPrefix) {
    EXPECT_EQ(decode("===="), "");
    EXPECT_EQ(decode("="), "");
    EXPECT_EQ(decode("Y"), "");          // one character completes no byte
    EXPECT_EQ(decode("YW"), "a");        // short final group
    EXPECT_EQ(decode("YWJ"), "ab");
    EXPECT_EQ(decode("YWJjY"), "abc");
    EXPECT_EQ(decode("YWJj!ZGVm"), "abc");  // junk ends the text
    EXPECT_EQ(decode("YW!j"), "a");
    EXPECT_EQ(decode("Y!Jj"), "");
    EXPECT_EQ(decode("YWJj ZGVm"), "abc");
    EXPECT_EQ(decode("YQ==YWJj"), "a");     // padding ends the text too
    EXPECT_EQ(decode("YQ=x"), "a");
    EXPECT_EQ(decode("YWJj\n"), "abc");
    EXPECT_EQ(decode("\xC3\xA9YWJj"), "");
}

TEST(Base64, RandomJunkFollowsTheDocumentedRule) {
    const std::string chars = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/=-_ \n\x80\xff";
    std::mt19937 rng(777);
    for (int round = 0; round < 2000; ++round) {
        std::string text(rng() % 24, ' ');
        for (char& c : text) c = rng() % 8 == 0 ? chars[rng() % chars.size()] : chars[rng() % 64];
        std::string want = reference_decode(text);
        std::vector<unsigned char> got = decode_buffer(text);
        ASSERT_GT(got.size(), want.size()) << text;
        ASSERT_EQ(std::string(got.begin(), got.begin() + static_cast<long>(want.size())), want) << text;
        ASSERT_EQ(got[want.size()], 0) << text;
    }
}

}  // namespace
