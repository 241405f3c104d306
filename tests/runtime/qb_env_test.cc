#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "base64.h"
#include "foundation/env_lock.h"
#include "foundation/parse_argv_internal.h"
#include "parse_argv.h"
#include "qb_env.h"
#include "sdk_logger.h"
#include "support/test_support.h"

extern char** environ;

namespace {

std::string b64(const std::string& text) {
    std::vector<char> out(4 * ((text.size() + 2) / 3) + 1);
    sdk_base64_encode(reinterpret_cast<const unsigned char*>(text.c_str()), out.data());
    return out.data();
}

// Owns a returned heap string.
std::string take(char* s) {
    std::string r = s ? s : "<null>";
    free(s);
    return r;
}

std::string env(const std::string& key) { return take(qb_get_env(const_cast<char*>(key.c_str()))); }
std::string env_real(const std::string& key) { return take(qb_get_env_real(const_cast<char*>(key.c_str()))); }

// Replaces the whole process environment with the given entries, in this
// order (setenv appends), and puts the original back afterwards. Each test
// also runs in a fresh working directory, so no stray qb_env.ini is read.
class QbEnv : public ::testing::Test {
protected:
    void SetUp() override {
        sdk_set_log_level(SDK_LOG_LEVEL_DEBUG);
        for (char** e = environ; e && *e; ++e) saved_.emplace_back(*e);
    }
    void TearDown() override {
        std::lock_guard<std::mutex> lock(qb::env_mutex());
        clearenv();
        for (const std::string& entry : saved_) {
            size_t eq = entry.find('=');
            if (eq != std::string::npos) setenv(entry.substr(0, eq).c_str(), entry.substr(eq + 1).c_str(), 1);
        }
    }
    void set_environment(const std::vector<std::pair<std::string, std::string>>& vars) {
        std::lock_guard<std::mutex> lock(qb::env_mutex());
        clearenv();
        for (const auto& [name, value] : vars) setenv(name.c_str(), value.c_str(), 1);
    }

    std::vector<std::string> saved_;
    qbtest::TempDir dir_;
    qbtest::ScopedChdir cd_{dir_.path()};
};

TEST_F(QbEnv, QbParamValuesLoseTheirDelimiters) {
    set_environment({{"QB_PARAM", b64("--mq-type 'redis' --stream-recv-queue 'q1' --node-id \"n-7\"")}});
    EXPECT_EQ(quorbit_valid(), 1);
    EXPECT_EQ(env("--stream-recv-queue"), "q1");
    EXPECT_EQ(env("--mq-type"), "redis");
    EXPECT_EQ(env("--node-id"), "n-7");
    EXPECT_EQ(env("--stream-send-queue"), "<null>");
    EXPECT_EQ(env("--Node-id"), "<null>");  // keys are case-sensitive
}

TEST_F(QbEnv, QbParamEdgeWords) {
    // A one-character value is all delimiter; a key that ends the line has no value.
    set_environment({{"QB_PARAM", b64("--mq-type ' --user-id\t\t'u1'   --app-id")}});
    EXPECT_EQ(quorbit_valid(), 1);
    EXPECT_EQ(env("--mq-type"), "");
    EXPECT_EQ(env("--user-id"), "u1");
    EXPECT_EQ(env("--app-id"), "<null>");
}

TEST_F(QbEnv, QbParamEndsAtTheFirstLineBreak) {
    set_environment({{"QB_PARAM", b64("--mq-type 'r' --user-id 'u'\n--node-id 'n1'")}});
    EXPECT_EQ(env("--user-id"), "u");
    EXPECT_EQ(env("--node-id"), "<null>");
    set_environment({{"QB_PARAM", b64("--mq-type 'r'\r--node-id 'n1'")}});
    EXPECT_EQ(env("--mq-type"), "r");
    EXPECT_EQ(env("--node-id"), "<null>");
}

TEST_F(QbEnv, DirectVariableCountsOnlyOnThePlatform) {
    set_environment({{"QB_MQ_REDIS_PORT", "6380"}});
    EXPECT_EQ(quorbit_valid(), 0);
    EXPECT_EQ(env_real("--mq-redis-port"), "6380");
    testing::internal::CaptureStdout();
    EXPECT_EQ(env("--mq-redis-port"), "<null>");  // stand-alone: read from the (missing) qb_env.ini
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("qb_env.ini"), std::string::npos) << out;

