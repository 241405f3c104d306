// The nanomsg PAIR ends against each other, directly and as channels.
#include <nanomsg/nn.h>

#include "data_channel_impl.h"
#include "nanomsg_client.h"
#include "nanomsg_server.h"
#include "net/nanomsg/nanomsg_link.h"
#include "support/redis_server.h"
#include "support/test_support.h"

namespace {
using qbtest::mut;

TEST(NanoMsg, ChannelsCarryMessagesBothWaysInTheHandlesBuffer) {
    qbtest::TempDir dir;
    const int port = qbtest::free_loopback_port();
    qbtest::write_file(dir.file("nn.json"), R"({"url": "tcp://127.0.0.1", "port": )" + std::to_string(port) + "}");
    DC_module_Init();
    DC_module_register_nanomsg_server();
    DC_module_register_nanomsg_client();
    DC_Handle server = DC_Init(mut("nanomsg_server"), nullptr, nullptr, mut(dir.file("nn.json").c_str()));
    DC_Handle client = DC_Init(mut("nanomsg_client"), nullptr, nullptr, mut(dir.file("nn.json").c_str()));
    ASSERT_TRUE(server && client);
    const int limit = 30000;  // a failing receive ends the test instead of hanging it
    for (DC_Handle ch : {server, client})
        nn_setsockopt(static_cast<qb::nanomsg::nano_msg_hdl*>(static_cast<dc_handle*>(ch)->handle)->sock, NN_SOL_SOCKET, NN_RCVTIMEO, &limit, sizeof limit);
    char *data = nullptr, *again = nullptr;
    int size = 0;
    EXPECT_EQ(DC_Transfer(client, mut("0123456789"), 10), 10);
    ASSERT_EQ(DC_Receive(server, &data, &size), 0);
    EXPECT_EQ(std::string(data, size), "0123456789");
    EXPECT_EQ(DC_Transfer(server, mut("XY"), 2), 2);
    ASSERT_EQ(DC_Receive(client, &again, &size), 0);
    EXPECT_EQ(DC_Transfer(server, mut("abcdefghij"), 10), 10);
    ASSERT_EQ(DC_Receive(client, &data, &size), 0);
    EXPECT_EQ(data, again);  // one buffer per handle, overwritten by the next receive
    EXPECT_EQ(std::string(data, size), "abcdefghij");

    // Over nanomsg's default 1 MiB limit: 3 MiB arrive as the buffer's first 2 MiB, with a warning.
    std::string big(3 << 20, 0);
    for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i % 251);
    EXPECT_EQ(DC_Transfer(client, big.data(), static_cast<int>(big.size())), static_cast<int>(big.size()));
    const std::string out = qbtest::capture_stdout([&] { ASSERT_EQ(DC_Receive(server, &data, &size), 0); });
    EXPECT_EQ(std::string(data, size), big.substr(0, NANO_MSG_INTERNAL_BUFFER_SIZE));
    EXPECT_NE(out.find("cut to 2097152"), std::string::npos) << out;
    EXPECT_EQ(DC_Transfer(client, mut("x"), -1), -1);
    const std::string none = qbtest::capture_stdout([&] { EXPECT_EQ(DC_Init(mut("nanomsg_client"), nullptr, nullptr, mut("/nonexistent.json")), nullptr); });
    EXPECT_NE(none.find("NanoMsg Config does not exist"), std::string::npos) << none;
}

TEST(NanoMsg, StopReleasesThePortAndFailedStartsKeepNoSocket) {
    const int port = qbtest::free_loopback_port();
    NanoMsgS_Handle server = NanoMsg_Server_Start(mut("tcp://127.0.0.1"), port);
    ASSERT_NE(server, nullptr);
    std::string out = qbtest::capture_stdout([&] { EXPECT_EQ(NanoMsg_Server_Start(mut("tcp://127.0.0.1"), port), nullptr); });
    EXPECT_NE(out.find("NanoMsg Bind failed"), std::string::npos) << out;
    NanoMsg_Server_Stop(server);
    server = NanoMsg_Server_Start(mut("tcp://127.0.0.1"), port);
    EXPECT_NE(server, nullptr) << "the stopped server still holds the port";
    NanoMsg_Server_Stop(server);

    // nanomsg has room for 512 sockets: failed starts that kept theirs would run out.
    out = qbtest::capture_stdout([] {
        for (int i = 0; i < 600; ++i) NanoMsg_Client_Start(mut("nonsense"), 1);
        NanoMsg_Client_Stop(nullptr);
    });
    EXPECT_EQ(qbtest::count_of(out, "NanoMsg Connect failed"), 600);
    EXPECT_NE(out.find("Stop:NULL handle for Nanomsg"), std::string::npos);
}

}  // namespace
