// The message queue front end and its Redis backend against a real redis-server.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "qb_mq.h"
#include "qb_mq_impl.h"
#include "sdk_logger.h"
#include "support/redis_server.h"
#include "support/test_support.h"

namespace {
using namespace std::chrono_literals;
using qbtest::mut;
using Fields = std::vector<std::string>;

struct Message {
    std::string port, data, id;
    void* user;
};

// Records what the callback saw; optionally answers on out1 with the input.
struct Recorder {
    std::mutex m;
    std::condition_variable cv;
    std::vector<Message> seen;
    bool echo = false;
    bool deinit_self = false;
    int deinit_rc = 1;
    std::chrono::milliseconds delay{0};
    std::atomic<bool> entered{false};

    static void callback(Qb_mq mq, char* port, char* data, char* id, void* user) {
        auto* r = static_cast<Recorder*>(user);
        r->entered = true;
        std::this_thread::sleep_for(r->delay);
        if (r->echo) qb_mq_send(mq, mut("out1"), data, id);
        if (r->deinit_self) r->deinit_rc = qb_mq_deinit(mq);
        std::lock_guard<std::mutex> lock(r->m);
        r->seen.push_back({port, data, id, user});
        r->cv.notify_all();
    }
    bool wait_for(size_t n, std::chrono::seconds limit = 10s) {
        std::unique_lock<std::mutex> lock(m);
        return cv.wait_for(lock, limit, [&] { return seen.size() >= n; });
    }
};

class QbMqTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(server_.running()) << server_.error(); }

    Qb_mq start(Recorder* rec) {
        Qb_mq mq = qb_mq_init();
        EXPECT_NE(mq, nullptr);
        if (rec) {
            EXPECT_EQ(qb_mq_register_callback(mq, Recorder::callback, rec), 0);
        }
        return mq;
    }
    void request(std::initializer_list<std::string> fields, qbtest::RedisConn* conn = nullptr) {
        std::vector<std::string> args = {"XADD", "s-recv", "*"};
        args.insert(args.end(), fields);
        std::vector<const char*> argv;
        for (auto& a : args) argv.push_back(a.c_str());
        redisContext* c = (conn ? conn : &peer_)->get();
        freeReplyObject(redisCommandArgv(c, static_cast<int>(argv.size()), argv.data(), nullptr));
    }
    // Waits until the send stream holds n entries; returns their fields.
    std::vector<Fields> answers(size_t n, qbtest::RedisConn* conn = nullptr) {
        qbtest::RedisConn& c = conn ? *conn : peer_;
        const auto deadline = std::chrono::steady_clock::now() + 10s;
        std::vector<Fields> out;
        while (std::chrono::steady_clock::now() < deadline) {
            auto r = c.cmd({"XRANGE", "s-send", "-", "+"});
            out.clear();
            for (size_t i = 0; r && r->type == REDIS_REPLY_ARRAY && i < r->elements; ++i) {
                Fields f;
                const redisReply* pairs = r->element[i]->element[1];
                for (size_t j = 0; j < pairs->elements; ++j) f.emplace_back(pairs->element[j]->str);
                out.push_back(f);
            }
            if (out.size() >= n) break;
            std::this_thread::sleep_for(10ms);
        }
        return out;
    }

    qbtest::RedisServer server_;
    qbtest::QueueEnv env_{server_.port(), "s-recv", "s-send", "n1"};
    qbtest::RedisConn peer_{server_.port()};
};

TEST(QbMqFrontEnd, NullHandleIsRefused) {
    std::string out = qbtest::capture_stdout([] {
        EXPECT_EQ(qb_mq_register_callback(nullptr, Recorder::callback, nullptr), -1);
        EXPECT_EQ(qb_mq_send(nullptr, mut("out1"), mut("x"), nullptr), -1);
        EXPECT_EQ(qb_mq_deinit(nullptr), -1);
    });
    EXPECT_EQ(qbtest::count_of(out, "[QB_MQ "), 3) << out;
    EXPECT_EQ(qbtest::count_of(out, "Null handle"), 3) << out;
}

TEST(QbMqFrontEnd, OffThePlatformTheStandAloneBackendRefuses) {
    qbtest::LogLevel level(SDK_LOG_LEVEL_DEBUG);
    qbtest::ScopedEnv no_param("QB_PARAM", nullptr);
    qbtest::ScopedEnv no_type("QB_MQ_TYPE", nullptr);
    Qb_mq mq = nullptr;
    std::string out = qbtest::capture_stdout([&] { mq = qb_mq_init(); });
    ASSERT_NE(mq, nullptr);
    EXPECT_NE(out.find("Not in quorbit environment, using fake mq"), std::string::npos) << out;
    EXPECT_EQ(static_cast<qb_mq*>(mq)->type, QB_MQ_FAKE);
    EXPECT_EQ(static_cast<qb_mq*>(mq)->impl, qb_mq_get_fake());
    out = qbtest::capture_stdout([&] {
        EXPECT_EQ(qb_mq_register_callback(mq, Recorder::callback, nullptr), -1);
        EXPECT_EQ(qb_mq_send(mq, mut("out1"), mut("x"), nullptr), -1);
        EXPECT_EQ(qb_mq_deinit(mq), -1);
    });
    EXPECT_EQ(qbtest::count_of(out, "not built yet"), 3) << out;
}

