#include <atomic>
#include <cstdlib>
#include <ctime>
#include <iomanip>
#include <regex>
#include <sstream>
#include <thread>
#include <vector>

#include "sdk_logger.h"
#include "support/test_support.h"

namespace {

using qbtest::capture_stdout;
using qbtest::count_of;
// Regex pieces: the time stamp, the prefix, and error-class text with its colour codes.
const std::string kStamp = R"(\[\d{4}/\d\d/\d\d \d\d:\d\d:\d\d:\d{6}\])";

std::string pre(std::string letter, std::string tag) { return kStamp + "\\[" + letter + "\\]\\[" + tag + "\\]"; }
std::string red(std::string text) { return "\x1B\\[31m" + text + "\x1B\\[0m"; }
bool matches(const std::string& text, const std::string& re) { return std::regex_match(text, std::regex(re)); }

std::string take_ring() { return qbtest::take_string(sdk_get_log_buffer()); }

// Every test leaves the threshold as it found it and the ring switched off.
struct Logger : testing::Test {
    void TearDown() override { capture_stdout([] { sdk_set_log_buffer(0, 0); }); }
    qbtest::LogLevel level_{sdk_get_log_level()};
};

TEST_F(Logger, ConsoleLinesShowLocalTimePaddedTagRedErrorTextAndPassTheThreshold) {
    std::string out = capture_stdout([] {
        EXPECT_EQ(LOGV("T", "hidden"), -1);  // the threshold starts at debug
        EXPECT_EQ(LOGD("AB", "short %d", 1), 0);
        LOGW("ABCDEFGHIJKL", "long");
        LOGE("NET", "bad %s", "it");
        LOGF("NET", "dead");
        sdk_log_func(nullptr, SDK_LOG_LEVEL_INFO, "bare\n");
        sdk_log_func(nullptr, SDK_LOG_LEVEL_ERROR, "red\n");
        sdk_set_log_level(SDK_LOG_LEVEL_NONE);
        EXPECT_EQ(LOGF("T", "fatal"), -1);
        EXPECT_EQ(sdk_log_func("T", SDK_LOG_LEVEL_NONE, "none\n"), 0);
        sdk_set_log_level(100);
        for (int level : {-7, 42, 7}) sdk_log_func("T", level, "%d\n", level);
    });
    // The reset follows the message's own newline; levels 7 to 9 keep their NUL letter.
    const std::string t = "T       ", n = "NET     ";
    EXPECT_PRED2(matches, out, pre("D", "AB      ") + "short 1\n" + pre("W", "ABCDEFGHIJKL") + "long\n" + pre("E", n) +
                 red("bad it\n") + pre("F", n) + red("dead\n") + "bare\n" + red("red\n") + pre("U", t) + red("none\n") +
                 pre("\\?", t) + red("-7\n") + pre("\\?", t) + "42\n" + pre({'\0'}, t) + "7\n");
    std::tm tm = {};
    std::istringstream(out) >> std::get_time(&tm, "[%Y/%m/%d %H:%M:%S");
    tm.tm_isdst = -1;
    EXPECT_NEAR(static_cast<double>(mktime(&tm)), static_cast<double>(time(nullptr)), 5.0) << out;
}

TEST_F(Logger, RingKeepsTheNewestStoredLinesOldestFirstAndBounded) {
    sdk_set_log_buffer(1, 10000);  // more pointers than 16-bit ring offsets can address
    capture_stdout([] {
        for (int i = 0; i < 10004; ++i) LOGI("B", "%d", i);
        LOGV("B", "filtered");
        sdk_log_func(nullptr, SDK_LOG_LEVEL_INFO, "untagged\n");
        LOGE("B", "%d", 10004);  // stored without colour
    });
    const std::string first = take_ring();
    std::string want;
    for (int i = 5; i < 10004; ++i) want += "@[I][B       ]" + std::to_string(i) + "\n";
    EXPECT_EQ(std::regex_replace(first, std::regex(kStamp), "@"), want + "@[E][B       ]10004\n");
    EXPECT_EQ(take_ring(), first);  // reading does not consume
    EXPECT_EQ(sdk_clear_log_buffer(), 0);  // the lines below are then all it holds

    // The huge tag outgrows any stack buffer of the console path.
    const std::string msg(2000, 'x'), tag(300, 'T'), huge(5000, 'H');
    auto out = capture_stdout([&] { for (auto t : {"CUT", tag.c_str(), huge.c_str()}) LOGI(t, "%s", msg.c_str()); });
    EXPECT_EQ(count_of(out, "]" + msg + "\n"), 3);
    for (const auto& t : {tag, huge}) EXPECT_EQ(count_of(out, "[I][" + t + "]" + msg + "\n"), 1) << t.size();
    // The message is cut at 1023 characters (its newline among those lost); a long tag fills the 1152-byte line.
    const std::string ring = take_ring();
    EXPECT_PRED2(matches, ring.substr(0, 41 + 1024), pre("I", "CUT     ") + std::string(1023, 'x') + "\\[");
    EXPECT_EQ(ring.size(), 41 + 1023 + 2 * 1151u);
    EXPECT_EQ(count_of(ring, "[I][" + tag + "]xxx"), 1);
}

TEST_F(Logger, EnablingOrDisablingTwiceOnlyComplainsAndADisabledRingRefuses) {
    sdk_set_log_buffer(1, 4);
    capture_stdout([] { LOGI("T", "keep me"); });
    std::string out = capture_stdout([] { sdk_set_log_buffer(1, 100); });
    EXPECT_EQ(count_of(out, "[E][LOGGER  ]\x1B[31mAlready Enabled\n\x1B[0m"), 1) << out;
    EXPECT_EQ(count_of(take_ring(), "keep me"), 1);
    out = capture_stdout([] { for (int i = 0; i < 2; ++i) sdk_set_log_buffer(0, 0); });
    EXPECT_EQ(count_of(out, "[E][LOGGER  ]\x1B[31mAlready Disabled\n"), 1) << out;
    out = capture_stdout([] {
        sdk_set_log_buffer(2, 4);  // does nothing
        sdk_set_log_buffer(1, 0);  // cannot create a ring
        EXPECT_EQ(sdk_get_log_buffer(), nullptr);
        EXPECT_EQ(sdk_clear_log_buffer(), -1);
        EXPECT_EQ(input_log_buffer(qbtest::mut("x")), -1);
    });
    for (std::string what : {"Get", "Clear", "Input"})
        EXPECT_EQ(count_of(out, "[LOGGER  ]\x1B[31m" + what + " none log buffer\n"), 1) << out;
}

TEST_F(Logger, HexdumpPrintsRowsOfSixteenUnfilteredAndUnstored) {
    sdk_set_log_buffer(1, 4);
    sdk_set_log_level(SDK_LOG_LEVEL_NONE);
    std::string bytes("\0\1\2\3\4\5\6\7\10\11\12\13\14\15\16\17\377", 17);
    const std::string head = R"(\[ *\d+\.\d{6}\]\[HEX\]\n)";
    std::string row0 = "0x0000: 0x00 0x01 0x02 0x03 0x04 0x05 0x06 0x07 0x08 0x09 0x0a 0x0b 0x0c 0x0d 0x0e 0x0f \n";
    // Bytes print unsigned; a full last row is followed by an empty row header.
    for (auto [len, rows] : {std::pair{16, row0 + "0x0010: \n"}, {17, row0 + "0x0010: 0xff \n"}, {0, "0x0000: \n"}})
        EXPECT_PRED2(matches, capture_stdout([&] { sdk_log_hexdump("HEX", bytes.data(), len); }), head + rows);
    EXPECT_EQ(take_ring(), "");
}

TEST_F(Logger, ThreadsLogWhileTheRingIsSwitchedOnAndOff) {
    std::atomic<long> logged{0};
    capture_stdout([&] {
        std::vector<std::jthread> workers;  // stopped and joined when the capture ends
        for (int t = 0; t < 4; ++t)
            workers.emplace_back([&](auto s) { for (; !s.stop_requested(); ++logged) LOGI("WORKER", "hello"); });
        while (logged < 100) std::this_thread::yield();
        for (int round = 0; round < 1000; ++round, sdk_set_log_buffer(0, 0)) {
            sdk_set_log_buffer(1, 1 + round % 7);
            if (round % 3 == 0) free(sdk_get_log_buffer());
            if (round % 5 == 0) sdk_clear_log_buffer();
        }
        sdk_set_log_buffer(1, 16);
        for (const long base = logged; logged < base + 500;) std::this_thread::yield();
    });
    EXPECT_EQ(count_of(take_ring(), "[I][WORKER  ]hello\n"), 16);
}

}  // namespace
