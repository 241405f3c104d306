#include <cstdlib>
#include <mutex>
#include <thread>
#include <vector>

#include "base64.h"
#include "foundation/env_lock.h"
#include "foundation/parse_argv_internal.h"
#include "parse_argv.h"
#include "qb_env.h"
#include "support/test_support.h"

using namespace qbtest;

namespace {

std::string b64(const std::string& text) {
    std::string out(4 * ((text.size() + 2) / 3) + 1, '\0');
    sdk_base64_encode(reinterpret_cast<const unsigned char*>(text.c_str()), out.data());
    return out.c_str();
}

std::string env(const std::string& key) { return take_string(qb_get_env(mut(key.c_str()))); }

// Each test sets the whole environment itself (in order: setenv appends to a cleared one; each test binary is its
// own process, so the original is not put back) and runs in a fresh directory, so no stray qb_env.ini is read.
class QbEnv : public ::testing::Test {
protected:
    void set_environment(const std::vector<std::string>& entries) {
        std::lock_guard<std::mutex> lock(qb::env_mutex());
        clearenv();
        for (auto& e : entries) setenv(e.substr(0, e.find('=')).c_str(), e.substr(e.find('=') + 1).c_str(), 1);
    }
    TempDir dir_;
    ScopedChdir cd_{dir_.path()};
};

TEST_F(QbEnv, QbParamValuesLoseOneDelimiterAtEachEndAndTheLineEndsAtABreak) {
    // A one-character value is all delimiter; a key that ends the line has no value; keys are case-sensitive.
    const std::pair<std::string, std::string> cases[] = {{"--stream-recv-queue", "q1"}, {"--mq-type", "redis"},
        {"--node-id", "n-7"}, {"--user-id", ""}, {"--app-id", "<null>"}, {"--x", "<null>"}, {"--Node-id", "<null>"}};
    const std::string line = "--mq-type 'redis' --stream-recv-queue 'q1'\t\t--node-id \"n-7\" --user-id ' --app-id";
    for (const char* brk : {"\n", "\r"}) {
        set_environment({"QB_PARAM=" + b64(line + brk + "--x 'x'")});
        EXPECT_EQ(quorbit_valid(), 1);
        for (const auto& [key, want] : cases) EXPECT_EQ(env(key), want) << key;
    }
}

TEST_F(QbEnv, DirectVariablesCountOnlyOnThePlatformAndOverlongKeysAreRefused) {
    set_environment({"QB_MQ_REDIS_PORT=6380"});
    capture_stdout([] { EXPECT_EQ(env("--mq-redis-port"), "<null>"); });  // stand-alone: looked up in qb_env.ini
    // Even an empty QB_MQ_TYPE means the platform; direct values keep their quotes.
    set_environment({"QB_MQ_REDIS_PORT='6380'", "QB_MQ_TYPE=", "QB_" + std::string(95, 'K') + "=fits",
                     "QB_" + std::string(96, 'K') + "=too-long"});
    EXPECT_EQ(quorbit_valid(), 1);
    EXPECT_EQ(env("--mq-redis-port"), "'6380'");
    // "QB_", the key without its dashes, "=" and a NUL fit the 100-byte name for keys of up to 97 characters.
    EXPECT_EQ(env("--" + std::string(95, 'k')), "fits");
    EXPECT_EQ(env("--" + std::string(96, 'k')), "<null>");
}

TEST_F(QbEnv, EarlierEnvironmentEntryWinsAndEmptyOrJunkQbParamIsSkipped) {
    const std::string param = "QB_PARAM=" + b64("--mq-type 'redis' --node-id 'from-param'");
    const std::string d = "QB_NODE_ID=direct", t = "QB_MQ_TYPE=r";
    const std::vector<std::string> environments[] = {
        {param, d}, {d, param}, {"QB_PARAM=", t, d}, {"QB_PARAM=%%%not base64", t, d}, {"QB_PARAM=Y", t, d}};
    for (const auto& entries : environments) {
        set_environment(entries);
        EXPECT_EQ(env("--node-id"), &entries == environments ? "from-param" : "direct") << entries[0];
    }
}

TEST_F(QbEnv, StandAloneReadsSectionEnvOfQbEnvIni) {
    set_environment({});
    // Without the file every look-up is null, and the configuration store logs its open failure.
    EXPECT_NE(capture_stdout([] { EXPECT_EQ(env("--node-id"), "<null>"); }).find("qb_env.ini"), std::string::npos);
    write_file("qb_env.ini", "[env]\n--storage-type=local\n--mq-type=redis\n");
    EXPECT_EQ(env("--storage-type"), "local");
    EXPECT_EQ(quorbit_valid(), 0);  // the file never selects the platform
}

TEST_F(QbEnv, LookupsHoldTheEnvironmentLock) {
    // clearenv frees environ and setenv builds a new one: a reader that walks it without the lock sees an empty
    // environment or freed memory (ASan).
    set_environment({"QB_MQ_TYPE=r", "QB_NODE_ID=n"});
    std::thread reader([] { for (int i = 0; i < 5000; ++i) EXPECT_EQ(env("--node-id"), "n"); });
    for (int i = 0; i < 5000; ++i) set_environment({"QB_MQ_TYPE=r", "QB_NODE_ID=n"});
    reader.join();
}

TEST(StrStransform, UpperCasesAsciiLettersAndTurnsDashesIntoUnderscores) {
    char text[] = "mq-type9 A_b-C.1\xE9z";
    str_stransform(text);
    EXPECT_STREQ(text, "MQ_TYPE9 A_B_C.1\xE9Z");
}

TEST(ArgumentLine, ParseArgvSplitsAtBlanksAndTabsUpToTheWordLimitAndParseArgsFindsTheValue) {
    char line[] = "  one\ttwo   three ", limited[] = "alpha beta gamma delta";
    char* argv[8];
    int argc = -1;
    EXPECT_EQ(parse_argv(line, nullptr, argv, 8), -1);
    EXPECT_EQ(parse_argv(line, &argc, nullptr, 8), -1);
    ASSERT_EQ(parse_argv(line, &argc, argv, 8), 0);
    EXPECT_EQ(std::vector<std::string>(argv, argv + argc), (std::vector<std::string>{"one", "two", "three"}));
    ASSERT_EQ(parse_argv(limited, &argc, argv, 2), 0);  // the last word runs on to the end
    EXPECT_EQ(std::vector<std::string>(argv, argv + argc), (std::vector<std::string>{"alpha", "beta gamma delta"}));

    // The value is the word after the first match that has one, among the first thousand words.
    const std::pair<std::string, const char*> cases[] = {
        {"--b 1 --c 2 --b 3", "1"}, {"--x 1 --b", nullptr}, {"--a --b --b v", "--b"}, {"--x 1 --y 2", nullptr}};
    for (auto [text, want] : cases) EXPECT_STREQ(parse_args(text.data(), mut("--b")), want) << text;
    std::string words;
    for (int i = 0; i < 999; ++i) words += "w ";
    words += "--b value";  // "--b" is word 1000, so nothing follows it
    EXPECT_EQ(parse_args(words.data(), mut("--b")), nullptr);
}

}  // namespace
