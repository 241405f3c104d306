#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base64.h"

namespace {

using Pair = std::pair<std::string, std::string>;

// Exact-size heap buffers, so ASan flags a read past the input's NUL or a write past the documented room;
// the output is prefilled, so a missing terminator shows in the result.
std::string decode(const std::string& text) {
    std::vector<char> in(text.c_str(), text.c_str() + text.size() + 1);
    std::vector<char> out(SDK_BASE64_DECODED_MAX(text.size()), 'x');
    EXPECT_EQ(sdk_base64_decode(in.data(), reinterpret_cast<unsigned char*>(out.data())), 0);
    return std::string(out.data(), strnlen(out.data(), out.size()));
}

std::string encode(const std::string& data) {
    std::vector<char> out(4 * ((strlen(data.c_str()) + 2) / 3) + 1, 'x');
    EXPECT_EQ(sdk_base64_encode(reinterpret_cast<const unsigned char*>(data.c_str()), out.data()), 0);
    return std::string(out.data(), strnlen(out.data(), out.size()));
}

TEST(Base64, Rfc4648VectorsBothWays) {
    const Pair rfc[] = {{"", ""}, {"f", "Zg=="}, {"fo", "Zm8="}, {"foo", "Zm9v"}, {"foob", "Zm9vYg=="}, {"a", "YQ=="},
                        {"fooba", "Zm9vYmE="}, {"foobar", "Zm9vYmFy"}, {"abc", "YWJj"}, {"ab", "YWI="}};
    for (const auto& [plain, coded] : rfc) {
        EXPECT_EQ(encode(plain), coded) << plain;
        EXPECT_EQ(decode(coded), plain) << coded;
    }
    EXPECT_EQ(encode(std::string("ab\0cd", 5)), "YWI=");  // the input is a C string
}

// Decoding stops at padding or at the first byte outside the alphabet; a short final group yields what it completes.
TEST(Base64, MalformedInputDecodesTheValidPrefix) {
    const Pair cases[] = {{"====", ""}, {"Y", ""}, {"YW", "a"}, {"YWJ", "ab"}, {"YWJjY", "abc"}, {"YWJj!ZGVm", "abc"},
                          {"YW!j", "a"}, {"Y!Jj", ""}, {"YQ==YWJj", "a"}, {"YQ=x", "a"}, {"\xC3\xA9YWJj", ""}};
    for (const auto& [text, want] : cases) EXPECT_EQ(decode(text), want) << text;
}

TEST(Base64, RandomTextsRoundTripAndCorruptedOnesStayInBounds) {
    std::mt19937 rng(12345);
    for (int round = 0; round < 1000; ++round) {
        std::string text(1 + rng() % 200, ' ');
        for (char& c : text) c = static_cast<char>(1 + rng() % 255);
        std::string coded = encode(text);
        ASSERT_EQ(decode(coded), text);
        coded[rng() % coded.size()] = static_cast<char>(1 + rng() % 255);
        decode(coded.substr(0, rng() % (coded.size() + 1)));  // checked by decode() and ASan
    }
}

}  // namespace
