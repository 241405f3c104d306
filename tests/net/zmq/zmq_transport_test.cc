// The ZeroMQ PUSH/PULL ends against each other, against pyzmq (a peer that is
// not ours) and through their data channel modules.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <string>

#include <unistd.h>

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
    if (ZMQ_Server_Recv_Data(s, &data, &size) != 0) return "<failed>";
    return std::string(data, static_cast<size_t>(size));
}

TEST(Zmq, OurPushReachesOurPullAndEachFrameStaysValidUntilTheNextReceive) {
    const int port = qbtest::free_loopback_port();
    ZMQS_Handle server = ZMQ_Server_Start(mut("tcp://127.0.0.1"), port);
    ASSERT_NE(server, nullptr);
    ZMQC_Handle client = ZMQ_Client_Start(mut("tcp://127.0.0.1"), port);
    ASSERT_NE(client, nullptr);

    EXPECT_EQ(ZMQ_Client_Send_Data(client, mut("hello"), 5), 0);
    EXPECT_EQ(ZMQ_Client_Send_Data(client, nullptr, 0), 0);
    EXPECT_EQ(ZMQ_Client_Send_Data(client, mut("third"), 5), 0);
    char *first = nullptr, *second = nullptr;
    int n1 = -1, n2 = -1;
    ASSERT_EQ(ZMQ_Server_Recv_Data(server, &first, &n1), 0);
    EXPECT_EQ(std::string(first, n1), "hello");
    ASSERT_EQ(ZMQ_Server_Recv_Data(server, &second, &n2), 0);
    EXPECT_EQ(n2, 0);
    EXPECT_EQ(received(server), "third");

    // Wrong directions and bad sizes fail instead of blocking or reading past the data.
    char* data = nullptr;
    int size = 0;
    std::string out = qbtest::capture_stdout([&] {
        EXPECT_EQ(ZMQ_Client_Recv_Data(client, &data, &size), -1);
        EXPECT_EQ(ZMQ_Server_Send_Data(server, mut("x"), 1), -1);
        EXPECT_EQ(ZMQ_Client_Send_Data(client, mut("x"), -1), -1);
    });
    EXPECT_NE(out.find("ZMQ_Client_Recv_Data No msg"), std::string::npos) << out;
    ZMQ_Client_Stop(client);
    ZMQ_Server_Stop(server);
}

TEST(Zmq, PullReceivesFromPyzmqAndKeepsTheFirstFrame) {
    const int port = qbtest::free_loopback_port();
    ZMQS_Handle server = ZMQ_Server_Start(mut("tcp://127.0.0.1"), port);
    ASSERT_NE(server, nullptr);
    qbtest::PeerProcess peer({qbtest::kSystemPython, "-c", R"(
import sys, zmq
s = zmq.Context().socket(zmq.PUSH)
s.connect("tcp://127.0.0.1:" + sys.argv[1])
s.send_multipart([b"first", b"second", b"third"])
s.send(bytes(range(256)) * 4096)
s.send(b"end")
s.close(linger=10000)
print("SENT", flush=True)
)",
                              std::to_string(port)});
    EXPECT_EQ(received(server), "first");
    char* data = nullptr;
    int size = 0;
    ASSERT_EQ(ZMQ_Server_Recv_Data(server, &data, &size), 0);
    ASSERT_EQ(size, 1 << 20);
    EXPECT_EQ(static_cast<unsigned char>(data[size - 1]), 255);
    EXPECT_EQ(received(server), "end");
    EXPECT_TRUE(peer.wait_for_output("SENT")) << peer.output();
    ZMQ_Server_Stop(server);
}

