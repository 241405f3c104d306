#include <atomic>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "sdk_logger.h"

namespace {

const std::string kStamp = R"(\[\d{4}/\d{2}/\d{2} \d{2}:\d{2}:\d{2}:\d{6}\])";

std::string capture(const std::function<void()>& body) {
    testing::internal::CaptureStdout();
    body();
    return testing::internal::GetCapturedStdout();
}

std::vector<std::string> split_lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

std::string take_ring() {
    char* text = sdk_get_log_buffer();
    std::string copy = text ? text : "<null>";
    free(text);
    return copy;
}

// Every test leaves the threshold as it found it and the ring switched off.
class Logger : public testing::Test {
protected:
    void SetUp() override { saved_level_ = sdk_get_log_level(); }
    void TearDown() override {
        sdk_set_log_level(saved_level_);
        capture([] { sdk_set_log_buffer(0, 0); });
    }
    int saved_level_ = 0;
};

TEST_F(Logger, InitialThresholdIsDebug) {
    // No test before this one changes the threshold without restoring it.
    EXPECT_EQ(sdk_get_log_level(), SDK_LOG_LEVEL_DEBUG);
    int verbose_rc = 0, debug_rc = -1;
    std::string out = capture([&] {
        verbose_rc = LOGV("T", "hidden");
        debug_rc = LOGD("T", "shown");
    });
    EXPECT_EQ(verbose_rc, -1);
    EXPECT_EQ(debug_rc, 0);
    EXPECT_EQ(out.find("hidden"), std::string::npos);
    EXPECT_NE(out.find("shown\n"), std::string::npos);
}

TEST_F(Logger, PrefixPadsShortTagsAndKeepsLongOnesWhole) {
    std::string out = capture([] {
        LOGI("AB", "short %d", 1);
        LOGW("ABCDEFGHIJKL", "long");
    });
    auto lines = split_lines(out);
    ASSERT_EQ(lines.size(), 2u) << out;
    EXPECT_TRUE(std::regex_match(lines[0], std::regex(kStamp + R"(\[I\]\[AB      \]short 1)"))) << lines[0];
    EXPECT_TRUE(std::regex_match(lines[1], std::regex(kStamp + R"(\[W\]\[ABCDEFGHIJKL\]long)"))) << lines[1];
}

TEST_F(Logger, PrefixShowsTheLocalWallClock) {
    time_t before = time(nullptr);
    std::string out = capture([] { LOGI("T", "now"); });
    std::smatch m;
    ASSERT_TRUE(std::regex_search(out, m, std::regex(R"(\[(\d{4})/(\d{2})/(\d{2}) (\d{2}):(\d{2}):(\d{2}):\d{6}\])")));
    struct tm tm = {};
    tm.tm_year = std::stoi(m[1]) - 1900;
    tm.tm_mon = std::stoi(m[2]) - 1;
    tm.tm_mday = std::stoi(m[3]);
    tm.tm_hour = std::stoi(m[4]);
    tm.tm_min = std::stoi(m[5]);
    tm.tm_sec = std::stoi(m[6]);
    tm.tm_isdst = -1;
    EXPECT_NEAR(static_cast<double>(mktime(&tm)), static_cast<double>(before), 5.0);
}

TEST_F(Logger, ErrorClassMessagesAreRedButPrefixIsNot) {
    std::string out = capture([] {
        LOGE("NET", "bad %s", "peer");
        LOGF("NET", "dead");
        LOGW("NET", "plain");
    });
    auto lines = split_lines(out);
    ASSERT_EQ(lines.size(), 3u) << out;
    // The reset follows the message's own newline, so it opens the next line.
    EXPECT_TRUE(std::regex_match(lines[0], std::regex(kStamp + "\\[E\\]\\[NET     \\]\x1B\\[31mbad peer")))
        << lines[0];
    EXPECT_TRUE(std::regex_match(lines[1], std::regex("\x1B\\[0m" + kStamp + "\\[F\\]\\[NET     \\]\x1B\\[31mdead")))
        << lines[1];
    EXPECT_TRUE(std::regex_match(lines[2], std::regex("\x1B\\[0m" + kStamp + "\\[W\\]\\[NET     \\]plain")))
        << lines[2];
}

TEST_F(Logger, NullTagPrintsTheBareMessage) {
    std::string out = capture([] {
        sdk_log_func(nullptr, SDK_LOG_LEVEL_INFO, "bare\n");
        sdk_log_func(nullptr, SDK_LOG_LEVEL_ERROR, "red");
    });
    EXPECT_EQ(out, "bare\n\x1B[31mred\x1B[0m");
}

TEST_F(Logger, ThresholdZeroLetsOnlyLevelZeroThrough) {
    sdk_set_log_level(SDK_LOG_LEVEL_NONE);
    int fatal_rc = 0, none_rc = -1;
    std::string out = capture([&] {
        fatal_rc = LOGF("T", "fatal");
        none_rc = sdk_log_func("T", SDK_LOG_LEVEL_NONE, "none\n");
    });
    EXPECT_EQ(fatal_rc, -1);
    EXPECT_EQ(none_rc, 0);
    EXPECT_TRUE(std::regex_match(out, std::regex(kStamp + "\\[U\\]\\[T       \\]\x1B\\[31mnone\n\x1B\\[0m"))) << out;
}

TEST_F(Logger, LevelsOutsideTheTableDoNotReadPastIt) {
    sdk_set_log_level(100);
    std::string out = capture([] {
        sdk_log_func("T", -7, "negative\n");
        sdk_log_func("T", 42, "high\n");
        sdk_log_func("T", 7, "seven\n");
    });
    auto lines = split_lines(out);
    ASSERT_EQ(lines.size(), 3u) << out;
    EXPECT_NE(lines[0].find("[?][T       ]\x1B[31mnegative"), std::string::npos) << lines[0];
    EXPECT_NE(lines[1].find("[?][T       ]high"), std::string::npos) << lines[1];
    // Levels 7 to 9 keep their NUL letter.
    EXPECT_NE(lines[2].find(std::string("[\0][T       ]seven", 17)), std::string::npos);
}

TEST_F(Logger, RingKeepsTheNewestLinesOldestFirst) {
    sdk_set_log_buffer(1, 3);
    capture([] {
        for (int i = 1; i <= 5; ++i) LOGI("RING", "line %d", i);
    });
    std::string first = take_ring();
    auto lines = split_lines(first);
    ASSERT_EQ(lines.size(), 3u) << first;
    for (int i = 0; i < 3; ++i) {
        const std::regex shape(kStamp + "\\[I\\]\\[RING    \\]line " + std::to_string(i + 3));
        EXPECT_TRUE(std::regex_match(lines[i], shape)) << lines[i];
    }
    // Reading does not consume.
    EXPECT_EQ(take_ring(), first);

    EXPECT_EQ(sdk_clear_log_buffer(), 0);
    EXPECT_EQ(take_ring(), "");
    capture([] { LOGI("RING", "after clear"); });
    EXPECT_NE(take_ring().find("after clear\n"), std::string::npos);
}

TEST_F(Logger, RingStoresWhatPassesTheThresholdOnly) {
    sdk_set_log_buffer(1, 10);
    capture([] {
        LOGV("T", "filtered");
        sdk_log_func(nullptr, SDK_LOG_LEVEL_INFO, "untagged\n");
        LOGE("T", "kept");
    });
    std::string ring = take_ring();
    EXPECT_EQ(ring.find("filtered"), std::string::npos);
    EXPECT_EQ(ring.find("untagged"), std::string::npos);
    // The stored line carries no colour codes.
    EXPECT_TRUE(std::regex_match(ring, std::regex(kStamp + "\\[E\\]\\[T       \\]kept\n"))) << ring;
}

TEST_F(Logger, StoredMessageIsCutAt1023ButConsoleGetsItAll) {
    sdk_set_log_buffer(1, 2);
    const std::string body(2000, 'x');
    std::string out = capture([&] { LOGI("CUT", "%s", body.c_str()); });
    EXPECT_NE(out.find("[CUT     ]" + body + "\n"), std::string::npos);

    std::string ring = take_ring();
    const std::string head = ring.substr(0, 41);
    EXPECT_TRUE(std::regex_match(head, std::regex(kStamp + R"(\[I\]\[CUT     \])"))) << head;
    // 1023 characters of the message: the newline is among those cut off.
    EXPECT_EQ(ring.substr(41), std::string(1023, 'x'));
}

TEST_F(Logger, VeryLongTagIsBoundedInTheRingAndWholeOnConsole) {
    sdk_set_log_buffer(1, 2);
    const std::string tag(300, 'T');
    const std::string body(1000, 'm');
    std::string out = capture([&] { LOGI(tag.c_str(), "%s", body.c_str()); });
    EXPECT_NE(out.find("[" + tag + "]" + body + "\n"), std::string::npos);

    std::string ring = take_ring();
    EXPECT_EQ(ring.size(), 1151u);  // the 1152-byte line less its NUL
    EXPECT_EQ(ring.rfind("[", 0), 0u);
    EXPECT_NE(ring.find("[I][" + tag + "]mmm"), std::string::npos);

    // A tag longer than the console's stack buffer still prints whole.
    const std::string huge(5000, 'H');
    out = capture([&] { LOGI(huge.c_str(), "tail"); });
    EXPECT_NE(out.find("[I][" + huge + "]tail\n"), std::string::npos);
    EXPECT_EQ(take_ring().size(), 1151u * 2);
}

TEST_F(Logger, EnablingAndDisablingTwiceOnlyComplains) {
    sdk_set_log_buffer(1, 4);
    capture([] { LOGI("T", "keep me"); });
    std::string out = capture([] { sdk_set_log_buffer(1, 100); });
    EXPECT_NE(out.find("[E][LOGGER  ]\x1B[31mAlready Enabled\n\x1B[0m"), std::string::npos) << out;
    // The existing ring (and its size) is kept: 4 more lines push "keep me" out.
    std::string ring = take_ring();
    EXPECT_NE(ring.find("keep me"), std::string::npos);
    capture([] {
        for (int i = 0; i < 4; ++i) LOGI("T", "filler");
    });
    EXPECT_EQ(take_ring().find("keep me"), std::string::npos);

    capture([] { sdk_set_log_buffer(0, 0); });
    out = capture([] { sdk_set_log_buffer(0, 0); });
    EXPECT_NE(out.find("Already Disabled\n"), std::string::npos) << out;

    // Values other than 0 and 1 do nothing.
    out = capture([] { sdk_set_log_buffer(2, 4); });
    EXPECT_EQ(out, "");
    char* text = reinterpret_cast<char*>(1);
    capture([&] { text = sdk_get_log_buffer(); });
    EXPECT_EQ(text, nullptr);
}

TEST_F(Logger, DisabledRingRefusesWithItsOwnLines) {
    char* text = reinterpret_cast<char*>(1);
    int clear_rc = 0, input_rc = 0;
    std::string out = capture([&] {
        text = sdk_get_log_buffer();
        clear_rc = sdk_clear_log_buffer();
        input_rc = input_log_buffer(const_cast<char*>("x"));
    });
    EXPECT_EQ(text, nullptr);
    EXPECT_EQ(clear_rc, -1);
    EXPECT_EQ(input_rc, -1);
    EXPECT_NE(out.find("[LOGGER  ]\x1B[31mGet none log buffer\n"), std::string::npos) << out;
    EXPECT_NE(out.find("[LOGGER  ]\x1B[31mClear none log buffer\n"), std::string::npos) << out;
    EXPECT_NE(out.find("[LOGGER  ]\x1B[31mInput none log buffer\n"), std::string::npos) << out;

    // A size below one cannot create the ring.
    capture([] { sdk_set_log_buffer(1, 0); });
    capture([&] { text = sdk_get_log_buffer(); });
    EXPECT_EQ(text, nullptr);
}

TEST_F(Logger, RingLargerThan8192LinesKeepsOrder) {
    // 10000 pointers exceed what 16-bit ring offsets can address.
    constexpr int kLines = 10000;
    sdk_set_log_buffer(1, kLines);
    capture([] {
        for (int i = 0; i < kLines + 5; ++i) LOGI("B", "%d", i);
    });
    auto lines = split_lines(take_ring());
    ASSERT_EQ(lines.size(), static_cast<size_t>(kLines));
    std::regex shape(kStamp + R"(\[I\]\[B       \](\d+))");
    for (int i = 0; i < kLines; i += 997) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(lines[i], m, shape)) << lines[i];
        EXPECT_EQ(std::stoi(m[1]), i + 5);
    }
    EXPECT_NE(lines.back().find("]10004"), std::string::npos);
}

