// The ZeroMQ ends against pyzmq (a peer that is not ours), against each other and as channels.
#include <unistd.h>

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
pull = ctx.socket(zmq.PULL)
print("PORT", pull.bind_to_random_port("tcp://127.0.0.1"), flush=True)
while True:
    f = pull.recv_multipart()
    print("GOT", len(f), len(f[0]), f[0][:5].decode(), flush=True)
)", std::to_string(port)});
    EXPECT_EQ(received(server), "first");
    ZMQC_Handle client = ZMQ_Client_Start(mut("tcp://127.0.0.1"), peer.wait_for_port_line());
    ASSERT_NE(client, nullptr);
    std::string block(65536, 'b');
    EXPECT_EQ(ZMQ_Client_Send_Data(client, mut("hello"), 5), 0);
    EXPECT_EQ(ZMQ_Client_Send_Data(client, block.data(), 65536), 0);
    EXPECT_TRUE(peer.wait_for_output("GOT 1 5 hello\nGOT 1 65536 bbbbb\n")) << peer.output();
    // Wrong directions and bad arguments fail instead of blocking, reading past the data or overflowing.
    char* data = nullptr;
    int size = 0;
    EXPECT_EQ(ZMQ_Client_Recv_Data(client, &data, &size), -1);
    EXPECT_EQ(ZMQ_Server_Send_Data(server, mut("x"), 1), -1);
    EXPECT_EQ(ZMQ_Client_Send_Data(client, mut("x"), -1), -1);
    EXPECT_EQ(ZMQ_Client_Start(mut(("tcp://" + std::string(300, 'h')).c_str()), -2147483647 - 1), nullptr);
    ZMQ_Client_Stop(client);
    ZMQ_Server_Stop(server);
}

TEST(Zmq, ChannelModulesCarryBlocksOverTheConfiguredEndpoint) {
    qbtest::TempDir dir;
    qbtest::write_file(dir.file("zmq.json"), R"({"url": "tcp://127.0.0.1", "port": )" + std::to_string(qbtest::free_loopback_port()) + "}");
    DC_module_Init();
    DC_module_register_zmq_client();
    DC_module_register_zmq_server();
    DC_Handle server = DC_Init(mut("zmq_server"), nullptr, nullptr, mut(dir.file("zmq.json").c_str()));
    DC_Handle client = DC_Init(mut("zmq_client"), nullptr, nullptr, mut(dir.file("zmq.json").c_str()));
    char* data = nullptr;
    int size = 0;
    EXPECT_EQ(DC_Transfer(client, mut("block"), 5), 0);
    ASSERT_EQ(DC_Receive(server, &data, &size), 0);
    EXPECT_EQ(std::string(data, size), "block");
    EXPECT_EQ(DC_Init(mut("zmq_client"), nullptr, nullptr, mut("/nonexistent.json")), nullptr);  // "ZMQ Config does not exist"
}

// A threadsafe death test runs in a fresh process, so CZMQ starts there from scratch.
TEST(ZmqDeathTest, InterruptPrintsItsLineAndEndsTheProcessWithZero) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const char* asan = getenv("ASAN_OPTIONS");  // ending with the socket open is documented, not a leak
    qbtest::ScopedEnv no_leak_check("ASAN_OPTIONS", (std::string(asan ? asan : "") + ":detect_leaks=0").c_str());
    auto interrupted = [port = qbtest::free_loopback_port()](bool server) {
        dup2(2, 1);  // the line goes to standard output; the death test reads standard error
        server ? ZMQ_Server_Start(mut("tcp://127.0.0.1"), port) : ZMQ_Client_Start(mut("tcp://127.0.0.1"), port);
        raise(SIGINT);
        _exit(3);
    };
    EXPECT_EXIT(interrupted(true), testing::ExitedWithCode(0), "ZMQ Server Interrupted");
    EXPECT_EXIT(interrupted(false), testing::ExitedWithCode(0), "ZMQ Client Interrupted");
}

}  // namespace
