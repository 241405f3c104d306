// Redis stream client against a real redis-server.
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "redis_stream.h"
#include "runtime/redis_entry.h"
#include "sdk_logger.h"
#include "support/redis_server.h"
#include "support/test_support.h"

namespace {
using qbtest::mut;
using Fields = std::vector<std::string>;

Fields fields_of(const redisReply* pairs) {
    Fields out;
    for (size_t i = 0; pairs && i < pairs->elements; ++i) out.emplace_back(pairs->element[i]->str);
    return out;
}

class RedisStreamTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(server_.running()) << server_.error();
        client_ = redis_client_init();
        ASSERT_NE(client_, nullptr);
    }
    void TearDown() override { redis_client_deinit(client_); }

    std::string add(const std::string& stream, std::initializer_list<std::string> fields) {
        std::vector<std::string> args = {"XADD", stream, "*"};
        args.insert(args.end(), fields);
        std::vector<const char*> argv;
        for (auto& a : args) argv.push_back(a.c_str());
        qbtest::Reply r(static_cast<redisReply*>(
            redisCommandArgv(peer_.get(), static_cast<int>(argv.size()), argv.data(), nullptr)));
        return r && r->type == REDIS_REPLY_STRING ? r->str : "";
    }
    // Field lists of every entry of a stream, oldest first.
    std::vector<Fields> entries(const std::string& stream) {
        std::vector<Fields> out;
        auto r = peer_.cmd({"XRANGE", stream, "-", "+"});
        for (size_t i = 0; r && r->type == REDIS_REPLY_ARRAY && i < r->elements; ++i)
            out.push_back(fields_of(r->element[i]->element[1]));
        return out;
    }
    long long pending(const std::string& stream) {
        auto r = peer_.cmd({"XPENDING", stream, "default"});
        return r && r->type == REDIS_REPLY_ARRAY ? r->element[0]->integer : -1;
    }
    struct Read {
        char* port = nullptr;
        char* data = nullptr;
        char* id = nullptr;
        ~Read() {
            free(port);
            free(data);
            free(id);
        }
    };

    qbtest::RedisServer server_;
    qbtest::QueueEnv env_{server_.port(), "s-recv", "s-send", "n1"};
    qbtest::RedisConn peer_{server_.port()};
    Redis_Client client_ = nullptr;
};

TEST_F(RedisStreamTest, ReadsOneEntryAndAcknowledgesIt) {
    ASSERT_EQ(redis_client_create_recv_group(client_), 0);
    ASSERT_EQ(redis_client_create_recv_group(client_), 0);  // existing group: harmless
    add("s-recv", {"id", "r1", "in1", "hello"});
    Read rd;
    ASSERT_EQ(redis_client_recv_data(client_, &rd.port, &rd.data, &rd.id), 0);
    ASSERT_NE(rd.port, nullptr);
    EXPECT_STREQ(rd.port, "in1");
    EXPECT_STREQ(rd.data, "hello");
    EXPECT_STREQ(rd.id, "r1");
    EXPECT_EQ(pending("s-recv"), 0);
}

TEST_F(RedisStreamTest, PortAndIdFieldRules) {
    struct Case {
        std::initializer_list<std::string> fields;
        const char* port;
        const char* data;
        const char* id;
    };
    const Case cases[] = {
        {{"out12", "x", "id", "r2"}, nullptr, nullptr, "r2"},          // five characters: no port
        {{"in1", "a"}, "in1", "a", nullptr},                            // no "id"
        {{"in1", "a", "out1", "b", "id", "r3"}, "out1", "b", "r3"},     // last port wins
        {{"id", "r4", "in", "z", "id", "r5"}, "in", "z", "r5"},         // last id wins
        {{"IN1", "x", "Id", "r6"}, nullptr, nullptr, nullptr},          // case-sensitive
        {{"pin", "x", "input", "y", "idx", "r"}, "pin", "x", nullptr},  // substring, length, exact id
    };
    ASSERT_EQ(redis_client_create_recv_group(client_), 0);
    for (const auto& c : cases) add("s-recv", c.fields);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fields.begin()->c_str());
        Read rd;
        ASSERT_EQ(redis_client_recv_data(client_, &rd.port, &rd.data, &rd.id), 0);
        EXPECT_STREQ(rd.port, c.port);
        EXPECT_STREQ(rd.data, c.data);
        EXPECT_STREQ(rd.id, c.id);
    }
    // Every entry is acknowledged on read, usable or not.
    EXPECT_EQ(pending("s-recv"), 0);
}

