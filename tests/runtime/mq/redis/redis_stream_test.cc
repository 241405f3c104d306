// Redis stream client against a real redis-server.
#include <unistd.h>

#include "redis_stream.h"
#include "runtime/mq/redis/redis_entry.h"
#include "sdk_logger.h"
#include "support/redis_server.h"
#include "support/test_support.h"

namespace {
using qbtest::mut;

// "port=data id", "-" for what is absent.
std::string fields_text(const char* port, const char* data, const char* id) {
    return std::string(port ? port : "-") + "=" + (data ? data : "-") + " " + (id ? id : "-");
}

class RedisStreamTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(server_.running()) << server_.error();
        ASSERT_NE(client_ = redis_client_init(), nullptr);
    }
    void TearDown() override { redis_client_deinit(client_); }

    // One read: its result and what it set, "rc port=data id".
    std::string recv(Redis_Client client) {
        char *port = nullptr, *data = nullptr, *id = nullptr;
        const int rc = redis_client_recv_data(client, &port, &data, &id);
        const std::string text = std::to_string(rc) + " " + fields_text(port, data, id);
        free(port), free(data), free(id);
        return text;
    }
    int send(Redis_Client client, const char* id, const char* port = "out1", const char* type = "call", int debug = 0) {
        return redis_client_send_data(client, mut(id), mut(port), mut("x"), mut(type), debug);
    }

    qbtest::RedisServer server_;
    qbtest::QueueEnv env_{server_.port(), "s-recv", "s-send", "n1"};
    qbtest::RedisConn peer_{server_.port()};
    Redis_Client client_ = nullptr;
};

TEST_F(RedisStreamTest, ReadsOneEntryAtATimeByTheFieldRulesAndAcknowledgesIt) {
    struct Case { std::initializer_list<std::string> xadd; std::string want; } cases[] = {
        {{"XADD", "s-recv", "*", "id", "r1", "in1", "hello"}, "in1=hello r1"},        // the worked example
        {{"XADD", "s-recv", "*", "out12", "x", "id", "r2"}, "-=- r2"},                // five characters: no port
        {{"XADD", "s-recv", "*", "in1", "a"}, "in1=a -"},                             // no "id"
        {{"XADD", "s-recv", "*", "in1", "a", "out1", "b", "id", "r3"}, "out1=b r3"},  // the last port wins
        {{"XADD", "s-recv", "*", "id", "r4", "in", "z", "id", "r5"}, "in=z r5"},      // the last id wins
        {{"XADD", "s-recv", "*", "IN1", "x", "Id", "r6"}, "-=- -"},                   // case-sensitive
        {{"XADD", "s-recv", "*", "pin", "x", "input", "y", "idx", "r"}, "pin=x -"},   // substring, length, exact id
    };
    for (const auto& c : cases) ASSERT_TRUE(peer_.cmd(c.xadd));
    // No group "default" yet: an error reply, logged with its type and setting nothing.
    qbtest::LogLevel level(SDK_LOG_LEVEL_DEBUG);
    std::string got;
    const std::string out = qbtest::capture_stdout([&] { got = recv(client_); });
    EXPECT_TRUE(got == "0 -=- -" && out.find("redis unknown reply type = 6") != std::string::npos) << got << out;
    ASSERT_EQ(redis_client_create_recv_group(client_), 0);
    ASSERT_EQ(redis_client_create_recv_group(client_), 0);  // an existing group is harmless
    for (const auto& c : cases) EXPECT_EQ(recv(client_), "0 " + c.want);
    // Every entry is acknowledged on read, usable or not.
    auto pending = peer_.cmd({"XPENDING", "s-recv", "default"});
    EXPECT_TRUE(pending && pending->type == REDIS_REPLY_ARRAY && pending->element[0]->integer == 0);
}

