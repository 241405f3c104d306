// Delivery guarantees of the platform queue against a real redis-server, with
// the component in a process of its own that the tests kill: this binary,
// started again with QB_TEST_COMPONENT set, is that component.
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <memory>
#include <thread>

#include "qb_mq.h"
#include "sdk_logger.h"
#include "support/peer_process.h"
#include "support/redis_server.h"
#include "support/test_support.h"

namespace {
using namespace std::chrono_literals;
using qbtest::mut;

// The component: echoes each request on out1 and prints what it saw. The data
// "die" kills it inside the callback; "hang" keeps it there when QB_TEST_HANG is set.
void on_request(Qb_mq mq, char*, char* data, char* id, void*) {
    printf("CALLBACK %s %s\n", id, data);
    fflush(stdout);
    if (strcmp(data, "die") == 0) raise(SIGKILL);
    if (strcmp(data, "hang") == 0 && getenv("QB_TEST_HANG"))
        for (;;) pause();
    qb_mq_send(mq, mut("out1"), data, id);
    qb_mq_stats s{};
    qb_mq_get_stats(mq, &s);
    printf("STATS requests=%llu answers=%llu redeliveries=%llu dead_lettered=%llu\n", s.requests, s.answers,
           s.redeliveries, s.dead_lettered);
    fflush(stdout);
}

int component_main() {
    sdk_set_log_level(SDK_LOG_LEVEL_WARN);
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stop, nullptr);
    Qb_mq mq = qb_mq_init();
    if (!mq || qb_mq_register_callback(mq, on_request, nullptr) != 0) return 1;
    printf("READY\n");
    fflush(stdout);
    int sig = 0;
    sigwait(&stop, &sig);
    return qb_mq_deinit(mq) == 0 ? 0 : 1;
}

class Delivery : public ::testing::Test {
public:
    void SetUp() override { ASSERT_TRUE(server_.running()) << server_.error(); }

    std::unique_ptr<qbtest::PeerProcess> start(const std::string& node, const std::string& mode,
                                               std::vector<std::string> env = {}, bool wait_ready = true) {
        env.insert(env.end(), {"QB_TEST_COMPONENT=1", "QB_MQ_TYPE=redis", "QB_MQ_REDIS_HOST=127.0.0.1",
                               "QB_MQ_REDIS_PORT=" + server_.port_text(), "QB_STREAM_RECV_QUEUE=" + recv_,
                               "QB_STREAM_SEND_QUEUE=" + send_, "QB_STREAM_NODE_ID=" + node, "QB_MQ_DELIVERY=" + mode});
        auto p = std::make_unique<qbtest::PeerProcess>(std::vector<std::string>{"/proc/self/exe"}, env);
        if (wait_ready) {
            EXPECT_TRUE(p->wait_for_output("READY")) << p->output();
        }
        return p;
    }
    void request(const std::string& id, const std::string& data) {
        ASSERT_TRUE(peer_.cmd({"XADD", recv_, "*", "id", id, "in1", data}));
    }
    // Request ids of the answers so far, in order.
    std::vector<std::string> answered() {
        std::vector<std::string> ids;
        for (const auto& fields : peer_.entries(send_)) ids.push_back(fields.at(3));
        return ids;
    }
    bool wait_answer(const std::string& id, int limit_ms = 15000) {
        return qbtest::eventually([&] { return std::ranges::count(answered(), id) > 0; }, limit_ms);
    }
    // conn: for threads other than the test's own (a connection serves one thread).
    long long pending(qbtest::RedisConn* conn = nullptr) {
        auto r = (conn ? conn : &peer_)->cmd({"XPENDING", recv_, "default"});
        return r && r->type == REDIS_REPLY_ARRAY ? r->element[0]->integer : -1;
    }

    // An answer is sent before its request is acknowledged, so the count can lag the answer briefly.
    bool nothing_pending() {
        return qbtest::eventually([&] { return pending() == 0; }, 5000);
    }

    qbtest::RedisServer server_;
    qbtest::RedisConn peer_{server_.port()};
    std::string recv_ = "k-recv", send_ = "k-send";
};

// SIGKILL while r1 is inside the callback, then a start with the same node id: the default mode has
// acknowledged r1 on read and never answers it; at-least-once answers it (before the next request).
TEST_F(Delivery, ComponentKilledInsideItsCallback) {
    for (const std::string mode : {"at-most-once", "at-least-once"}) {
        SCOPED_TRACE(mode);
        recv_ = mode + "-recv";
        send_ = mode + "-send";
        auto first = start("n1", mode, {"QB_TEST_HANG=1"});
        request("r1", "hang");
        ASSERT_TRUE(first->wait_for_output("CALLBACK r1 hang")) << first->output();
        first->kill();
        auto second = start("n1", mode);
        request("r2", "after");
        ASSERT_TRUE(wait_answer("r2")) << second->output();
        if (mode == "at-most-once") {
            EXPECT_EQ(answered(), std::vector<std::string>({"r2"}));
        } else {
            EXPECT_EQ(answered(), std::vector<std::string>({"r1", "r2"}));
            EXPECT_NE(second->output().find("redeliveries=1"), std::string::npos) << second->output();
        }
        EXPECT_TRUE(nothing_pending()) << pending();
        EXPECT_EQ(second->stop(), 0);
    }
}