TEST(Zmq, PushDeliversToPyzmq) {
    qbtest::PeerProcess peer({qbtest::kSystemPython, "-c", R"(
import zmq
s = zmq.Context().socket(zmq.PULL)
print("PORT", s.bind_to_random_port("tcp://127.0.0.1"), flush=True)
while True:
    f = s.recv_multipart()
    print("GOT", len(f), len(f[0]), f[0][:8].decode(), flush=True)
)"});
    const int port = peer.wait_for_port_line();
    ASSERT_GT(port, 0) << peer.output();
    ZMQC_Handle client = ZMQ_Client_Start(mut("tcp://127.0.0.1"), port);
    ASSERT_NE(client, nullptr);
    std::string big(65536, 'b');
    EXPECT_EQ(ZMQ_Client_Send_Data(client, mut("hello"), 5), 0);
    EXPECT_EQ(ZMQ_Client_Send_Data(client, big.data(), static_cast<int>(big.size())), 0);
    EXPECT_TRUE(peer.wait_for_output("GOT 1 5 hello\nGOT 1 65536 bbbbbbbb\n")) << peer.output();
    ZMQ_Client_Stop(client);
}

TEST(Zmq, RefusedStartsAndNullHandles) {
    std::string out = qbtest::capture_stdout([] {
        EXPECT_EQ(ZMQ_Server_Start(nullptr, 1), nullptr);
        EXPECT_EQ(ZMQ_Client_Start(mut("nonsense"), 1), nullptr);
        // A long address is formatted whole, not cut or overflowed.
        const std::string long_host = "tcp://" + std::string(300, 'h');
        EXPECT_EQ(ZMQ_Server_Start(mut(long_host.c_str()), -2147483647 - 1), nullptr);
    });
    EXPECT_EQ(qbtest::count_of(out, "ZMQ Init failed"), 3) << out;
    char* data = nullptr;
    int size = 0;
    out = qbtest::capture_stdout([&] {
        EXPECT_EQ(ZMQ_Client_Send_Data(nullptr, mut("x"), 1), -1);
        EXPECT_EQ(ZMQ_Client_Recv_Data(nullptr, &data, &size), -1);
        ZMQ_Client_Stop(nullptr);
        EXPECT_EQ(ZMQ_Server_Send_Data(nullptr, mut("x"), 1), -1);
        EXPECT_EQ(ZMQ_Server_Recv_Data(nullptr, &data, &size), -1);
        ZMQ_Server_Stop(nullptr);
    });
    for (const char* line : {"Send:Null handle for ZMQ", "Recv:Null handle for ZMQ", "Stop:Null handle for ZMQ"})
        EXPECT_NE(out.find(line), std::string::npos) << line;
    EXPECT_EQ(qbtest::count_of(out, "[zmq_server]"), 3) << out;
}

TEST(Zmq, ChannelModulesCarryBlocksOverTheConfiguredEndpoint) {
    qbtest::TempDir dir;
    const int port = qbtest::free_loopback_port();
    const std::string conf = dir.file("zmq.json");
    qbtest::write_file(conf, R"({"url": "tcp://127.0.0.1", "port": )" + std::to_string(port) + "}");
    DC_module_Init();
    DC_module_register_zmq_client();
    DC_module_register_zmq_server();
    DC_Handle server = DC_Init(mut("zmq_server"), nullptr, nullptr, mut(conf.c_str()));
    DC_Handle client = DC_Init(mut("zmq_client"), nullptr, nullptr, mut(conf.c_str()));
    ASSERT_NE(server, nullptr);
    ASSERT_NE(client, nullptr);
    EXPECT_EQ(DC_Transfer(client, mut("block"), 5), 0);
    char* data = nullptr;
    int size = 0;
    ASSERT_EQ(DC_Receive(server, &data, &size), 0);
    EXPECT_EQ(std::string(data, size), "block");

    std::string out = qbtest::capture_stdout(
        [&] { EXPECT_EQ(DC_Init(mut("zmq_client"), nullptr, nullptr, mut(dir.file("none.json").c_str())), nullptr); });
    EXPECT_NE(out.find("ZMQ_CLIENT_DC"), std::string::npos);
    EXPECT_NE(out.find("ZMQ Config does not exist"), std::string::npos);
    EXPECT_NE(out.find("module zmq_client init failed"), std::string::npos);
}

// Runs in a fresh child process (threadsafe death test), so CZMQ starts there from scratch.
TEST(ZmqDeathTest, InterruptPrintsItsLineAndEndsTheProcessWithZero) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const int port = qbtest::free_loopback_port();
    // The process ends with its socket open, as documented: not a leak to report.
    const char* asan = getenv("ASAN_OPTIONS");
    qbtest::ScopedEnv no_leak_check("ASAN_OPTIONS", (std::string(asan ? asan : "") + ":detect_leaks=0").c_str());
    EXPECT_EXIT(
        {
            dup2(2, 1);  // the line goes to standard output; the death test reads standard error
            ZMQ_Server_Start(mut("tcp://127.0.0.1"), port);
            raise(SIGINT);
            _exit(3);
        },
        testing::ExitedWithCode(0), "ZMQ Server Interrupted");
    EXPECT_EXIT(
        {
            dup2(2, 1);
            ZMQ_Client_Start(mut("tcp://127.0.0.1"), port);
            raise(SIGINT);
            _exit(3);
        },
        testing::ExitedWithCode(0), "ZMQ Client Interrupted");
}

}  // namespace
