// The message queue front end and its Redis backend against a real redis-server.
#include <condition_variable>
#include <mutex>
#include <regex>
#include <set>
#include <thread>

#include "qb_mq.h"
#include "qb_mq_impl.h"
#include "sdk_logger.h"
#include "support/redis_server.h"
#include "support/test_support.h"

namespace {
using namespace std::chrono_literals;
using qbtest::mut;
using Fields = std::vector<std::string>;

// (The stand-alone choice off the platform is checked with the stand-alone backend, which owns a fixed port.)
TEST(QbMqFrontEnd, NullHandleIsRefused) {
    const std::string out = qbtest::capture_stdout([] {
        EXPECT_EQ(qb_mq_register_callback(nullptr, [](Qb_mq, char*, char*, char*, void*) {}, nullptr), -1);
        EXPECT_EQ(qb_mq_send(nullptr, mut("out1"), mut("x"), nullptr), -1);
        EXPECT_EQ(qb_mq_deinit(nullptr), -1);
    });
    EXPECT_EQ(qbtest::count_of(out, "[QB_MQ ") + qbtest::count_of(out, "Null handle\n"), 6) << out;
}

// Each test has its own server; the callback records what it saw and may answer, linger or stop the queue.
class QbMqTest : public ::testing::Test {
protected:
    struct Message { std::string port, data, id; void* user; };
    void SetUp() override { ASSERT_TRUE(server_.running()) << server_.error(); }

    static void on_message(Qb_mq mq, char* port, char* data, char* id, void* user) {
        auto* t = static_cast<QbMqTest*>(user);
        t->entered_ = true;
        std::this_thread::sleep_for(t->delay_);
        if (t->echo_) qb_mq_send(mq, mut("out1"), data, id);
        if (t->deinit_self_) t->deinit_rc_ = qb_mq_deinit(mq);
        std::lock_guard<std::mutex> lock(t->m_);
        t->seen_.push_back({port, data, id, user});
        t->cv_.notify_all();
    }
    bool wait_for(size_t n, std::chrono::seconds limit = 10s) {
        std::unique_lock<std::mutex> lock(m_);
        return cv_.wait_for(lock, limit, [&] { return seen_.size() >= n; });
    }
    Qb_mq start(bool registered = true) {
        Qb_mq mq = qb_mq_init();
        EXPECT_NE(mq, nullptr);
        EXPECT_TRUE(!registered || qb_mq_register_callback(mq, on_message, this) == 0);
        return mq;
    }
    // The send stream's entries as field lists, once it holds n of them (or after 10 s).
    std::vector<Fields> answers(size_t n, qbtest::RedisConn& conn) {
        std::vector<Fields> out;
        qbtest::eventually([&] { return (out = conn.entries("s-send")).size() >= n; });
        return out;
    }

