#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "sdk_logger.h"
#include "sdk_string.h"

namespace {

std::string replaced(const char* str, const char* sub, const char* rep) {
    char* r = sdk_str_replace(str, sub, rep);
    EXPECT_NE(r, nullptr);
    std::string s = r ? r : "<null>";
    free(r);
    return s;
}

std::string itoa(unsigned long long v, int radix) {
    char buf[66];
    memset(buf, 'x', sizeof buf);
    char* r = sdk_str_itoa(v, buf, radix);
    EXPECT_EQ(r, buf);
    return buf;
}

TEST(SdkStrReplace, ReplacesNonOverlappingMatchesLeftToRight) {
    EXPECT_EQ(replaced("aaa", "aa", "b"), "ba");
    EXPECT_EQ(replaced("aaaa", "aa", "b"), "bb");
    EXPECT_EQ(replaced("a.b.c", ".", "::"), "a::b::c");
    EXPECT_EQ(replaced("xyx", "x", ""), "y");
    EXPECT_EQ(replaced("abc", "abc", "longer text"), "longer text");
    // The replacement itself is not searched again.
    EXPECT_EQ(replaced("ab", "a", "aa"), "aab");
}

TEST(SdkStrReplace, NoMatchOrEmptySearchGivesACopy) {
    const char* src = "unchanged";
    char* r = sdk_str_replace(src, "zz", "y");
    ASSERT_NE(r, nullptr);
    EXPECT_NE(r, src);
    EXPECT_STREQ(r, src);
    free(r);
    EXPECT_EQ(replaced("abc", "", "y"), "abc");
    EXPECT_EQ(replaced("abc", nullptr, "y"), "abc");
    EXPECT_EQ(replaced("abc", "b", nullptr), "ac");
}

TEST(SdkStrItoa, FormatsInTheRequestedBase) {
    EXPECT_EQ(itoa(255, 16), "FF");
    EXPECT_EQ(itoa(0, 16), "0");
    EXPECT_EQ(itoa(0, -10), "0");
    EXPECT_EQ(itoa(1234567890, 10), "1234567890");
    EXPECT_EQ(itoa(8, 8), "10");
    EXPECT_EQ(itoa(5, 2), "101");
    EXPECT_EQ(itoa(35, 36), "Z");
    EXPECT_EQ(itoa(36 * 36 + 10, 36), "10A");
    EXPECT_EQ(itoa(UINT64_MAX, 36), "3W5E11264SGSF");
    EXPECT_EQ(itoa(UINT64_MAX, 16), "FFFFFFFFFFFFFFFF");
    EXPECT_EQ(itoa(UINT64_MAX, 2), std::string(64, '1'));
    EXPECT_EQ(itoa(100, 3), "10201");
}

TEST(SdkStrItoa, NegativeRadixReadsTheValueAsSigned) {
    const unsigned long long minus5 = static_cast<unsigned long long>(-5LL);
    EXPECT_EQ(itoa(minus5, -10), "-5");
    EXPECT_EQ(itoa(minus5, 10), "18446744073709551611");
    EXPECT_EQ(itoa(static_cast<unsigned long long>(LLONG_MIN), -10), "-9223372036854775808");
    EXPECT_EQ(itoa(static_cast<unsigned long long>(LLONG_MIN), -2), "-1" + std::string(63, '0'));
    EXPECT_EQ(itoa(42, -10), "42");
}

TEST(SdkStrItoa, UnservableRadixWritesEmptyText) {
    for (int radix : {0, 1, -1, 37, -37, INT_MIN, INT_MAX}) EXPECT_EQ(itoa(123, radix), "") << radix;
}

TEST(SdkItoa, BufferIsPerThread) {
    char* mine = sdk_itoa(-42);
    EXPECT_STREQ(mine, "-42");
    char* theirs = nullptr;
    std::thread t([&] {
        theirs = sdk_itoa(INT_MAX);
        EXPECT_STREQ(theirs, "2147483647");
    });
    t.join();
    EXPECT_NE(mine, theirs);
    EXPECT_STREQ(mine, "-42");  // the other thread did not overwrite it
    EXPECT_STREQ(sdk_itoa(INT_MIN), "-2147483648");
    EXPECT_EQ(sdk_itoa(0), mine);  // same thread: same buffer, overwritten
}

class CodeConvert : public ::testing::Test {
protected:
    void SetUp() override { sdk_set_log_level(SDK_LOG_LEVEL_DEBUG); }
};

TEST_F(CodeConvert, Utf8ToGbkAndBack) {
    char utf8[] = "\xE4\xB8\xAD\xE6\x96\x87";  // 中文
    char gbk[16];
    memset(gbk, 'x', sizeof gbk);
    char from[] = "UTF-8";
    char to[] = "GBK";
    ASSERT_EQ(sdk_code_convert(from, to, utf8, 6, gbk, sizeof gbk), 0);
    EXPECT_STREQ(gbk, "\xD6\xD0\xCE\xC4");  // followed by the zero fill

    char back[16];
    ASSERT_EQ(sdk_code_convert(to, from, gbk, 4, back, sizeof back), 0);
    EXPECT_STREQ(back, utf8);
}

TEST_F(CodeConvert, UnknownCharsetFails) {
    char in[] = "abc";
    char out[8];
    char bogus[] = "NO-SUCH-CHARSET";
    char utf8[] = "UTF-8";
    EXPECT_EQ(sdk_code_convert(bogus, utf8, in, 3, out, sizeof out), -1);
    EXPECT_EQ(sdk_code_convert(utf8, bogus, in, 3, out, sizeof out), -1);
}

TEST_F(CodeConvert, FailuresLogTheirCause) {
    char utf8[] = "UTF-8";
    char gbk[] = "GBK";
    char text[] = "\xE4\xB8\xAD\xE6\x96\x87";
    char small[3];
    testing::internal::CaptureStdout();
    EXPECT_EQ(sdk_code_convert(utf8, gbk, text, 6, small, sizeof small), -1);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("[SDK_STRING]"), std::string::npos);
    EXPECT_NE(out.find("Code Convert failed, errno=" + std::to_string(E2BIG) + "\n"), std::string::npos) << out;
    EXPECT_NE(out.find("There is not sufficient room at *outbuf.\n"), std::string::npos) << out;
    // What fitted before the failure stays.
    EXPECT_EQ(std::string(small, 2), "\xD6\xD0");

    char bad[] = "ab\xFF\xFE";
    char out_buf[16];
    testing::internal::CaptureStdout();
    EXPECT_EQ(sdk_code_convert(utf8, gbk, bad, 4, out_buf, sizeof out_buf), -1);
    out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("An invalid multibyte sequence has been encountered in the input.\n"), std::string::npos);
    char expect[96];
    snprintf(expect, sizeof expect, "Left to translate=2, current ptr=%x outbuffer left=14\n",
             static_cast<unsigned>(reinterpret_cast<uintptr_t>(bad + 2)));
    EXPECT_NE(out.find(expect), std::string::npos) << out;

    char cut[] = "a\xE4\xB8";  // the character's last byte is missing
    testing::internal::CaptureStdout();
    EXPECT_EQ(sdk_code_convert(utf8, gbk, cut, 3, out_buf, sizeof out_buf), -1);
    out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("An incomplete multibyte sequence has been encountered in the input.\n"), std::string::npos);
}

}  // namespace