TEST_F(Logger, HexdumpRowsOfSixteen) {
    unsigned char bytes[17];
    for (int i = 0; i < 17; ++i) bytes[i] = static_cast<unsigned char>(i == 16 ? 0xff : i);
    const std::string header = R"(\[ *\d+\.\d{6}\]\[HEX\]\n)";
    std::string row0 = "0x0000: ";
    for (int i = 0; i < 16; ++i) {
        char cell[8];
        snprintf(cell, sizeof cell, "0x%02x ", i);
        row0 += cell;
    }

    int rc = -1;
    std::string full = capture([&] { rc = sdk_log_hexdump("HEX", reinterpret_cast<char*>(bytes), 16); });
    EXPECT_EQ(rc, 0);
    EXPECT_TRUE(std::regex_match(full, std::regex(header + row0 + "\n0x0010: \n"))) << full;

    // Not subject to the threshold, and bytes print unsigned.
    sdk_set_log_level(SDK_LOG_LEVEL_NONE);
    std::string odd = capture([&] { sdk_log_hexdump("HEX", reinterpret_cast<char*>(bytes), 17); });
    EXPECT_TRUE(std::regex_match(odd, std::regex(header + row0 + "\n0x0010: 0xff \n"))) << odd;

    std::string empty = capture([] { sdk_log_hexdump("HEX", nullptr, 0); });
    EXPECT_TRUE(std::regex_match(empty, std::regex(header + "0x0000: \n"))) << empty;
}

