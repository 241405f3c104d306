// The stand-alone queue on its fixed port 10000 (the only test binary that
// uses that port), driven by Python's websockets client.
#include "qb_mq_fake.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "qb_mq.h"
#include "qb_mq_impl.h"
#include "sdk_logger.h"
#include "sdk_os.h"
#include "support/lws_suppressions.h"
#include "support/python_peer.h"
#include "support/test_support.h"

namespace {
using qbtest::mut;

struct Calls {
    std::mutex mu;
    std::vector<std::vector<std::string>> seen;  // port, data, id

    static void answer(Qb_mq mq, char* port, char* data, char* id, void* user) {
        auto* c = static_cast<Calls*>(user);
        {
            std::lock_guard<std::mutex> l(c->mu);
            c->seen.push_back({port, data, id});
        }
        // "trigger" asks for a message of the component's own accord.
        const bool own = std::string(data) == "trigger";
        qb_mq_send(mq, mut("out1"), data, own ? nullptr : id);
    }
};

class StandAloneQueue : public ::testing::Test {
protected:
    void SetUp() override {
        std::string out = qbtest::capture_stdout([&] { mq = qb_mq_init(); });
        ASSERT_NE(mq, nullptr);
        init_log = out;
        ASSERT_EQ(qb_mq_register_callback(mq, Calls::answer, &calls), 0);
    }
    void TearDown() override {
        if (mq) {
            EXPECT_EQ(qb_mq_deinit(mq), 0);
        }
    }
    qbtest::LogLevel level{SDK_LOG_LEVEL_DEBUG};
    qbtest::ScopedEnv no_param{"QB_PARAM", nullptr};
    qbtest::ScopedEnv no_type{"QB_MQ_TYPE", nullptr};
    Calls calls;
    Qb_mq mq = nullptr;
    std::string init_log;
};

TEST_F(StandAloneQueue, WorkedExamplesOverARealClient) {
    EXPECT_NE(init_log.find("Not in quorbit environment, using fake mq"), std::string::npos) << init_log;
    EXPECT_NE(init_log.find("[QUORBIT_MQ_FAKE]QUORBIT wait on Websocket port 10000, please connect to me"),
              std::string::npos)
        << init_log;
    EXPECT_EQ(static_cast<qb_mq*>(mq)->type, QB_MQ_FAKE);
    EXPECT_EQ(static_cast<qb_mq*>(mq)->impl, qb_mq_get_fake());
    // Nobody connected yet: dropped, still 0.
    EXPECT_EQ(qb_mq_send(mq, mut("out1"), mut("lost"), nullptr), 0);

    std::string out;
    std::string log = qbtest::capture_stdout([&] {
        int rc = qbtest::run_python(R"(
import asyncio, json, websockets
SEP = "-" * 21
async def main():
    a = await websockets.connect("ws://127.0.0.1:10000/", subprotocols=["data_trans"])
    await a.send('{"port":"in1","message":"hi"}')
    assert await a.recv() == '{"port":"out1","message":"hi","type":"call"}'
    assert await a.recv() == SEP
    await a.send(b'{"port":"in1","message":"binary"}')
    await a.send("not json")
    await a.send('{"port":"in1"}')
    await a.send('{"port":"in1","message":"trigger"}')
    assert json.loads(await a.recv()) == {"port": "out1", "message": "trigger", "type": "trigger"}
    assert await a.recv() == SEP
    # Members that are not strings arrive as their JSON text; null counts as missing.
    await a.send('{"port":"in1","message":null}')
    for m in ['{"port":"in1","message":42}', '{"port":["p"],"message":{"a":[1]}}']:
        await a.send(m)
        assert json.loads(await a.recv())["type"] == "call"
        assert await a.recv() == SEP
    # A newer client takes the output; the older one leaving must not cut it off.
    b = await websockets.connect("ws://127.0.0.1:10000/", subprotocols=["data_trans"])
    await asyncio.sleep(0.1)
    await a.close()
    await asyncio.sleep(0.2)
    await b.send('{"port":"in2","message":"from b"}')
    assert json.loads(await b.recv()) == {"port": "out1", "message": "from b", "type": "call"}
    assert await b.recv() == SEP
    await b.close()
    print("PEER OK")
asyncio.run(asyncio.wait_for(main(), 20))
)",
                                    {}, &out);
        EXPECT_EQ(rc, 0) << out;
    });
    EXPECT_NE(out.find("PEER OK"), std::string::npos) << out;
    EXPECT_EQ(qbtest::count_of(log, "Received [port NULL] or [message NULL] or [no Callback]"), 3) << log;
    EXPECT_EQ(qbtest::count_of(log, "Client Open with fd="), 2) << log;
    std::lock_guard<std::mutex> l(calls.mu);
    const std::vector<std::vector<std::string>> expected = {{"in1", "hi", "test_uuid"},
                                                            {"in1", "trigger", "test_uuid"},
                                                            {"in1", "42", "test_uuid"},
                                                            {R"([ "p" ])", R"({ "a": [ 1 ] })", "test_uuid"},
                                                            {"in2", "from b", "test_uuid"}};
    EXPECT_EQ(calls.seen, expected);
}