TEST_F(RedisStreamTest, AppendWritesSixFieldsInOrder) {
    ASSERT_EQ(redis_client_send_data(client_, mut("r1"), mut("out1"), mut("x"), mut("call"), 0), 0);
    ASSERT_EQ(redis_client_send_data(client_, mut("r2"), mut("out2"), mut("y"), mut("trigger"), 1), 0);
    env_.set("QB_STREAM_NODE_ID", nullptr);
    env_.set("QB_NODE_ID", "n9");
    ASSERT_EQ(redis_client_send_data(client_, mut("r3"), mut("out1"), mut("z"), mut("call"), 0), 0);
    const std::vector<Fields> expected = {
        {"node_id", "n1", "request_id", "r1", "type", "call", "extra", "{}", "out1", "x", "success", "true"},
        {"node_id", "n1", "request_id", "r2", "type", "trigger", "extra", R"({"global": {"debug": true}})", "out2",
         "y", "success", "true"},
        {"node_id", "n9", "request_id", "r3", "type", "call", "extra", "{}", "out1", "z", "success", "true"},
    };
    EXPECT_EQ(entries("s-send"), expected);
}

// What the server received, word for word, as MONITOR shows it.
TEST_F(RedisStreamTest, ArgumentVectorsAreExact) {
    qbtest::RedisConn monitor(server_.port());
    auto ok = monitor.cmd({"MONITOR"});
    ASSERT_TRUE(ok);
    redisSetTimeout(monitor.get(), {5, 0});
    ASSERT_EQ(redis_client_create_recv_group(client_), 0);
    ASSERT_EQ(redis_client_create_send_group(client_), 0);
    const std::string id = add("s-recv", {"id", "r1", "in1", "hello"});
    Read rd;
    ASSERT_EQ(redis_client_recv_data(client_, &rd.port, &rd.data, &rd.id), 0);
    ASSERT_EQ(redis_client_send_data(client_, mut("r1"), mut("out1"), mut("x"), mut("call"), 0), 0);
    const std::vector<std::string> expected = {
        R"("XGROUP" "CREATE" "s-recv" "default" "0" "MKSTREAM")",
        R"("XGROUP" "CREATE" "s-send" "default" "0" "MKSTREAM")",
        R"("XADD" "s-recv" "*" "id" "r1" "in1" "hello")",
        R"("XREADGROUP" "GROUP" "default" "n1" "COUNT" "1" "BLOCK" "60000" "STREAMS" "s-recv" ">")",
        "\"XACK\" \"s-recv\" \"default\" \"" + id + "\"",
        R"("XADD" "s-send" "MAXLEN" "~" "2000" "*" "node_id" "n1" "request_id" "r1" "type" "call" "extra" "{}" )"
        R"("out1" "x" "success" "true")",
    };
    std::vector<std::string> seen;
    while (seen.size() < expected.size()) {
        redisReply* r = nullptr;
        ASSERT_EQ(redisGetReply(monitor.get(), reinterpret_cast<void**>(&r)), REDIS_OK);
        std::string line = r->str;
        freeReplyObject(r);
        seen.push_back(line.substr(line.find("] ") + 2));
    }
    EXPECT_EQ(seen, expected);
}

TEST_F(RedisStreamTest, ErrorReplyIsLoggedWithItsType) {
    qbtest::LogLevel level(SDK_LOG_LEVEL_DEBUG);
    Read rd;
    // No group "default" yet: the server answers with an error.
    std::string out = qbtest::capture_stdout(
        [&] { EXPECT_EQ(redis_client_recv_data(client_, &rd.port, &rd.data, &rd.id), 0); });
    EXPECT_NE(out.find("redis unknown reply type = 6"), std::string::npos) << out;
    EXPECT_EQ(rd.port, nullptr);
    EXPECT_EQ(rd.data, nullptr);
    EXPECT_EQ(rd.id, nullptr);
}