TEST_F(QbMqTest, RequestReachesCallbackAndAnswerHasPlatformLayout) {
    Recorder rec;
    rec.echo = true;
    Qb_mq mq = start(&rec);
    EXPECT_EQ(static_cast<qb_mq*>(mq)->type, QB_MQ_REDIS);
    request({"id", "r1", "in1", "hello"});
    ASSERT_TRUE(rec.wait_for(1));
    EXPECT_EQ(rec.seen[0].port, "in1");
    EXPECT_EQ(rec.seen[0].data, "hello");
    EXPECT_EQ(rec.seen[0].id, "r1");
    EXPECT_EQ(rec.seen[0].user, &rec);
    const Fields expected = {"node_id", "n1",  "request_id", "r1",    "type",    "call",
                             "extra",   "{}", "out1",       "hello", "success", "true"};
    auto got = answers(1);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0], expected);
    EXPECT_EQ(qb_mq_deinit(mq), 0);
}

TEST_F(QbMqTest, UnsolicitedMessagesGetFreshIds) {
    Qb_mq mq = start(nullptr);
    ASSERT_EQ(qb_mq_send(mq, mut("out1"), mut("x"), nullptr), 0);
    ASSERT_EQ(qb_mq_send(mq, mut("out1"), mut("x"), nullptr), 0);
    auto got = answers(2);
    ASSERT_EQ(got.size(), 2u);
    for (const auto& f : got) {
        ASSERT_EQ(f.size(), 12u);
        EXPECT_EQ(f[4] + "=" + f[5], "type=trigger");
        EXPECT_EQ(f[3].size(), 32u);
        EXPECT_EQ(f[3].find_first_not_of("0123456789abcdef"), std::string::npos) << f[3];
    }
    EXPECT_NE(got[0][3], got[1][3]);
    EXPECT_EQ(qb_mq_deinit(mq), 0);
}

TEST_F(QbMqTest, IncompleteEntriesAreAcknowledgedButNotDelivered) {
    Recorder rec;
    Qb_mq mq = start(&rec);
    request({"in1", "no id"});
    request({"id", "r2", "inout", "port name too long"});
    request({"id", "r3", "in1", "ok"});
    ASSERT_TRUE(rec.wait_for(1));
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(qb_mq_deinit(mq), 0);
    ASSERT_EQ(rec.seen.size(), 1u);
    EXPECT_EQ(rec.seen[0].id, "r3");
    auto pending = peer_.cmd({"XPENDING", "s-recv", "default"});
    ASSERT_TRUE(pending);
    EXPECT_EQ(pending->element[0]->integer, 0);
}

TEST_F(QbMqTest, RequestReadBeforeRegistrationIsHeldNotLost) {
    Qb_mq mq = start(nullptr);
    request({"id", "r1", "in1", "early"});
    // Wait until the receive thread has taken (and acknowledged) the entry.
    bool read = false;
    for (int i = 0; i < 500 && !read; ++i) {
        auto info = peer_.cmd({"XINFO", "GROUPS", "s-recv"});
        read = info && info->elements == 1 && std::string(info->element[0]->element[7]->str) != "0-0";
        if (!read) std::this_thread::sleep_for(10ms);
    }
    ASSERT_TRUE(read);
    Recorder rec;
    ASSERT_EQ(qb_mq_register_callback(mq, Recorder::callback, &rec), 0);
    ASSERT_TRUE(rec.wait_for(1));
    EXPECT_EQ(rec.seen[0].data, "early");
    EXPECT_EQ(qb_mq_deinit(mq), 0);
}

TEST_F(QbMqTest, SendIsSafeFromManyThreads) {
    Qb_mq mq = start(nullptr);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([mq, t] {
            for (int i = 0; i < 25; ++i) {
                std::string id = "t" + std::to_string(t) + "-" + std::to_string(i);
                EXPECT_EQ(qb_mq_send(mq, mut("out1"), mut("x"), (t % 2) ? id.data() : nullptr), 0);
            }
        });
    }
    for (auto& th : threads) th.join();
    auto got = answers(100);
    EXPECT_EQ(got.size(), 100u);
    std::map<std::string, int> types;
    std::map<std::string, int> ids;
    for (const auto& f : got) {
        types[f[5]]++;
        ids[f[3]]++;
    }
    EXPECT_EQ(types["call"], 50);
    EXPECT_EQ(types["trigger"], 50);
    EXPECT_EQ(ids.size(), 100u);  // every trigger got its own id
    EXPECT_EQ(qb_mq_deinit(mq), 0);
}

