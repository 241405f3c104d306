// The C++ owners of the queue and storage, against a real redis-server and
// the stand-alone storage tree.
#include "qb_env.hpp"
#include "qb_mq.hpp"
#include "qb_storage.hpp"
#include "sdk_config.h"
#include "support/lines.h"
#include "support/redis_server.h"
#include "support/test_support.h"

namespace {

#ifdef ENABLE_QB_MQ_REDIS
// The lambda answers through the queue it is given and records what it saw;
// moving the owner keeps it registered; a moved-from owner refuses sends.
TEST(QbMqCpp, LambdaAnswersAndOwnershipMoves) {
    qbtest::RedisServer server;
    ASSERT_TRUE(server.running()) << server.error();
    qbtest::QueueEnv env(server.port(), "c-recv", "c-send", "n1");
    qbtest::RedisConn peer(server.port());
    ASSERT_TRUE(qb::on_platform());
    EXPECT_EQ(qb::get_env("--stream-recv-queue").value_or(""), "c-recv");
    EXPECT_FALSE(qb::get_env("--no-such-parameter"));

    qbtest::Lines seen;
    auto opened = qb::MessageQueue::open([&](qb::MqRef q, std::string_view port, std::string_view data,
                                             std::string_view id) {
        EXPECT_TRUE(q.send("out1", std::string(data) + "!", id).ok());
        seen.add(std::string(port) + " " + std::string(data) + " " + std::string(id));
    });
    ASSERT_TRUE(opened) << opened.error().function;
    qb::MessageQueue mq = std::move(*opened);
    EXPECT_FALSE(opened->send("out1", "x", "r0")) << "moved-from";
    EXPECT_STREQ(opened->send("out1", "x", "r0").error().function, "qb_mq_send");
    EXPECT_TRUE(opened->close()) << "closing a moved-from owner does nothing";

    peer.cmd({"XADD", "c-recv", "*", "id", "r1", "in1", "hello"});
    ASSERT_TRUE(seen.wait_for("in1 hello r1")) << testing::PrintToString(seen.all());
    EXPECT_TRUE(mq.trigger("out2", "own"));
    qbtest::eventually([&] { return peer.cmd({"XLEN", "c-send"})->integer >= 2; });
    const auto sent = peer.entries("c-send");
    ASSERT_EQ(sent.size(), 2u);
    // Field `from`, the type and the value.
    auto entry = [&](size_t i, size_t from) { return sent[i][from] + " " + sent[i][5] + " " + sent[i][9]; };
    EXPECT_EQ(entry(0, 3), "r1 call hello!");
    EXPECT_EQ(entry(1, 8), "out2 trigger own");
    EXPECT_TRUE(mq.close());
    EXPECT_FALSE(mq.send("out1", "late", "r1"));
}
#endif

// Loads hand back owned strings (temporary files keep NULs); failures carry the C code and name.
TEST(QbStorageCpp, StandAloneRoundTripsAndErrors) {
    qbtest::TempDir dir;
    qbtest::ScopedChdir here(dir.path());
    auto st = qb::Storage::open();
    ASSERT_TRUE(st);
    const std::string blob("a\0b\xff", 4);
    ASSERT_TRUE(st->save_config("in1", "model.json", R"({"k":1})"));
    EXPECT_EQ(st->load_config("in1", "model.json").value(), R"({"k":1})");
    ASSERT_TRUE(st->save_config(std::nullopt, "top.json", "{}"));
    EXPECT_EQ(st->load_config(std::nullopt, "top.json").value(), "{}");
    EXPECT_TRUE(st->delete_config("in1", "model.json"));
    auto gone = st->load_config("in1", "model.json");
    ASSERT_FALSE(gone);
    EXPECT_EQ(gone.error().code, -1);
    EXPECT_STREQ(gone.error().function, "qb_config_load");
    EXPECT_FALSE(st->save_config("..", "x", "y")) << "a traversal is refused";

    auto url = st->save_tmp_file("r1", "out1", "frame.raw", blob);
    ASSERT_TRUE(url);
    EXPECT_EQ(url->rfind("studio/", 0), 0u) << *url;
    EXPECT_EQ(st->load_tmp_file(*url, "frame.raw").value_or(""), blob);
    EXPECT_TRUE(st->delete_tmp_file(*url, "frame.raw"));
    EXPECT_FALSE(st->load_tmp_file(*url, "frame.raw"));

    qb::Storage other = std::move(*st);
    EXPECT_FALSE(st->save_config("in1", "a", "b"));
    EXPECT_TRUE(other.close());
    EXPECT_TRUE(other.close());
}

}  // namespace