    // Even an empty QB_MQ_TYPE means the platform; direct values come back verbatim.
    set_environment({{"QB_MQ_REDIS_PORT", "'6380'"}, {"QB_MQ_TYPE", ""}});
    EXPECT_EQ(quorbit_valid(), 1);
    EXPECT_EQ(env("--mq-redis-port"), "'6380'");
    EXPECT_EQ(env("--mq-type"), "");
}

TEST_F(QbEnv, EarlierEnvironmentEntryWins) {
    const std::string param = b64("--mq-type 'redis' --node-id 'from-param'");
    set_environment({{"QB_PARAM", param}, {"QB_NODE_ID", "direct"}});
    EXPECT_EQ(env("--node-id"), "from-param");
    set_environment({{"QB_NODE_ID", "direct"}, {"QB_PARAM", param}});
    EXPECT_EQ(env("--node-id"), "direct");
}

TEST_F(QbEnv, EmptyOrJunkQbParamIsHarmless) {
    set_environment({{"QB_PARAM", ""}, {"QB_MQ_TYPE", "redis"}, {"QB_NODE_ID", "n"}});
    EXPECT_EQ(quorbit_valid(), 1);
    EXPECT_EQ(env("--node-id"), "n");
    set_environment({{"QB_PARAM", "%%%not base64"}, {"QB_MQ_TYPE", "redis"}});
    EXPECT_EQ(env("--node-id"), "<null>");
    set_environment({{"QB_PARAM", "Y"}, {"QB_MQ_TYPE", "redis"}});
    EXPECT_EQ(env("--node-id"), "<null>");
}

TEST_F(QbEnv, OverlongKeysAreRefused) {
    // "QB_" + key minus its dashes + "=" + NUL must fit 100 bytes: 97 characters at most.
    std::string longest = "--" + std::string(95, 'k');
    std::string var = "QB_" + std::string(95, 'K');
    set_environment({{"QB_MQ_TYPE", "r"}, {var, "fits"}});
    EXPECT_EQ(env(longest), "fits");
    EXPECT_EQ(env(longest + "k"), "<null>");
    EXPECT_EQ(env("--" + std::string(198, 'k')), "<null>");
    EXPECT_EQ(env_real(std::string(200, '-')), "<null>");
}

TEST_F(QbEnv, StandAloneReadsQbEnvIni) {
    set_environment({});
    qbtest::write_file("qb_env.ini", "[env]\n--storage-type=local\n--mq-type=redis\n");
    EXPECT_EQ(quorbit_valid(), 0);  // the ini never selects the platform
    EXPECT_EQ(env("--storage-type"), "local");
    testing::internal::CaptureStdout();
    EXPECT_EQ(env("--node-id"), "<null>");
    testing::internal::GetCapturedStdout();

    qbtest::write_file("qb_env.ini", "[other]\n--storage-type=local\n");
    testing::internal::CaptureStdout();
    EXPECT_EQ(env("--storage-type"), "<null>");
    testing::internal::GetCapturedStdout();
}

TEST_F(QbEnv, StandAloneWithoutIniFindsNothing) {
    set_environment({});
    testing::internal::CaptureStdout();
    EXPECT_EQ(take(qb_get_fake_env(const_cast<char*>("--storage-type"))), "<null>");
    EXPECT_EQ(env("--node-id"), "<null>");
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("qb_env.ini"), std::string::npos) << out;
}