TEST_F(QbMqTest, RefusedAnswerReturnsMinusOne) {
    Qb_mq mq = start(nullptr);
    peer_.cmd({"SET", "s-send", "not a stream"});
    std::string out = qbtest::capture_stdout([&] {
        EXPECT_EQ(qb_mq_send(mq, mut("out1"), mut("x"), mut("r1")), -1);
        EXPECT_EQ(qb_mq_send(mq, mut("out1"), mut("x"), nullptr), -1);
    });
    EXPECT_EQ(qbtest::count_of(out, "refused"), 2) << out;
    EXPECT_EQ(qb_mq_deinit(mq), 0);
}

TEST_F(QbMqTest, AnswersAgainAfterRedisRestart) {
    Recorder rec;
    rec.echo = true;
    Qb_mq mq = start(&rec);
    request({"id", "r1", "in1", "before"});
    ASSERT_TRUE(rec.wait_for(1));
    std::string out = qbtest::capture_stdout([&] {
        server_.kill();
        std::this_thread::sleep_for(300ms);  // the component notices while Redis is down
        ASSERT_TRUE(server_.restart()) << server_.error();
        qbtest::RedisConn conn(server_.port());
        request({"id", "r2", "in1", "after"}, &conn);
        ASSERT_TRUE(rec.wait_for(2, 15s));
        auto got = answers(1, &conn);
        ASSERT_EQ(got.size(), 1u);
        EXPECT_EQ(got[0][3], "r2");
        // The trigger connection broke too; its next send reconnects.
        EXPECT_EQ(qb_mq_send(mq, mut("out1"), mut("x"), nullptr), 0);
        EXPECT_EQ(answers(2, &conn).size(), 2u);
    });
    EXPECT_EQ(rec.seen[1].data, "after");
    EXPECT_NE(out.find("lost"), std::string::npos) << out;
    EXPECT_EQ(qb_mq_deinit(mq), 0);
}

TEST_F(QbMqTest, DeinitEndsABlockingReadQuickly) {
    qbtest::LogLevel level(SDK_LOG_LEVEL_DEBUG);
    Recorder rec;
    Qb_mq mq = start(&rec);
    std::this_thread::sleep_for(200ms);  // inside the 60 s read by now
    const auto t0 = std::chrono::steady_clock::now();
    std::string out = qbtest::capture_stdout([&] { EXPECT_EQ(qb_mq_deinit(mq), 0); });
    EXPECT_LT(std::chrono::steady_clock::now() - t0, 1s);
    EXPECT_NE(out.find("Thread Exit"), std::string::npos) << out;
}

TEST_F(QbMqTest, DeinitLetsACallbackInProgressAnswer) {
    Recorder rec;
    rec.echo = true;
    rec.delay = 300ms;
    Qb_mq mq = start(&rec);
    request({"id", "r1", "in1", "last"});
    while (!rec.entered) std::this_thread::sleep_for(5ms);
    EXPECT_EQ(qb_mq_deinit(mq), 0);  // waits for the callback, cuts no answer
    auto got = answers(1);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0][3], "r1");
}

TEST_F(QbMqTest, DeinitFromTheCallbackStopsAfterItReturns) {
    qbtest::LogLevel level(SDK_LOG_LEVEL_DEBUG);
    Recorder rec;
    rec.deinit_self = true;
    std::string out = qbtest::capture_stdout([&] {
        start(&rec);
        request({"id", "r1", "in1", "bye"});
        ASSERT_TRUE(rec.wait_for(1));
        std::this_thread::sleep_for(300ms);  // the thread leaves once the callback returned
    });
    EXPECT_EQ(rec.deinit_rc, 0);
    EXPECT_NE(out.find("Thread Exit"), std::string::npos) << out;
}

TEST_F(QbMqTest, EachRequestIsHandledOnceAcrossInstances) {
    Recorder rec;
    rec.echo = true;
    std::vector<Qb_mq> queues;
    for (int i = 0; i < 3; ++i) queues.push_back(start(&rec));
    const int n = 60;
    for (int i = 0; i < n; ++i) request({"id", "r" + std::to_string(i), "in1", "x"});
    ASSERT_TRUE(rec.wait_for(n));
    std::this_thread::sleep_for(100ms);  // room for a duplicate to show up
    for (Qb_mq mq : queues) EXPECT_EQ(qb_mq_deinit(mq), 0);
    std::map<std::string, int> per_id;
    for (const auto& m : rec.seen) per_id[m.id]++;
    EXPECT_EQ(per_id.size(), static_cast<size_t>(n));
    for (const auto& [id, count] : per_id) EXPECT_EQ(count, 1) << id;
    EXPECT_EQ(answers(n).size(), static_cast<size_t>(n));
}

}  // namespace