TEST_F(Logger, HexdumpIsNeverStored) {
    sdk_set_log_buffer(1, 4);
    char data[4] = {1, 2, 3, 4};
    capture([&] { sdk_log_hexdump("HEX", data, 4); });
    EXPECT_EQ(take_ring(), "");
}

TEST_F(Logger, ThreadsLogWhileTheRingIsSwitchedOnAndOff) {
    constexpr int kThreads = 4;
    std::atomic<bool> stop{false};
    std::atomic<long> logged{0};
    testing::internal::CaptureStdout();
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            while (!stop) {
                LOGI("WORKER", "thread %d says hello", t);
                logged.fetch_add(1);
            }
        });
    }
    while (logged < 100) std::this_thread::yield();  // workers are running
    for (int round = 0; round < 1000; ++round) {
        std::this_thread::yield();
        sdk_set_log_buffer(1, 1 + round % 7);
        if (round % 3 == 0) free(sdk_get_log_buffer());
        if (round % 5 == 0) sdk_clear_log_buffer();
        sdk_set_log_buffer(0, 0);
    }
    sdk_set_log_buffer(1, 16);
    const long base = logged;
    while (logged < base + 500) std::this_thread::yield();
    stop = true;
    for (auto& th : threads) th.join();
    testing::internal::GetCapturedStdout();

    auto lines = split_lines(take_ring());
    ASSERT_EQ(lines.size(), 16u);
    for (const auto& line : lines) EXPECT_NE(line.find("[WORKER  ]thread "), std::string::npos) << line;
}

}  // namespace