// What the server received, word for word, as MONITOR shows it: the groups, a read and its acknowledgement,
// and appends (the worked example; the debug flag; node id from --node-id when --stream-node-id is absent).
TEST_F(RedisStreamTest, ArgumentVectorsAndFieldLayoutAreExact) {
    qbtest::RedisConn monitor(server_.port());
    ASSERT_TRUE(monitor.cmd({"MONITOR"}));
    redisSetTimeout(monitor.get(), {5, 0});
    ASSERT_EQ(redis_client_create_recv_group(client_), 0);
    ASSERT_EQ(redis_client_create_send_group(client_), 0);
    auto added = peer_.cmd({"XADD", "s-recv", "*", "id", "r1", "in1", "hello"});
    ASSERT_TRUE(added && added->type == REDIS_REPLY_STRING);
    EXPECT_EQ(recv(client_), "0 in1=hello r1");
    ASSERT_EQ(send(client_, "r1"), 0);
    ASSERT_EQ(send(client_, "r2", "out2", "trigger", 1), 0);
    env_.set("QB_STREAM_NODE_ID", nullptr);
    env_.set("QB_NODE_ID", "n9");
    ASSERT_EQ(send(client_, "r3"), 0);
    const std::string add = R"("XADD" "s-send" "MAXLEN" "~" "2000" "*" "node_id" )",
                      tail = R"( "extra" "{}" "out1" "x" "success" "true")";
    const std::vector<std::string> expected = {
        R"("XGROUP" "CREATE" "s-recv" "default" "0" "MKSTREAM")",
        R"("XGROUP" "CREATE" "s-send" "default" "0" "MKSTREAM")",
        R"("XADD" "s-recv" "*" "id" "r1" "in1" "hello")",
        R"("XREADGROUP" "GROUP" "default" "n1" "COUNT" "1" "BLOCK" "60000" "STREAMS" "s-recv" ">")",
        "\"XACK\" \"s-recv\" \"default\" \"" + std::string(added->str) + "\"",
        add + R"("n1" "request_id" "r1" "type" "call")" + tail,
        add + R"("n1" "request_id" "r2" "type" "trigger" "extra" "{\"global\": {\"debug\": true}}" "out2" "x" )"
              R"("success" "true")",
        add + R"("n9" "request_id" "r3" "type" "call")" + tail,
    };
    std::vector<std::string> seen;
    for (redisReply* r = nullptr; seen.size() < expected.size(); freeReplyObject(r)) {
        ASSERT_EQ(redisGetReply(monitor.get(), reinterpret_cast<void**>(&r)), REDIS_OK);
        seen.push_back(std::string(r->str).substr(std::string(r->str).find("] ") + 2));  // after the client address
    }
    EXPECT_EQ(seen, expected);
}

// A null client, argument or stream parameter is refused before anything reaches the server.
TEST_F(RedisStreamTest, MissingClientArgumentsAndParametersSendNothing) {
    for (auto op : {redis_client_create_recv_group, redis_client_create_send_group, redis_client_get_info})
        EXPECT_EQ(op(nullptr), -1);
    EXPECT_TRUE(recv(nullptr) == "-1 -=- -" && send(nullptr, "r") == -1);
    EXPECT_EQ(redis_client_send_data(client_, nullptr, mut("out1"), mut("x"), mut("call"), 0), -1);
    EXPECT_EQ(redis_client_send_data(client_, mut("r"), nullptr, mut("x"), mut("call"), 0), -1);
    EXPECT_EQ(redis_client_send_data(client_, mut("r"), mut("out1"), nullptr, mut("call"), 0), -1);
    EXPECT_EQ(redis_client_send_data(client_, mut("r"), mut("out1"), mut("x"), nullptr, 0), -1);
    // One parameter missing at a time (the send queue last, with the receive queue still unset).
    const std::string out = qbtest::capture_stdout([&] {
        env_.set("QB_STREAM_NODE_ID", nullptr);
        EXPECT_EQ(recv(client_), "-1 -=- -");
        EXPECT_EQ(send(client_, "r"), -1);
        env_.set("QB_STREAM_NODE_ID", "n1");
        env_.set("QB_STREAM_RECV_QUEUE", nullptr);
        EXPECT_EQ(redis_client_create_recv_group(client_), -1);
        EXPECT_EQ(recv(client_), "-1 -=- -");
        env_.set("QB_STREAM_SEND_QUEUE", nullptr);
        EXPECT_EQ(redis_client_create_send_group(client_), -1);
        EXPECT_EQ(send(client_, "r"), -1);
    });
    EXPECT_EQ(qbtest::count_of(out, "Missing"), 6) << out;
    auto size = peer_.cmd({"DBSIZE"});
    EXPECT_TRUE(size && size->integer == 0);
}