TEST_F(RedisStreamTest, MissingArgumentsAndParametersSendNothing) {
    Read rd;
    EXPECT_EQ(redis_client_send_data(client_, nullptr, mut("out1"), mut("x"), mut("call"), 0), -1);
    EXPECT_EQ(redis_client_send_data(client_, mut("r"), nullptr, mut("x"), mut("call"), 0), -1);
    EXPECT_EQ(redis_client_send_data(client_, mut("r"), mut("out1"), nullptr, mut("call"), 0), -1);
    EXPECT_EQ(redis_client_send_data(client_, mut("r"), mut("out1"), mut("x"), nullptr, 0), -1);
    for (const char* var : {"QB_STREAM_NODE_ID", "QB_STREAM_RECV_QUEUE", "QB_STREAM_SEND_QUEUE"}) {
        SCOPED_TRACE(var);
        qbtest::QueueEnv env(server_.port(), "s-recv", "s-send", "n1");
        env.set(var, nullptr);
        std::string out = qbtest::capture_stdout([&] {
            if (strcmp(var, "QB_STREAM_SEND_QUEUE") == 0) {
                EXPECT_EQ(redis_client_send_data(client_, mut("r"), mut("out1"), mut("x"), mut("call"), 0), -1);
                EXPECT_EQ(redis_client_create_send_group(client_), -1);
            } else {
                if (strcmp(var, "QB_STREAM_RECV_QUEUE") == 0) {
                    EXPECT_EQ(redis_client_create_recv_group(client_), -1);
                }
                EXPECT_EQ(redis_client_recv_data(client_, &rd.port, &rd.data, &rd.id), -1);
                if (strcmp(var, "QB_STREAM_NODE_ID") == 0) {
                    EXPECT_EQ(redis_client_send_data(client_, mut("r"), mut("o"), mut("x"), mut("call"), 0), -1);
                }
            }
        });
        EXPECT_NE(out.find("Missing"), std::string::npos) << out;
    }
    auto size = peer_.cmd({"DBSIZE"});
    ASSERT_TRUE(size);
    EXPECT_EQ(size->integer, 0);
}

TEST_F(RedisStreamTest, NullClientIsRefused) {
    char* p = nullptr;
    EXPECT_EQ(redis_client_create_recv_group(nullptr), -1);
    EXPECT_EQ(redis_client_create_send_group(nullptr), -1);
    EXPECT_EQ(redis_client_recv_data(nullptr, &p, &p, &p), -1);
    EXPECT_EQ(redis_client_send_data(nullptr, mut("r"), mut("o"), mut("x"), mut("call"), 0), -1);
    EXPECT_EQ(redis_client_get_info(nullptr), -1);
    EXPECT_EQ(redis_client_get_info(client_), 0);
}

TEST_F(RedisStreamTest, RefusedAppendIsAnError) {
    peer_.cmd({"SET", "s-send", "not a stream"});
    std::string out = qbtest::capture_stdout(
        [&] { EXPECT_EQ(redis_client_send_data(client_, mut("r1"), mut("out1"), mut("x"), mut("call"), 0), -1); });
    EXPECT_NE(out.find("WRONGTYPE"), std::string::npos) << out;
}

TEST_F(RedisStreamTest, AppendReconnectsOnceAfterServerRestart) {
    server_.kill();
    ASSERT_TRUE(server_.restart()) << server_.error();
    EXPECT_EQ(redis_client_send_data(client_, mut("r1"), mut("out1"), mut("x"), mut("call"), 0), 0);
    qbtest::RedisConn peer(server_.port());
    auto len = peer.cmd({"XLEN", "s-send"});
    ASSERT_TRUE(len);
    EXPECT_EQ(len->integer, 1);

    server_.kill();
    std::string out = qbtest::capture_stdout(
        [&] { EXPECT_EQ(redis_client_send_data(client_, mut("r2"), mut("out1"), mut("x"), mut("call"), 0), -1); });
    EXPECT_NE(out.find("lost"), std::string::npos) << out;
}