TEST_F(StandAloneQueue, SecondQueueOnTheSamePortSaysSoAndStaysQuiet) {
    Qb_mq second = nullptr;
    std::string log = qbtest::capture_stdout([&] { second = qb_mq_init(); });
    ASSERT_NE(second, nullptr);
    EXPECT_NE(log.find("WebSocket server on port 10000 did not start"), std::string::npos) << log;
    EXPECT_EQ(qb_mq_send(second, mut("out1"), mut("x"), nullptr), 0);
    log = qbtest::capture_stdout([&] { EXPECT_EQ(qb_mq_deinit(second), 0); });
    EXPECT_NE(log.find("Fake MQ Deinit"), std::string::npos) << log;
}

// The component stops its queue from the callback: the stop takes effect once the callback has returned,
// a message right behind "stop" reaches nobody, and the port is free for the next queue.
TEST_F(StandAloneQueue, DeinitFromTheCallbackReleasesThePort) {
    static std::atomic<int> calls{0}, rc{1};
    ASSERT_EQ(qb_mq_register_callback(mq, [](Qb_mq q, char*, char* data, char*, void*) {
        calls++;
        if (std::string(data) == "stop") rc = qb_mq_deinit(q);
    }, nullptr), 0);
    std::string out;
    int peer = qbtest::run_python(R"(
import asyncio, websockets
async def main():
    a = await websockets.connect("ws://127.0.0.1:10000/", subprotocols=["data_trans"])
    await a.send('{"port":"in1","message":"stop"}')
    await a.send('{"port":"in1","message":"after"}')
    try:
        await a.recv()
    except websockets.ConnectionClosed:
        print("PEER OK")
asyncio.run(asyncio.wait_for(main(), 20))
)", {}, &out);
    mq = nullptr;
    EXPECT_EQ(peer, 0) << out;
    EXPECT_NE(out.find("PEER OK"), std::string::npos) << out;
    EXPECT_EQ(std::pair(calls.load(), rc.load()), std::pair(1, 0));
    for (int i = 0; i < 50 && !mq; ++i) {
        std::string log = qbtest::capture_stdout([&] { mq = qb_mq_init(); });
        if (log.find("did not start") == std::string::npos) break;
        qb_mq_deinit(mq);
        mq = nullptr;
        os_msleep(100);
    }
    EXPECT_NE(mq, nullptr) << "port 10000 stayed bound";
}

struct Registration {
    std::atomic<int> calls{0}, torn{0};
} g_reg[2];
template <int N>
void registered(Qb_mq parent, char*, char*, char*, void* user) {
    g_reg[N].calls++;
    if (parent != &g_reg[N] || user != &g_reg[N]) g_reg[N].torn++;
}

// Registrations from another thread while requests arrive: every call sees one registration whole.
TEST(StandAloneBackend, RegistrationRacingRequestsIsNeverSeenHalfDone) {
    Qb_mq_impl h = qb_mq_fake_init();
    ASSERT_EQ(qb_mq_fake_register_callback(h, registered<0>, &g_reg[0], &g_reg[0]), 0);
    std::atomic<bool> done{false};
    std::thread registrar([&] {
        for (int i = 0; !done; ++i)
            qb_mq_fake_register_callback(h, i & 1 ? registered<1> : registered<0>, &g_reg[i & 1], &g_reg[i & 1]);
    });
    std::string out;
    int rc = qbtest::run_python(R"(
import asyncio, websockets
async def main():
    async with websockets.connect("ws://127.0.0.1:10000/", subprotocols=["data_trans"]) as a:
        for i in range(3000):
            await a.send('{"port":"in1","message":"m"}')
    print("PEER OK")
asyncio.run(asyncio.wait_for(main(), 20))
)", {}, &out);
    for (int i = 0; i < 1000 && g_reg[0].calls + g_reg[1].calls < 3000; ++i) os_msleep(10);
    done = true;
    registrar.join();
    EXPECT_EQ(rc, 0) << out;
    EXPECT_EQ(g_reg[0].calls + g_reg[1].calls, 3000);
    EXPECT_EQ(g_reg[0].torn + g_reg[1].torn, 0);
    EXPECT_EQ(qb_mq_fake_deinit(h), 0);
}

TEST(StandAloneBackend, NullHandleIsRefused) {
    EXPECT_EQ(qb_mq_fake_register_callback(nullptr, nullptr, nullptr, nullptr), -1);
    EXPECT_EQ(qb_mq_fake_send(nullptr, mut("o"), mut("d"), nullptr), -1);
    EXPECT_EQ(qb_mq_fake_deinit(nullptr), -1);
}

}  // namespace
