// The nanomsg PAIR ends against each other and through their channel modules.
#include <nanomsg/nn.h>

#include <gtest/gtest.h>

#include <string>

#include "data_channel.h"
#include "nanomsg_client.h"
#include "nanomsg_server.h"
#include "net/nanomsg/nanomsg_link.h"
#include "support/redis_server.h"
#include "support/test_support.h"

namespace {
using qbtest::mut;

// A receive that fails after 30 s instead of hanging the suite.
void bound_receives(void* handle) {
    const int ms = 30000;
    nn_setsockopt(static_cast<qb::nanomsg::nano_msg_hdl*>(handle)->sock, NN_SOL_SOCKET, NN_RCVTIMEO, &ms, sizeof ms);
}

TEST(NanoMsg, PairCarriesMessagesBothWaysInTheHandlesBuffer) {
    const int port = qbtest::free_loopback_port();
    NanoMsgS_Handle server = NanoMsg_Server_Start(mut("tcp://127.0.0.1"), port);
    ASSERT_NE(server, nullptr);
    NanoMsgC_Handle client = NanoMsg_Client_Start(mut("tcp://127.0.0.1"), port);
    ASSERT_NE(client, nullptr);
    bound_receives(server);
    bound_receives(client);

    char* data = nullptr;
    int size = 0;
    EXPECT_EQ(NanoMsg_Client_Send_Data(client, mut("0123456789"), 10), 10);
    ASSERT_EQ(NanoMsg_Server_Recv_Data(server, &data, &size), 0);
    EXPECT_EQ(std::string(data, size), "0123456789");
    EXPECT_EQ(NanoMsg_Server_Send_Data(server, mut("abcdefghij"), 10), 10);
    ASSERT_EQ(NanoMsg_Client_Recv_Data(client, &data, &size), 0);
    EXPECT_EQ(std::string(data, size), "abcdefghij");

    // The next receive reuses the same buffer.
    char* again = nullptr;
    EXPECT_EQ(NanoMsg_Server_Send_Data(server, mut("XY"), 2), 2);
    ASSERT_EQ(NanoMsg_Client_Recv_Data(client, &again, &size), 0);
    EXPECT_EQ(again, data);
    EXPECT_EQ(std::string(data, 3), std::string("XYc"));

    // Over nanomsg's default 1 MiB limit: 3 MiB arrive as the buffer's 2 MiB, with a warning.
    std::string big(3 << 20, 0);
    for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i % 251);
    EXPECT_EQ(NanoMsg_Client_Send_Data(client, big.data(), static_cast<int>(big.size())), static_cast<int>(big.size()));
    const std::string out = qbtest::capture_stdout([&] { ASSERT_EQ(NanoMsg_Server_Recv_Data(server, &data, &size), 0); });
    ASSERT_EQ(size, NANO_MSG_INTERNAL_BUFFER_SIZE);
    EXPECT_EQ(std::string(data, size), big.substr(0, NANO_MSG_INTERNAL_BUFFER_SIZE));
    EXPECT_NE(out.find("cut to 2097152"), std::string::npos) << out;

    EXPECT_EQ(NanoMsg_Client_Send_Data(client, mut("x"), -1), -1);
    NanoMsg_Client_Stop(client);
    NanoMsg_Server_Stop(server);
}

TEST(NanoMsg, StopReleasesThePortAndFailedStartsLeakNoSocket) {
    const int port = qbtest::free_loopback_port();
    NanoMsgS_Handle server = NanoMsg_Server_Start(mut("tcp://127.0.0.1"), port);
    ASSERT_NE(server, nullptr);
    std::string out = qbtest::capture_stdout(
        [&] { EXPECT_EQ(NanoMsg_Server_Start(mut("tcp://127.0.0.1"), port), nullptr); });
    EXPECT_NE(out.find("NanoMsg Bind failed"), std::string::npos) << out;
    NanoMsg_Server_Stop(server);
    server = NanoMsg_Server_Start(mut("tcp://127.0.0.1"), port);
    EXPECT_NE(server, nullptr) << "the stopped server still holds the port";
    NanoMsg_Server_Stop(server);

    // nanomsg has room for 512 sockets: failed starts that kept theirs would run out.
    out = qbtest::capture_stdout([] {
        for (int i = 0; i < 600; ++i) EXPECT_EQ(NanoMsg_Client_Start(mut("nonsense"), 1), nullptr);
    });
    EXPECT_EQ(qbtest::count_of(out, "NanoMsg Connect failed"), 600);
    EXPECT_EQ(qbtest::count_of(out, "NanoMsg Init failed"), 0);

    char* data = nullptr;
    int size = 0;
    out = qbtest::capture_stdout([&] {
        EXPECT_EQ(NanoMsg_Server_Start(nullptr, 1), nullptr);
        EXPECT_EQ(NanoMsg_Client_Send_Data(nullptr, mut("x"), 1), -1);
        EXPECT_EQ(NanoMsg_Server_Recv_Data(nullptr, &data, &size), -1);
        NanoMsg_Client_Stop(nullptr);
    });
    for (const char* line : {"NanoMsg Init failed", "Send:NULL handle for Nanomsg", "Recv:NULL handle for Nanomsg",
                             "Stop:NULL handle for Nanomsg"})
        EXPECT_NE(out.find(line), std::string::npos) << line;
}

TEST(NanoMsg, ChannelModulesCarryBlocksBothWays) {
    qbtest::TempDir dir;
    const std::string conf = dir.file("nn.json");
    qbtest::write_file(conf, R"({"url": "tcp://127.0.0.1", "port": )" + std::to_string(qbtest::free_loopback_port()) + "}");
    DC_module_Init();
    DC_module_register_nanomsg_server();
    DC_module_register_nanomsg_client();
    DC_Handle server = DC_Init(mut("nanomsg_server"), nullptr, nullptr, mut(conf.c_str()));
    DC_Handle client = DC_Init(mut("nanomsg_client"), nullptr, nullptr, mut(conf.c_str()));
    ASSERT_NE(server, nullptr);
    ASSERT_NE(client, nullptr);
    char* data = nullptr;
    int size = 0;
    EXPECT_EQ(DC_Transfer(client, mut("up"), 2), 2);
    ASSERT_EQ(DC_Receive(server, &data, &size), 0);
    EXPECT_EQ(std::string(data, size), "up");
    EXPECT_EQ(DC_Transfer(server, mut("down"), 4), 4);
    ASSERT_EQ(DC_Receive(client, &data, &size), 0);
    EXPECT_EQ(std::string(data, size), "down");

    const std::string out = qbtest::capture_stdout(
        [&] { EXPECT_EQ(DC_Init(mut("nanomsg_server"), nullptr, nullptr, mut(dir.file("none.json").c_str())), nullptr); });
    EXPECT_NE(out.find("NANOMSG_SERVER_DC"), std::string::npos);
    EXPECT_NE(out.find("NanoMsg Config does not exist"), std::string::npos);
    EXPECT_NE(out.find("module nanomsg_server init failed"), std::string::npos);
}

}  // namespace
