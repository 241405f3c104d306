#include <climits>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "http_client.h"
#include "sdk_logger.h"
#include "support/http_peer.h"
#include "support/netns.h"
#include "support/redis_server.h"
#include "support/test_support.h"

using qbtest::mut;

namespace {
const char* kLocal = "http://127.0.0.1";
const auto take = qbtest::take_string;

TEST(HttpClient, PostsExactlyTheJsonRequestAndReturnsTheBody) {
    qbtest::PythonHttpServer peer;
    ASSERT_GT(peer.port(), 0) << peer.output();
    qbtest::LogLevel verbose(SDK_LOG_LEVEL_VERBOSE);
    std::string answer;
    std::string log = qbtest::capture_stdout(
        [&] { answer = take(SDK_HTTP_Client_Post(mut(kLocal), peer.port(), mut("/rpc/invoke?x=1"), mut("{\"a\":\"b\"}"))); });
    EXPECT_EQ(answer, "ok:{\"a\":\"b\"}");
    EXPECT_NE(log.find("CURL Target:http://127.0.0.1:" + std::to_string(peer.port()) + "/rpc/invoke?x=1\n"), std::string::npos);
    EXPECT_NE(log.find("CURL Data:{\"a\":\"b\"}\n"), std::string::npos);

    auto seen = peer.requests();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].method, "POST");
    EXPECT_EQ(seen[0].path, "/rpc/invoke?x=1");
    EXPECT_EQ(seen[0].body, "{\"a\":\"b\"}");
    std::vector<std::pair<std::string, std::string>> expected = {
        {"Host", "127.0.0.1:" + std::to_string(peer.port())},
        {"User-Agent", "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1; SV1; .NET CLR 1.1.4322; .NET CLR 2.0.5"},
        {"Accept", "application/json"},
        {"Content-Type", "application/json"},
        {"charsets", "utf-8"},
        {"Content-Length", "9"}};
    EXPECT_EQ(seen[0].headers, expected);

    // A body large enough for curl's "Expect: 100-continue" still goes out at once, without it.
    std::string big(300000, 'j');
    EXPECT_EQ(take(SDK_HTTP_Client_Post(mut(kLocal), peer.port(), mut("/size/3"), big.data())), "012");
    seen = peer.requests();
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[1].length, big.size());
    for (const auto& h : seen[1].headers) EXPECT_NE(h.first, "Expect");
}

TEST(HttpClient, WholeAnswersCappedAnswersAndErrorStatuses) {
    qbtest::PythonHttpServer peer;
    ASSERT_GT(peer.port(), 0) << peer.output();
    std::string whole = take(SDK_HTTP_Client_Post(mut(kLocal), peer.port(), mut("/big"), mut("{}")));
    EXPECT_EQ(whole, std::string(70000, 'x'));
    EXPECT_EQ(take(SDK_HTTP_Client_Post(mut(kLocal), peer.port(), mut("/status500"), mut("{}"))), "oops");
    // Nothing arrived: null, as for a failure.
    EXPECT_EQ(take(SDK_HTTP_Client_Post(mut(kLocal), peer.port(), mut("/size/0"), mut("{}"))), "<null>");

    char* capped = SDK_HTTP_Client_Post2(mut(kLocal), peer.port(), mut("/size/100"), mut("{}"), 16, 10);
    ASSERT_NE(capped, nullptr);
    EXPECT_EQ(std::string(capped, 16), std::string("012345678901234") + '\0');
    free(capped);
    EXPECT_EQ(take(SDK_HTTP_Client_Post2(mut(kLocal), peer.port(), mut("/size/5"), mut("{}"), 1, 10)), "");
    EXPECT_EQ(take(SDK_HTTP_Client_Post2(mut(kLocal), peer.port(), mut("/big"), mut("{}"), 0, 10)), "<null>");
    EXPECT_EQ(take(SDK_HTTP_Client_Post2(mut(kLocal), peer.port(), mut("/big"), mut("{}"), -5, 10)), "<null>");
    EXPECT_EQ(take(SDK_HTTP_Client_Post2(mut(kLocal), peer.port(), mut("/big"), mut("{}"), 16, -1)), "<null>");
    EXPECT_EQ(take(SDK_HTTP_Client_Post(nullptr, peer.port(), mut("/"), mut("{}"))), "<null>");
}

TEST(HttpClient, BrokenTransfersGiveNull) {
    qbtest::PythonHttpServer peer;
    ASSERT_GT(peer.port(), 0) << peer.output();
    qbtest::LogLevel verbose(SDK_LOG_LEVEL_VERBOSE);
    std::string log = qbtest::capture_stdout([&] {
        // Body cut off part way: no half answer is handed over.
        EXPECT_EQ(take(SDK_HTTP_Client_Post(mut(kLocal), peer.port(), mut("/cut"), mut("{}"))), "<null>");
        EXPECT_EQ(take(SDK_HTTP_Client_Post2(mut(kLocal), peer.port(), mut("/cut"), mut("{}"), 64, 10)), "<null>");
        EXPECT_EQ(take(SDK_HTTP_Client_Post2(mut(kLocal), peer.port(), mut("/slow"), mut("{}"), 64, 1)), "<null>");
        EXPECT_EQ(take(SDK_HTTP_Client_Post(mut(kLocal), qbtest::free_loopback_port(), mut("/"), mut("{}"))), "<null>");
    });
    EXPECT_EQ(qbtest::count_of(log, "Error: "), 4) << log;
}

TEST(HttpClient, ExtremePortsFitTheComposedUrl) {
    // 11 characters of port used to overrun the URL block; the port is refused by libcurl.
    for (int port : {INT_MIN, -1, 65536, INT_MAX})
        EXPECT_EQ(take(SDK_HTTP_Client_Post(mut(kLocal), port, mut("/p"), mut("{}"))), "<null>");
}

TEST(HttpClient, UnresolvableNameGivesNullWithoutLeavingTheMachine) {
    int rc = qbtest::run_in_private_netns([] {
        char* r = SDK_HTTP_Client_Post(mut("http://no-such-host.invalid"), 80, mut("/"), mut("{}"));
        char* r2 = SDK_HTTP_Client_Post2(mut("https://no-such-host.invalid"), 443, mut("/"), mut("{}"), 64, 5);
        return r == nullptr && r2 == nullptr ? 0 : 1;
    });
    ASSERT_NE(rc, 77) << "no private network namespace";
    EXPECT_EQ(rc, 0);
}

TEST(HttpClient, ThreadsPostAtTheSameTime) {
    qbtest::PythonHttpServer peer;
    ASSERT_GT(peer.port(), 0) << peer.output();
    std::vector<std::thread> threads;
    std::vector<int> ok(6, 0);
    for (int t = 0; t < 6; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 5; ++i) {
                std::string body = "{\"t\":" + std::to_string(t) + "}";
                char* r = t % 2 ? SDK_HTTP_Client_Post(mut(kLocal), peer.port(), mut("/"), body.data())
                                : SDK_HTTP_Client_Post2(mut(kLocal), peer.port(), mut("/"), body.data(), 256, 10);
                ok[t] += take(r) == "ok:" + body;
            }
        });
    }
    for (auto& th : threads) th.join();
    for (int t = 0; t < 6; ++t) EXPECT_EQ(ok[t], 5) << "thread " << t;
}

}  // namespace