// Two replicas in one group: the one holding r1 dies, the other claims r1 once it has been idle for
// --mq-claim-idle-ms and answers it, exactly once.
TEST_F(Delivery, SurvivingReplicaClaimsTheRequestOfADeadOne) {
    const std::vector<std::string> claim = {"QB_MQ_CLAIM_IDLE_MS=1000"};
    std::vector<std::string> hang = claim;
    hang.push_back("QB_TEST_HANG=1");
    auto doomed = start("n1", "at-least-once", hang);
    request("r1", "hang");
    ASSERT_TRUE(doomed->wait_for_output("CALLBACK r1 hang")) << doomed->output();
    auto survivor = start("n2", "at-least-once", claim);
    doomed->kill();
    ASSERT_TRUE(wait_answer("r1")) << survivor->output();
    request("r2", "next");
    ASSERT_TRUE(wait_answer("r2")) << survivor->output();
    EXPECT_EQ(answered(), std::vector<std::string>({"r1", "r2"}));
    EXPECT_EQ(qbtest::count_of(survivor->output(), "CALLBACK r1"), 1) << survivor->output();
    EXPECT_NE(survivor->output().find("redeliveries=1"), std::string::npos) << survivor->output();
    EXPECT_TRUE(nothing_pending()) << pending();
}

// A request that kills every process it reaches is delivered three times (--mq-max-deliveries 3), then moved
// to "<stream>-dead" with its fields and "deliveries", acknowledged, and the next request is served.
TEST_F(Delivery, PoisonRequestEndsInTheDeadLetterStream) {
    request("r1", "die");
    request("r2", "fine");
    std::string all;
    for (int starts = 0; starts < 6 && !wait_answer("r2", 0); ++starts) {
        auto p = start("n1", "at-least-once", {"QB_MQ_MAX_DELIVERIES=3"}, false);
        qbtest::eventually([&] { return !p->running() || wait_answer("r2", 0); });
        p->stop();
        all += p->output();
    }
    ASSERT_TRUE(wait_answer("r2", 0)) << all;
    EXPECT_EQ(qbtest::count_of(all, "CALLBACK r1 die"), 3) << all;
    EXPECT_NE(all.find("dead_lettered=1"), std::string::npos) << all;
    EXPECT_EQ(peer_.entries(recv_ + "-dead"),
              std::vector<std::vector<std::string>>({{"id", "r1", "in1", "die", "deliveries", "3"}}));
    EXPECT_TRUE(nothing_pending()) << pending();
}

// In-process: counters of answers, triggers, failures and callback times; the periodic counter line; and
// at-least-once acknowledging only after the callback has returned.
std::atomic<int> g_calls{0};
std::atomic<long long> g_pending_inside{-1};
TEST_F(Delivery, CountersAndAcknowledgementAfterTheCallback) {
    qbtest::QueueEnv env(server_.port(), recv_, send_, "n1");
    env.set("QB_MQ_DELIVERY", "at-least-once");
    env.set("QB_MQ_STATS_INTERVAL", "1");
    qbtest::LogLevel level(SDK_LOG_LEVEL_INFO);
    std::string log = qbtest::capture_stdout([&] {
        Qb_mq mq = qb_mq_init();
        qb_mq_register_callback(
            mq,
            [](Qb_mq q, char*, char* data, char* id, void* user) {
                std::this_thread::sleep_for(20ms);
                qb_mq_send(q, mut("out1"), data, id);
                if (g_calls++ > 0) return;
                auto* t = static_cast<Delivery*>(user);
                qbtest::RedisConn conn(t->server_.port());
                g_pending_inside = t->pending(&conn);
            },
            this);
        for (const char* id : {"r1", "r2", "r3"}) request(id, "x");
        ASSERT_TRUE(wait_answer("r3"));
        EXPECT_EQ(qb_mq_send(mq, mut("out1"), mut("t"), nullptr), 0);
        env.set("QB_STREAM_SEND_QUEUE", "not-a-stream");
        peer_.cmd({"SET", "not-a-stream", "x"});
        EXPECT_EQ(qb_mq_send(mq, mut("out1"), mut("x"), mut("r9")), -1);
        std::this_thread::sleep_for(1500ms);  // one periodic line
        qb_mq_stats s{};
        ASSERT_EQ(qb_mq_get_stats(mq, &s), 0);
        EXPECT_EQ(std::vector<unsigned long long>({s.requests, s.answers, s.triggers, s.send_failures,
                                                   s.reconnections, s.redeliveries, s.dead_lettered}),
                  std::vector<unsigned long long>({3, 3, 1, 1, 0, 0, 0}));
        EXPECT_TRUE(s.callback_p50_us >= 20000 && s.callback_p99_us >= s.callback_p50_us);
        EXPECT_EQ(qb_mq_get_stats(mq, nullptr), -1);
        EXPECT_EQ(qb_mq_deinit(mq), 0);
    });
    EXPECT_EQ(g_pending_inside, 1);  // r1 still pending while its callback ran
    EXPECT_TRUE(nothing_pending()) << pending();
    EXPECT_NE(log.find("stats requests=3 answers=3 triggers=1"), std::string::npos) << log;
}

}  // namespace

int main(int argc, char** argv) {
    if (getenv("QB_TEST_COMPONENT")) return component_main();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