    qbtest::RedisServer server_;
    qbtest::QueueEnv env_{server_.port(), "s-recv", "s-send", "n1"};
    qbtest::RedisConn peer_{server_.port()};
    std::mutex m_;
    std::condition_variable cv_;
    std::vector<Message> seen_;
    bool echo_ = false, deinit_self_ = false;
    int deinit_rc_ = 1;
    std::chrono::milliseconds delay_{0};
    std::atomic<bool> entered_{false};
};

// Request r1 on in1 reaches the callback; its answer is an entry of type "call" in the platform's layout.
// Messages of the component's own accord, sent from several threads at once, are "trigger" entries with a
// fresh 32-character id each. A send that Redis refuses returns -1.
TEST_F(QbMqTest, WorkedExamplesAnswerTriggerAndRefusedSend) {
    echo_ = true;
    Qb_mq mq = start();
    peer_.cmd({"XADD", "s-recv", "*", "id", "r1", "in1", "hello"});
    ASSERT_TRUE(wait_for(1));
    EXPECT_TRUE(seen_[0].port == "in1" && seen_[0].data == "hello" && seen_[0].id == "r1" && seen_[0].user == this);
    auto burst = [mq] { for (int i = 0; i < 25; ++i) EXPECT_EQ(qb_mq_send(mq, mut("out1"), mut("x"), nullptr), 0); };
    std::thread threads[] = {std::thread(burst), std::thread(burst), std::thread(burst), std::thread(burst)};
    for (auto& th : threads) th.join();
    const auto got = answers(101, peer_);
    ASSERT_EQ(got.size(), 101u);
    EXPECT_EQ(got[0], Fields({"node_id", "n1", "request_id", "r1", "type", "call", "extra", "{}", "out1", "hello",
                              "success", "true"}));
    std::set<std::string> ids;
    for (size_t i = 1; i < got.size(); ++i) {
        const std::string& id = got[i][3];
        EXPECT_EQ(got[i], Fields({"node_id", "n1", "request_id", id, "type", "trigger", "extra", "{}", "out1", "x",
                                  "success", "true"}));
        EXPECT_TRUE(std::regex_match(id, std::regex("[0-9a-f]{32}")) && ids.insert(id).second) << id;
    }
    // A send that Redis refuses is -1, answer or not.
    env_.set("QB_STREAM_SEND_QUEUE", "not-a-stream");
    peer_.cmd({"SET", "not-a-stream", "x"});
    const std::string out = qbtest::capture_stdout([&] {
        EXPECT_EQ(qb_mq_send(mq, mut("out1"), mut("x"), mut("r1")), -1);
        EXPECT_EQ(qb_mq_send(mq, mut("out1"), mut("x"), nullptr), -1);
    });
    EXPECT_EQ(qbtest::count_of(out, "refused"), 2) << out;
    EXPECT_EQ(qb_mq_deinit(mq), 0);
}

// An answer given later from another thread goes out at once, not after the receive thread's 60-second read.
TEST_F(QbMqTest, AnswerFromAnotherThreadDoesNotWaitForTheBlockingRead) {
    Qb_mq mq = start();
    peer_.cmd({"XADD", "s-recv", "*", "id", "r1", "in1", "later"});
    ASSERT_TRUE(wait_for(1));
    std::this_thread::sleep_for(300ms);  // the receive thread is back inside its read
    const auto t0 = std::chrono::steady_clock::now();
    std::thread([&] { EXPECT_EQ(qb_mq_send(mq, mut("out1"), mut("done"), mut("r1")), 0); }).join();
    const auto got = answers(1, peer_);
    EXPECT_LT(std::chrono::steady_clock::now() - t0, 2s);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(std::tuple(got[0][3], got[0][5], got[0][9]), std::tuple("r1", "call", "done"));
    EXPECT_EQ(qb_mq_deinit(mq), 0);
}

// An entry without "id" and one whose port name is too long are acknowledged but never delivered.
TEST_F(QbMqTest, IncompleteEntriesAreAcknowledgedButNotDelivered) {
    Qb_mq mq = start();
    peer_.cmd({"XADD", "s-recv", "*", "in1", "no id"});
    peer_.cmd({"XADD", "s-recv", "*", "id", "r2", "inout", "port name too long"});
    peer_.cmd({"XADD", "s-recv", "*", "id", "r3", "in1", "ok"});
    ASSERT_TRUE(wait_for(1));  // entries are read in order, so the others came first
    EXPECT_EQ(qb_mq_deinit(mq), 0);
    EXPECT_TRUE(seen_.size() == 1 && seen_[0].id == "r3");
    auto pending = peer_.cmd({"XPENDING", "s-recv", "default"});
    EXPECT_TRUE(pending && pending->element[0]->integer == 0);
}

TEST_F(QbMqTest, RequestReadBeforeRegistrationIsHeldNotLost) {
    Qb_mq mq = start(false);
    peer_.cmd({"XADD", "s-recv", "*", "id", "r1", "in1", "early"});
    // Wait until the receive thread has taken (and acknowledged) the entry: the group's last delivered id moves.
    ASSERT_TRUE(qbtest::eventually([&] {
        auto info = peer_.cmd({"XINFO", "GROUPS", "s-recv"});
        return info && info->elements == 1 && std::string(info->element[0]->element[7]->str) != "0-0";
    }));
    ASSERT_EQ(qb_mq_register_callback(mq, on_message, this), 0);
    ASSERT_TRUE(wait_for(1));
    EXPECT_EQ(seen_[0].data, "early");
    EXPECT_EQ(qb_mq_deinit(mq), 0);
}

TEST_F(QbMqTest, AnswersAgainAfterRedisRestart) {
    echo_ = true;
    Qb_mq mq = start();
    peer_.cmd({"XADD", "s-recv", "*", "id", "r1", "in1", "before"});
    ASSERT_TRUE(wait_for(1));
    const std::string out = qbtest::capture_stdout([&] {
        server_.kill();
        std::this_thread::sleep_for(300ms);  // the component notices while Redis is down
        ASSERT_TRUE(server_.restart()) << server_.error();
        qbtest::RedisConn conn(server_.port());
        conn.cmd({"XADD", "s-recv", "*", "id", "r2", "in1", "after"});
        ASSERT_TRUE(wait_for(2, 15s));
        EXPECT_EQ(answers(1, conn).at(0).at(3), "r2");
        // The trigger connection broke too; its next send reconnects.
        EXPECT_EQ(qb_mq_send(mq, mut("out1"), mut("x"), nullptr), 0);
        EXPECT_EQ(answers(2, conn).size(), 2u);
    });
    EXPECT_EQ(seen_[1].data, "after");
    EXPECT_NE(out.find("lost"), std::string::npos) << out;
    EXPECT_EQ(qb_mq_deinit(mq), 0);
}

// Deinit ends a blocking read at once (the read would last 60 s), waits for a callback in progress so its
// answer still goes out, and may be called from the callback itself.
TEST_F(QbMqTest, DeinitDuringAReadACallbackOrFromTheCallback) {
    qbtest::LogLevel level(SDK_LOG_LEVEL_DEBUG);
    Qb_mq mq = start();
    std::this_thread::sleep_for(200ms);  // inside the read by now
    const auto t0 = std::chrono::steady_clock::now();
    std::string out = qbtest::capture_stdout([&] { EXPECT_EQ(qb_mq_deinit(mq), 0); });
    EXPECT_LT(std::chrono::steady_clock::now() - t0, 2s);
    EXPECT_NE(out.find("Thread Exit"), std::string::npos) << out;

    echo_ = true;
    delay_ = 300ms;
    mq = start();
    peer_.cmd({"XADD", "s-recv", "*", "id", "r1", "in1", "last"});
    ASSERT_TRUE(qbtest::eventually([&] { return entered_.load(); }));
    EXPECT_EQ(qb_mq_deinit(mq), 0);
    EXPECT_EQ(answers(1, peer_).at(0).at(3), "r1");

    deinit_self_ = true;
    out = qbtest::capture_stdout([&] {
        start();
        peer_.cmd({"XADD", "s-recv", "*", "id", "r2", "in1", "bye"});
        ASSERT_TRUE(wait_for(2));
        std::this_thread::sleep_for(300ms);  // the thread leaves once the callback has returned
    });
    EXPECT_EQ(deinit_rc_, 0);
    EXPECT_NE(out.find("Thread Exit"), std::string::npos) << out;
}

}  // namespace
