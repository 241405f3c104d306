#include <cerrno>
#include <climits>
#include <cstdlib>
#include <thread>

#include "sdk_string.h"
#include "support/test_support.h"

using namespace qbtest;

namespace {

TEST(SdkStrReplace, ReplacesNonOverlappingMatchesLeftToRightIntoAFreshString) {
    // The replacement is not searched again; no match, or an empty or null search, gives a copy.
    const char* cases[][4] = {{"aaa", "aa", "b", "ba"}, {"ab", "a", "aa", "aab"}, {"a.b", ".", "::", "a::b"},
                              {"ab", "zz", "y", "ab"}, {"ab", "", "y", "ab"}, {"ab", nullptr, "y", "ab"}};
    for (const auto& c : cases) {
        char* r = sdk_str_replace(c[0], c[1], c[2]);
        EXPECT_STREQ(r, c[3]) << c[0];
        free(r);  // ASan objects if this is not a fresh heap block
    }
}

TEST(SdkStrItoa, FormatsInTheRequestedBaseAndRefusesUnservableRadixes) {
    const unsigned long long minus5 = -5LL, min64 = 1ULL << 63;
    const struct { unsigned long long value; int radix; std::string want; } cases[] = {
        {255, 16, "FF"}, {0, -10, "0"}, {8, 8, "10"}, {100, 3, "10201"}, {ULLONG_MAX, 36, "3W5E11264SGSF"},
        {ULLONG_MAX, 2, std::string(64, '1')}, {min64, -2, "-1" + std::string(63, '0')}, {minus5, -10, "-5"},
        {minus5, 10, "18446744073709551611"}, {min64, -10, "-9223372036854775808"}, {42, -10, "42"},
        // A radix that cannot be served (division by zero, or no end) writes an empty text.
        {123, 0, ""}, {123, 1, ""}, {123, -1, ""}, {123, 37, ""}, {123, -37, ""}, {123, INT_MIN, ""}};
    for (const auto& c : cases) {
        std::string buf(66, 'x');
        EXPECT_EQ(sdk_str_itoa(c.value, buf.data(), c.radix), buf.data());
        EXPECT_EQ(std::string(buf.c_str()), c.want) << c.value << " radix " << c.radix;
    }
}

TEST(SdkItoa, BufferIsPerThread) {
    char* mine = sdk_itoa(-42);
    std::thread([] { EXPECT_STREQ(sdk_itoa(INT_MAX), "2147483647"); }).join();
    EXPECT_STREQ(mine, "-42");  // not overwritten by the other thread
    EXPECT_STREQ(sdk_itoa(INT_MIN), "-2147483648");
}

TEST(SdkCodeConvert, ConvertsBothWaysAndLogsWhyItFails) {
    char utf8[] = "\xE4\xB8\xAD\xE6\x96\x87", gbk[] = "xxxxxxxxxxxxxxx", back[16], tiny[3];
    ASSERT_EQ(sdk_code_convert(mut("UTF-8"), mut("GBK"), utf8, 6, gbk, sizeof gbk), 0);
    EXPECT_STREQ(gbk, "\xD6\xD0\xCE\xC4");  // followed by the zero fill
    ASSERT_EQ(sdk_code_convert(mut("GBK"), mut("UTF-8"), gbk, 4, back, sizeof back), 0);
    EXPECT_STREQ(back, utf8);
    EXPECT_EQ(sdk_code_convert(mut("NO-SUCH-CHARSET"), mut("UTF-8"), utf8, 6, back, sizeof back), -1);
    EXPECT_EQ(sdk_code_convert(mut("UTF-8"), mut("NO-SUCH-CHARSET"), utf8, 6, back, sizeof back), -1);
    auto out = capture_stdout([&] { EXPECT_EQ(sdk_code_convert(mut("UTF-8"), mut("GBK"), utf8, 6, tiny, 3), -1); });
    EXPECT_EQ(std::string(tiny, 2), "\xD6\xD0");  // what fitted stays
    EXPECT_NE(out.find("Code Convert failed, errno=" + std::to_string(E2BIG) + "\n"), std::string::npos) << out;
    EXPECT_NE(out.find("There is not sufficient room at *outbuf.\n"), std::string::npos) << out;
}

}  // namespace