TEST_F(QbEnv, LookupsHoldTheEnvironmentLock) {
    set_environment({{"QB_MQ_TYPE", "r"}, {"QB_NODE_ID", "n"}});
    std::atomic<bool> done{false};
    // Each new variable makes setenv reallocate environ; a reader walking it
    // without the lock reads the freed array (ASan reports it).
    std::thread writer([&] {
        for (int i = 0; i < 3000; ++i) {
            std::lock_guard<std::mutex> lock(qb::env_mutex());
            setenv(("QB_FILLER_" + std::to_string(i)).c_str(), "x", 1);
        }
        done = true;
    });
    int lookups = 0;
    while (!done || lookups == 0) {
        ASSERT_EQ(env_real("--node-id"), "n");
        ++lookups;
    }
    writer.join();
}

TEST(StrStransform, MapsDashesAndLowerCaseOnly) {
    char text[] = "mq-type9";
    str_stransform(text);
    EXPECT_STREQ(text, "MQ_TYPE9");
    char other[] = "A_b-C.1\xE9z";
    str_stransform(other);
    EXPECT_STREQ(other, "A_B_C.1\xE9Z");
}

TEST(ParseArgv, SplitsAtBlanksAndTabs) {
    char line[] = "  one\ttwo   three ";
    char* argv[8];
    int argc = -1;
    ASSERT_EQ(parse_argv(line, &argc, argv, 8), 0);
    ASSERT_EQ(argc, 3);
    EXPECT_STREQ(argv[0], "one");
    EXPECT_STREQ(argv[1], "two");
    EXPECT_STREQ(argv[2], "three");

    char empty[] = "";
    ASSERT_EQ(parse_argv(empty, &argc, argv, 8), 0);
    EXPECT_EQ(argc, 0);
}

TEST(ParseArgv, WordLimitLeavesTheRestInTheLastWord) {
    char line[] = "alpha beta gamma delta";
    char* argv[2];
    int argc = 0;
    ASSERT_EQ(parse_argv(line, &argc, argv, 2), 0);
    ASSERT_EQ(argc, 2);
    EXPECT_STREQ(argv[0], "alpha");
    EXPECT_STREQ(argv[1], "beta gamma delta");
}

TEST(ParseArgv, LineBreakEndsTheScan) {
    char line[] = "a b\nc d";
    char* argv[8];
    int argc = 0;
    ASSERT_EQ(parse_argv(line, &argc, argv, 8), 0);
    EXPECT_EQ(argc, 2);
    EXPECT_STREQ(argv[1], "b");
}

TEST(ParseArgv, NullCountOrVectorIsRefused) {
    char line[] = "a b";
    char* argv[4];
    int argc = 0;
    EXPECT_EQ(parse_argv(line, nullptr, argv, 4), -1);
    EXPECT_EQ(parse_argv(line, &argc, nullptr, 4), -1);
    EXPECT_STREQ(line, "a b");  // nothing was split
}

TEST(ParseArgs, ReturnsTheWordAfterTheFirstMatchWithASuccessor) {
    char line[] = "--a 1 --b 2 --a 3";
    EXPECT_STREQ(parse_args(line, const_cast<char*>("--a")), "1");
    char line2[] = "--x 1 --b";
    EXPECT_EQ(parse_args(line2, const_cast<char*>("--b")), nullptr);
    char line3[] = "--x 1 --y 2";
    EXPECT_EQ(parse_args(line3, const_cast<char*>("--z")), nullptr);
    // Values are words too: "--a"'s value may itself be a key.
    char line4[] = "--a --b --b v";
    EXPECT_STREQ(parse_args(line4, const_cast<char*>("--b")), "--b");
}

TEST(ParseArgs, SeesOnlyTheFirstThousandWords) {
    std::string text;
    for (int i = 0; i < 999; ++i) text += "w ";
    text += "--key value";  // "--key" is word 1000: "--key value" stays one word
    std::vector<char> buf(text.begin(), text.end());
    buf.push_back('\0');
    EXPECT_EQ(parse_args(buf.data(), const_cast<char*>("--key")), nullptr);
}

}  // namespace