// After a server restart an append reconnects once; with the server gone it is -1. (A refused append is
// checked through the queue front end.)
TEST_F(RedisStreamTest, AppendReconnectsOnceAfterServerRestart) {
    server_.kill();
    ASSERT_TRUE(server_.restart()) << server_.error();  // without persistence: the key is gone
    EXPECT_EQ(send(client_, "r1"), 0);
    auto len = qbtest::RedisConn(server_.port()).cmd({"XLEN", "s-send"});
    EXPECT_TRUE(len && len->integer == 1);
    server_.kill();
    const std::string out = qbtest::capture_stdout([&] { EXPECT_EQ(send(client_, "r2"), -1); });
    EXPECT_NE(out.find("lost"), std::string::npos) << out;
}

// Replies as a server could send them, through hiredis's own parser: only the expected shape yields an entry
// ("stream entry-id port=data id"); anything else is "unknown <hiredis type>" with no fields, never a crash.
TEST(RedisReplyShape, OnlyTheExpectedShapeYieldsAnEntry) {
    const std::string head = "*1\r\n*2\r\n$1\r\ns\r\n*1\r\n*2\r\n$3\r\n1-1\r\n";
    const std::pair<std::string, std::string> cases[] = {
        {"*-1\r\n", "nil -=- -"}, {"-NOGROUP no group\r\n", "unknown 6 -=- -"}, {"*0\r\n", "unknown 2 -=- -"},
        // A stream without entries, no entry, a name that is not a string, an entry id that is not a string.
        {"*1\r\n*1\r\n$1\r\ns\r\n", "unknown 2 -=- -"}, {"*1\r\n*2\r\n$1\r\ns\r\n*0\r\n", "unknown 2 -=- -"},
        {"*1\r\n*2\r\n:1\r\n*0\r\n", "unknown 2 -=- -"},
        {"*1\r\n*2\r\n$1\r\ns\r\n*1\r\n*2\r\n:5\r\n*0\r\n", "unknown 2 -=- -"},
        {"*1\r\n*2\r\n$1\r\ns\r\n*1\r\n$3\r\nabc\r\n", "unknown 1 -=- -"},  // an entry that is not an array
        {head + "*-1\r\n", "s 1-1 -=- -"},  // a deleted entry: nil fields
        {head + "*3\r\n$2\r\nid\r\n$2\r\nr1\r\n$3\r\nin1\r\n", "s 1-1 -=- r1"},  // odd count
        {head + "*6\r\n$3\r\nin1\r\n:5\r\n:1\r\n$1\r\nx\r\n$2\r\nid\r\n$2\r\nr2\r\n", "s 1-1 -=- r2"},  // not strings
        {head + "*4\r\n$3\r\nin1\r\n$2\r\nhi\r\n$2\r\nid\r\n$-1\r\n", "s 1-1 in1=hi -"},
    };
    for (const auto& [resp, want] : cases) {
        redisReader* reader = redisReaderCreate();
        void* reply = nullptr;
        ASSERT_TRUE(redisReaderFeed(reader, resp.data(), resp.size()) == REDIS_OK &&
                    redisReaderGetReply(reader, &reply) == REDIS_OK && reply) << resp;
        qb::StreamEntry e;
        int type = 0;
        const qb::ReadResult result = qb::parse_read_reply(static_cast<redisReply*>(reply), &e, &type);
        const std::string kind = result == qb::ReadResult::kEntry ? std::string(e.stream) + " " + e.entry_id
                                 : result == qb::ReadResult::kNil ? "nil" : "unknown " + std::to_string(type);
        EXPECT_EQ(kind + " " + fields_text(e.port_name, e.data, e.request_id), want) << resp;
        e.release();
        freeReplyObject(reply);
        redisReaderFree(reader);
    }
}

// With Redis down, start-up logs eleven tries (counter 10 down to 0), then ends the process with exit(-1).
TEST(RedisStartup, UnreachableServerExitsAfterElevenTries) {
    const int port = qbtest::free_loopback_port();
    qbtest::QueueEnv env(port, "s-recv", "s-send", "n1");
    std::string log, at = " Connection 127\\.0\\.0\\.1 " + std::to_string(port) + " error.*";
    for (int left = 10; left >= 0; --left) log += "\\[Retry left=" + std::to_string(left) + "\\]" + at;
    // The log goes to standard output; the death test matches standard error.
    EXPECT_EXIT((dup2(2, 1), sdk_set_log_level(SDK_LOG_LEVEL_DEBUG), redis_client_init()), testing::ExitedWithCode(255),
                log + "Failed to connect redis, exit");
}

}  // namespace