// Replies as a server could send them, fed through hiredis's own parser.
TEST(RedisReplyShape, OnlyTheExpectedShapeYieldsAnEntry) {
    using qb::ReadResult;
    const std::string head = "*1\r\n*2\r\n$1\r\ns\r\n*1\r\n*2\r\n$3\r\n1-1\r\n";
    struct Case {
        std::string resp;
        ReadResult result;
        int bad_type;
        const char* port;
        const char* id;
    };
    const Case cases[] = {
        {"*-1\r\n", ReadResult::kNil, 4, nullptr, nullptr},
        {"-NOGROUP no group\r\n", ReadResult::kUnknown, 6, nullptr, nullptr},
        {"*0\r\n", ReadResult::kUnknown, 2, nullptr, nullptr},
        {"*1\r\n*1\r\n$1\r\ns\r\n", ReadResult::kUnknown, 2, nullptr, nullptr},         // stream without entries
        {"*1\r\n*2\r\n$1\r\ns\r\n*0\r\n", ReadResult::kUnknown, 2, nullptr, nullptr},  // no entry
        {"*1\r\n*2\r\n:1\r\n*0\r\n", ReadResult::kUnknown, 2, nullptr, nullptr},       // name not a string
        {"*1\r\n*2\r\n$1\r\ns\r\n*1\r\n*2\r\n:5\r\n*0\r\n", ReadResult::kUnknown, 2, nullptr, nullptr},
        {"*1\r\n*2\r\n$1\r\ns\r\n*1\r\n$3\r\nabc\r\n", ReadResult::kUnknown, 1, nullptr, nullptr},
        {head + "*-1\r\n", ReadResult::kEntry, 0, nullptr, nullptr},  // deleted entry: nil fields
        {head + "*3\r\n$2\r\nid\r\n$2\r\nr1\r\n$3\r\nin1\r\n", ReadResult::kEntry, 0, nullptr, "r1"},  // odd count
        {head + "*6\r\n$3\r\nin1\r\n:5\r\n:1\r\n$1\r\nx\r\n$2\r\nid\r\n$2\r\nr2\r\n", ReadResult::kEntry, 0,
         nullptr, "r2"},  // non-string name or value
        {head + "*4\r\n$3\r\nin1\r\n$2\r\nhi\r\n$2\r\nid\r\n$-1\r\n", ReadResult::kEntry, 0, "in1", nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.resp);
        redisReader* reader = redisReaderCreate();
        ASSERT_EQ(redisReaderFeed(reader, c.resp.data(), c.resp.size()), REDIS_OK);
        void* parsed = nullptr;
        ASSERT_EQ(redisReaderGetReply(reader, &parsed), REDIS_OK);
        ASSERT_NE(parsed, nullptr);
        qb::StreamEntry entry;
        int type = 0;
        EXPECT_EQ(qb::parse_read_reply(static_cast<redisReply*>(parsed), &entry, &type), c.result);
        if (c.result == ReadResult::kEntry) {
            EXPECT_STREQ(entry.stream, "s");
            EXPECT_STREQ(entry.entry_id, "1-1");
        } else if (c.result == ReadResult::kUnknown) {
            EXPECT_EQ(type, c.bad_type);
        }
        EXPECT_STREQ(entry.port_name, c.port);
        EXPECT_STREQ(entry.request_id, c.id);
        entry.release();
        freeReplyObject(parsed);
        redisReaderFree(reader);
    }
}

// The start-up retries end the process; run them in a child.
TEST(RedisStartup, UnreachableServerExitsAfterElevenTries) {
    const int port = qbtest::free_loopback_port();
    qbtest::QueueEnv env(port, "s-recv", "s-send", "n1");
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    fflush(stdout);
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        dup2(fds[1], 1);
        close(fds[0]);
        close(fds[1]);
        sdk_set_log_level(SDK_LOG_LEVEL_DEBUG);
        redis_client_init();
        _exit(0);  // not reached when the exit happens
    }
    close(fds[1]);
    std::string out;
    char buf[4096];
    for (ssize_t n; (n = read(fds[0], buf, sizeof buf)) > 0;) out.append(buf, static_cast<size_t>(n));
    close(fds[0]);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 255);
    EXPECT_EQ(qbtest::count_of(out, "[Retry left="), 11) << out;
    EXPECT_EQ(qbtest::count_of(out, "[Retry left=0] Connection 127.0.0.1 " + std::to_string(port) + " error"), 1);
    EXPECT_EQ(qbtest::count_of(out, "Failed to connect redis, exit"), 1);
    EXPECT_LT(out.find("[Retry left=10]"), out.find("[Retry left=9]"));
}

}  // namespace
