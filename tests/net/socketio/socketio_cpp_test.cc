// The Socket.IO owner against the real Socket.IO server the C tests use:
// lambdas reach the event and ack hooks, arguments go out as views.
#include "qb_socketio.hpp"
#include "support/lines.h"
#include "support/node_peer.h"
#include "support/test_support.h"

namespace {

const std::string kServer = QB_TEST_SOURCE_DIR "/support/node/sio_server.js";

bool server_saw(qbtest::NodePeer& server, const std::string& needle) {
    return qbtest::eventually([&] { return server.output().find(needle) != std::string::npos; }, 20000);
}

std::string line(const qb::SioEvent& e) {
    std::string s = (e.nsp.empty() ? "-" : std::string(e.nsp)) + " " + std::string(e.name);
    for (size_t i = 0; i < e.args.size(); i++) s += " " + std::string(e.arg(i));
    return e.message_id >= 0 ? s + " #" + std::to_string(e.message_id) : s;
}

TEST(SocketIoCpp, EventsAcksAndArgumentsThroughLambdas) {
    qbtest::NodePeer server(kServer);
    ASSERT_GT(server.port(), 0) << server.output();
    auto sio = qb::SioClient::create("127.0.0.1", server.port(), {1, 50, 200, 1000, 600000}, "/chat");
    ASSERT_TRUE(sio);
    qbtest::Lines seen;
    ASSERT_TRUE(sio->start({.on_event = [&](qb::SioSession, const qb::SioEvent& e) { seen.add(line(e)); },
                            .on_ack = [&](qb::SioSession s, const qb::SioEvent& e) {
                                // Hooks emit through the session they are given.
                                if (e.name == "question") {
                                    EXPECT_TRUE(s.emit("answered", "yes", SIO_QOS_HIGH, "/chat"));
                                }
                                seen.add(line(e));
                            }}));
    EXPECT_FALSE(sio->start({})) << "started once";
    ASSERT_TRUE(seen.wait_for("/chat connect"));

    EXPECT_EQ(sio->emit_with_ack("hello", "world").value_or(-1), 0);
    EXPECT_TRUE(seen.wait_for(R"(- ok {"got":"hello"} #0)"));
    const std::string blob("\0\x01", 2);
    const qb::SioArg args[] = {{"caption"}, {blob, true}};
    EXPECT_TRUE(sio->emit_args("echo", args, SIO_QOS_HIGH, "/chat"));
    EXPECT_TRUE(server_saw(server, "EVENT /chat echo \"caption\" Buffer:0001"));
    EXPECT_TRUE(sio->emit("ask", std::nullopt, SIO_QOS_HIGH, "/chat"));
    EXPECT_TRUE(seen.wait_for("/chat question q? #0"));
    EXPECT_TRUE(server_saw(server, "EVENT /chat answered \"yes\""));

    auto long_ns = sio->emit("x", std::nullopt, SIO_QOS_HIGH, std::string(60, 'n'));
    ASSERT_FALSE(long_ns);
    EXPECT_EQ(long_ns.error().code, -1);
    EXPECT_STREQ(long_ns.error().function, "SIO_Client_Emit");

    qb::SioClient moved = std::move(*sio);
    EXPECT_FALSE(sio->emit("x")) << "moved-from";
    EXPECT_TRUE(moved.close());
    EXPECT_FALSE(moved.emit("x")) << "closed";
}

}  // namespace
