// The ZeroMQ ends against pyzmq (a peer that is not ours), against each other and as channels.
#include <unistd.h>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>

#include "data_channel.h"
#include "support/peer_process.h"
#include "support/python_peer.h"
#include "support/redis_server.h"
#include "support/test_support.h"
#include "zmq_client.h"
#include "zmq_server.h"

namespace {
using qbtest::mut;

std::string received(ZMQS_Handle s) {
    char* data = nullptr;
    int size = -1;
    return ZMQ_Server_Recv_Data(s, &data, &size) == 0 ? std::string(data, size) : "<failed>";
}

TEST(Zmq, PullTakesTheFirstFrameFromPyzmqAndPushDeliversToIt) {
    const int port = qbtest::free_loopback_port();
    ZMQS_Handle server = ZMQ_Server_Start(mut("tcp://127.0.0.1"), port);
    ASSERT_NE(server, nullptr);
    // Sends three messages to our PULL, then binds a PULL of its own and prints what our PUSH sends it.
    qbtest::PeerProcess peer({qbtest::kSystemPython, "-c", R"(
import sys, zmq
ctx = zmq.Context()
push = ctx.socket(zmq.PUSH)
push.connect("tcp://127.0.0.1:" + sys.argv[1])
push.send_multipart([b"first", b"second", b"third"])
push.send(bytes(range(256)) * 4096)
push.send(b"")
pull = ctx.socket(zmq.PULL)
print("PORT", pull.bind_to_random_port("tcp://127.0.0.1"), flush=True)
while True:
    f = pull.recv_multipart()
    print("GOT", len(f), len(f[0]), f[0][:5].decode(), flush=True)
)", std::to_string(port)});
    EXPECT_EQ(received(server), "first");
    char *big = nullptr, *empty = nullptr;
    int big_size = 0, empty_size = -1;
    ASSERT_EQ(ZMQ_Server_Recv_Data(server, &big, &big_size), 0);
    EXPECT_EQ(big_size, 1 << 20);
    EXPECT_EQ(static_cast<unsigned char>(big[big_size - 1]), 255);
    ASSERT_EQ(ZMQ_Server_Recv_Data(server, &empty, &empty_size), 0);  // frees the 1 MiB frame
    EXPECT_EQ(empty_size, 0);

    ZMQC_Handle client = ZMQ_Client_Start(mut("tcp://127.0.0.1"), peer.wait_for_port_line());
    ASSERT_NE(client, nullptr);
    std::string block(65536, 'b');
    EXPECT_EQ(ZMQ_Client_Send_Data(client, mut("hello"), 5), 0);
    EXPECT_EQ(ZMQ_Client_Send_Data(client, block.data(), 65536), 0);
    EXPECT_TRUE(peer.wait_for_output("GOT 1 5 hello\nGOT 1 65536 bbbbb\n")) << peer.output();
    // Wrong directions and bad arguments fail instead of blocking or reading past the data.
    const std::string out = qbtest::capture_stdout([&] {
        EXPECT_EQ(ZMQ_Client_Recv_Data(client, &big, &big_size), -1);
        EXPECT_EQ(ZMQ_Server_Send_Data(server, mut("x"), 1), -1);
        EXPECT_EQ(ZMQ_Client_Send_Data(client, mut("x"), -1), -1);
        EXPECT_EQ(ZMQ_Client_Send_Data(nullptr, mut("x"), 1), -1);
        EXPECT_EQ(ZMQ_Client_Start(mut(("tcp://" + std::string(300, 'h')).c_str()), -2147483647 - 1), nullptr);
    });
    for (const char* line : {"ZMQ_Client_Recv_Data No msg", "Send:Null handle for ZMQ", "ZMQ Init failed"})
        EXPECT_NE(out.find(line), std::string::npos) << line;
    ZMQ_Client_Stop(client);
    ZMQ_Server_Stop(server);
}

TEST(Zmq, ChannelModulesCarryBlocksOverTheConfiguredEndpoint) {
    qbtest::TempDir dir;
    const std::string conf = dir.file("zmq.json");
    qbtest::write_file(conf, R"({"url": "tcp://127.0.0.1", "port": )" + std::to_string(qbtest::free_loopback_port()) + "}");
    DC_module_Init();
    DC_module_register_zmq_client();
    DC_module_register_zmq_server();
    DC_Handle server = DC_Init(mut("zmq_server"), nullptr, nullptr, mut(conf.c_str()));
    DC_Handle client = DC_Init(mut("zmq_client"), nullptr, nullptr, mut(conf.c_str()));
    ASSERT_TRUE(server && client);
    EXPECT_EQ(DC_Transfer(client, mut("block"), 5), 0);
    char* data = nullptr;
    int size = 0;
    ASSERT_EQ(DC_Receive(server, &data, &size), 0);
    EXPECT_EQ(std::string(data, size), "block");
    const std::string out = qbtest::capture_stdout([&] { EXPECT_EQ(DC_Init(mut("zmq_client"), nullptr, nullptr, mut("/nonexistent.json")), nullptr); });
    EXPECT_NE(out.find("ZMQ Config does not exist"), std::string::npos) << out;
}

// A threadsafe death test runs in a fresh process, so CZMQ starts there from scratch.
TEST(ZmqDeathTest, InterruptPrintsItsLineAndEndsTheProcessWithZero) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    // The process ends with its socket open, as documented: not a leak to report.
    const char* asan = getenv("ASAN_OPTIONS");
    qbtest::ScopedEnv no_leak_check("ASAN_OPTIONS", (std::string(asan ? asan : "") + ":detect_leaks=0").c_str());
    const int port = qbtest::free_loopback_port();
    auto interrupted = [port](bool server) {
        dup2(2, 1);  // the line goes to standard output; the death test reads standard error
        server ? ZMQ_Server_Start(mut("tcp://127.0.0.1"), port) : ZMQ_Client_Start(mut("tcp://127.0.0.1"), port);
        raise(SIGINT);
        _exit(3);
    };
    EXPECT_EXIT(interrupted(true), testing::ExitedWithCode(0), "ZMQ Server Interrupted");
    EXPECT_EXIT(interrupted(false), testing::ExitedWithCode(0), "ZMQ Client Interrupted");
}

}  // namespace
