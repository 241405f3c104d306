// A build that leaves a backend out: the front ends refuse it with a log line
// and an error result instead of reaching for a table that is not there.
#include <gtest/gtest.h>

#include <string>

#include "data_channel.h"
#include "qb_mq.h"
#include "qb_storage.h"
#include "sdk_config.h"
#include "support/test_support.h"

#if !defined(ENABLE_QB_MQ_REDIS) || !defined(ENABLE_QB_MQ_FAKE) || !defined(ENABLE_QB_STORAGE_LOCAL) || \
    !defined(ENABLE_WEBSOCKET_SERVER) || !defined(ENABLE_WEBSOCKET_CLIENT)
namespace {

using qbtest::capture_stdout;
using qbtest::ScopedEnv;

char* mut(const char* s) { return const_cast<char*>(s); }

TEST(BackendsOff, FrontEndsRefuseWhatTheBuildLeavesOut) {
    ScopedEnv param("QB_PARAM", nullptr);
    std::string out;
#if !defined(ENABLE_QB_MQ_FAKE)
    {
        ScopedEnv off_platform("QB_MQ_TYPE", nullptr);
        Qb_mq mq = reinterpret_cast<Qb_mq>(1);
        out = capture_stdout([&] { mq = qb_mq_init(); });
        EXPECT_EQ(mq, nullptr);
        EXPECT_NE(out.find("Queue backend stand-alone is not available in this build\n"), out.npos) << out;
    }
#endif
#if !defined(ENABLE_QB_MQ_REDIS)
    {
        ScopedEnv on_platform("QB_MQ_TYPE", "redis");
        Qb_mq mq = reinterpret_cast<Qb_mq>(1);
        out = capture_stdout([&] { mq = qb_mq_init(); });
        EXPECT_EQ(mq, nullptr);
        EXPECT_NE(out.find("Queue backend redis is not available in this build\n"), out.npos) << out;
    }
#endif
#if !defined(ENABLE_QB_STORAGE_LOCAL)
    {
        ScopedEnv on_platform("QB_MQ_TYPE", "redis"), type("QB_STORAGE_TYPE", "local"), node("QB_NODE_ID", "n");
        QB_Storage s = reinterpret_cast<QB_Storage>(1);
        out = capture_stdout([&] { s = qb_storage_init(); });
        EXPECT_EQ(s, nullptr);
        EXPECT_NE(out.find("Storage type local is not available in this build\n"), out.npos) << out;
        out = capture_stdout([&] { EXPECT_EQ(qb_config_save(s, mut("p"), mut("f"), mut("x"), 1), -1); });
        EXPECT_NE(out.find("Null handle"), out.npos) << out;
    }
#endif
#if !defined(ENABLE_WEBSOCKET_SERVER) || !defined(ENABLE_WEBSOCKET_CLIENT)
    // Their modules cannot be registered (no register function); asked for by name, they are unknown.
    qbtest::TempDir dir;
    qbtest::write_file(dir.file("dc.json"), R"({"url": "ws://127.0.0.1/", "port": 1})");
    DC_module_Init();
    const char* off[] = {
#if !defined(ENABLE_WEBSOCKET_SERVER)
        "websocket_server",
#endif
#if !defined(ENABLE_WEBSOCKET_CLIENT)
        "websocket_client",
#endif
    };
    for (const char* name : off) {
        DC_Handle h = reinterpret_cast<DC_Handle>(1);
        out = capture_stdout([&] { h = DC_Init(mut(name), nullptr, nullptr, mut(dir.file("dc.json").c_str())); });
        EXPECT_EQ(h, nullptr) << name;
        EXPECT_NE(out.find(std::string("module ") + name + " not found"), out.npos) << out;
    }
#endif
}

}  // namespace
#endif
