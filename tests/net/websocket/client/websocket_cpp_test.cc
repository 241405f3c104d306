// The WebSocket owners and the data channel owner, each other's real peers
// on loopback: lambdas reach the hooks, owners move, stop joins the threads.
#include <gtest/gtest.h>

#include <atomic>

#include "qb_data_channel.hpp"
#include "qb_websocket_client.hpp"
#include "qb_websocket_server.hpp"
#include "support/lines.h"
#include "support/redis_server.h"
#include "support/test_support.h"

namespace {

std::atomic<int> g_opened{0}, g_closed{0};

TEST(WebSocketCpp, ServerAndClientLambdasBothWays) {
    qbtest::Lines server_saw, client_saw;
    auto started = qb::WsServer::start(
        0,
        [&](qb::WsSession s, ws_callback_type type, std::string_view data) {
            server_saw.add(std::to_string(type) + " " + std::string(data));
            EXPECT_TRUE(type == WS_CB_BINARY ? s.send_binary(data) : s.send_text("re:" + std::string(data)));
        },
        [](void*) { g_opened++; }, [](void*) { g_closed++; });
    ASSERT_TRUE(started);
    qb::WsServer server = std::move(*started);
    EXPECT_FALSE(started->port()) << "moved-from";
    const int port = server.port().value();

    int loops = 0;  // touched only on the client's thread until stop() has joined it
    qb::WsClientHooks hooks;
    hooks.on_open = [&](qb::WsConnection c) { EXPECT_TRUE(c.send_text("hi")); };
    hooks.on_message = [&](qb::WsConnection, std::string_view data, bool binary) {
        client_saw.add((binary ? "bin " : "text ") + std::string(data));
    };
    hooks.on_loop = [&] { loops++; };
    auto client = qb::WsClient::start("127.0.0.1", port, "/", std::move(hooks), R"({"X-Test":"1"})");
    ASSERT_TRUE(client);
    ASSERT_TRUE(client_saw.wait_for("text re:hi"));
    EXPECT_TRUE(client->connected());
    const std::string blob("\0\x01\xff", 3);
    ASSERT_TRUE(client->send_binary(blob));
    ASSERT_TRUE(client_saw.wait_for("bin " + blob));
    EXPECT_EQ(server_saw.all(), (std::vector<std::string>{"1 hi", "2 " + blob}));

    EXPECT_TRUE(client->stop());
    EXPECT_GT(loops, 0);
    EXPECT_FALSE(client->send_text("late")) << "a stopped client refuses";
    EXPECT_FALSE(client->connected());
    EXPECT_TRUE(server.stop());
    EXPECT_EQ(g_opened.load(), 1);
    EXPECT_EQ(g_closed.load(), 1);
}

// The websocket_server channel delivers to its lambda and answers the
// session that last sent; opening an unknown module is an error.
TEST(DataChannelCpp, WebSocketServerChannelWithLambda) {
    qb::DataChannel::init_modules();
    qb::DataChannel::register_websocket_server();
    qbtest::TempDir dir;
    const int port = qbtest::free_loopback_port();
    qbtest::write_file(dir.file("ch.json"), "{\"port\": " + std::to_string(port) + "}");
    qbtest::Lines got, back;
    auto ch = qb::DataChannel::open("websocket_server", dir.file("ch.json"),
                                    [&](std::string_view block) { got.add(std::string(block)); });
    ASSERT_TRUE(ch);
    auto unknown = qb::DataChannel::open("no_such_module", dir.file("ch.json"));
    ASSERT_FALSE(unknown);
    EXPECT_STREQ(unknown.error().function, "DC_Init");
    EXPECT_FALSE(ch->send("nobody")) << "no session has sent yet";

    qb::WsClientHooks hooks;
    hooks.on_open = [](qb::WsConnection c) { (void)c.send_binary("ping"); };
    hooks.on_message = [&](qb::WsConnection, std::string_view data, bool) { back.add(std::string(data)); };
    auto client = qb::WsClient::start("127.0.0.1", port, "/", std::move(hooks));
    ASSERT_TRUE(client);
    ASSERT_TRUE(got.wait_for("ping"));
    EXPECT_EQ(ch->send("pong").value_or(-1), 0);
    EXPECT_TRUE(back.wait_for("pong"));
    qb::DataChannel moved = std::move(*ch);
    EXPECT_FALSE(ch->send("x")) << "moved-from";
    ASSERT_TRUE(client->send_binary("again"));
    EXPECT_TRUE(got.wait_for("again"));
}

}  // namespace
