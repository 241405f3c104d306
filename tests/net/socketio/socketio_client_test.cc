// The session against a real Socket.IO 4 server (npm socket.io with Engine.IO 3
// clients allowed), started by each test on a loopback port.
#include "socketio_client.h"

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "sdk_os.h"
#include "support/node_peer.h"
#include "support/redis_server.h"
#include "support/test_support.h"
#include "net/socketio/sio_recorder.h"

namespace {
using qbtest::mut;
const std::string kServer = QB_TEST_SOURCE_DIR "/support/node/sio_server.js";

using Events = qbtest::SioRecorder;

// Polls the server's output until it holds needle (times times).
bool server_saw(qbtest::NodePeer& server, const std::string& needle, int times = 1) {
    return qbtest::eventually([&] { return qbtest::count_of(server.output(), needle) >= times; }, 20000);
}

SIO_Handle open_session(int port, const char* nsp, sio_reconnect rc = {1, 50, 200, 1000, 600000}) {
    return SIO_Client_Init(mut("127.0.0.1"), port, mut(DEFAULT_URL), mut(R"({"X-Node":"t1"})"), const_cast<char*>(nsp),
                           rc);
}

TEST(SocketIoClient, EventsAcksAndBinaryBothWaysOnTwoNamespacesFromSeveralThreads) {
    qbtest::NodePeer server(kServer);
    ASSERT_GT(server.port(), 0) << server.output();
    Events ev;
    SIO_Handle s = open_session(server.port(), "/chat");
    ASSERT_EQ(SIO_Client_Start(s, &ev.hooks), 0);
    ASSERT_TRUE(ev.wait_for("- connect"));
    ASSERT_TRUE(ev.wait_for("/chat connect"));

    int id_hello = -1, id_blob = -1, id_chat = -1;
    EXPECT_EQ(SIO_Client_Emit(s, mut("hello"), mut("world"), SIO_QOS_HIGH, 1, &id_hello, nullptr), 0);
    sio_payload args[] = {{mut(R"({"a":[1,"}"]})"), 0}, {mut("x y"), 0}};
    EXPECT_EQ(SIO_Client_Emit_Ex(s, mut("echo"), args, 2, SIO_QOS_HIGH, 0, nullptr, mut("/chat")), 0);
    EXPECT_EQ(SIO_Client_Emit(s, mut("ping_me"), nullptr, SIO_QOS_MID, 1, &id_chat, mut("/chat")), 0);
    char blob[] = {0, 1, '"', static_cast<char>(0xff)};
    sio_payload bin[] = {{mut("caption"), 0}, {blob, 4}};
    EXPECT_EQ(SIO_Client_Emit_Ex(s, mut("blob"), bin, 2, SIO_QOS_LOW, 1, &id_blob, nullptr), 0);
    EXPECT_EQ(SIO_Client_Emit(s, mut("ask"), nullptr, SIO_QOS_HIGH, 0, nullptr, nullptr), 0);
    EXPECT_EQ(id_hello, 0);
    EXPECT_EQ(id_chat, 1);
    EXPECT_EQ(id_blob, 2);

    // Acks on the default namespace and on /chat, and the server asking for one.
    EXPECT_TRUE(ev.wait_for(R"(- ok {"got":"hello"} #0)"));
    EXPECT_TRUE(ev.wait_for(R"(/chat ok {"got":"ping_me"} #1)"));
    EXPECT_TRUE(ev.wait_for(R"(- ok {"got":"blob"} #2)"));
    EXPECT_TRUE(ev.wait_for("- question q? #0"));
    EXPECT_TRUE(ev.wait_for(R"(/chat echo {"a":[1,"}"]} x y)"));

    EXPECT_TRUE(server_saw(server, "CONNECT / EIO3"));
    EXPECT_TRUE(server_saw(server, "CONNECT /chat EIO3"));
    EXPECT_TRUE(server_saw(server, R"(EVENT / hello "world" +ack)"));
    EXPECT_TRUE(server_saw(server, R"(EVENT /chat echo {"a":[1,"}"]} "x y")"));
    EXPECT_TRUE(server_saw(server, R"(EVENT / blob "caption" Buffer:000122ff +ack)")) << server.output();

    // Binary emits from several threads at once keep their attachments.
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; t++)
        threads.emplace_back([&, t] {
            for (int i = 0; i < 40; i++) {
                std::string tag = std::to_string(100 * t + i);
                sio_payload a[] = {{tag.data(), 0}, {tag.data(), static_cast<int>(tag.size())}};
                EXPECT_EQ(SIO_Client_Emit_Ex(s, mut("bin"), a, 2, SIO_QOS_LOW, 0, nullptr, nullptr), 0);
            }
        });
    for (auto& th : threads) th.join();
    ASSERT_TRUE(server_saw(server, "EVENT / bin ", 160)) << server.output();
    for (int t = 0; t < 4; t++)
        for (int i = 0; i < 40; i++) {
            std::string tag = std::to_string(100 * t + i), hex;
            for (char c : tag) hex += std::string("3") + c;  // the hex code of an ASCII digit
            EXPECT_EQ(qbtest::count_of(server.output(), "EVENT / bin \"" + tag + "\" Buffer:" + hex + "\n"), 1) << tag;
        }
    EXPECT_EQ(SIO_Client_Close(s), 0);
}

TEST(SocketIoClient, ReconnectsAfterKickAndRestartAndResendsByLevel) {
    auto server = std::make_unique<qbtest::NodePeer>(kServer);
    const int port = server->port();
    ASSERT_GT(port, 0) << server->output();
    Events ev;
    SIO_Handle s = open_session(port, "/chat");
    ASSERT_EQ(SIO_Client_Start(s, &ev.hooks), 0);
    ASSERT_TRUE(ev.wait_for("/chat connect"));

    // The server ends the socket: the session reconnects by itself.
    EXPECT_EQ(SIO_Client_Emit(s, mut("kick"), nullptr, SIO_QOS_HIGH, 0, nullptr, nullptr), 0);
    ASSERT_TRUE(ev.wait_for("/chat connect", 2)) << server->output();
    EXPECT_GE(ev.count("- reconnecting"), 1);

    // The server dies; what is emitted meanwhile waits for the restart.
    server->process().kill();
    ASSERT_TRUE(ev.wait_for("- reconnecting", ev.count("- reconnecting") + 1));
    char blob[] = {'b', 0};
    sio_payload bin[] = {{blob, 2}};
    EXPECT_EQ(SIO_Client_Emit(s, mut("low"), nullptr, SIO_QOS_LOW, 0, nullptr, nullptr), 0);
    EXPECT_EQ(SIO_Client_Emit_Ex(s, mut("mid_bin"), bin, 1, SIO_QOS_MID, 0, nullptr, nullptr), 0);
    EXPECT_EQ(SIO_Client_Emit(s, mut("chat_high"), mut("c"), SIO_QOS_HIGH, 0, nullptr, mut("/chat")), 0);
    EXPECT_EQ(SIO_Client_Emit(s, mut("high"), nullptr, SIO_QOS_HIGH, 0, nullptr, nullptr), 0);

    qbtest::NodePeer again(kServer, {"--port", std::to_string(port)});
    ASSERT_EQ(again.port(), port) << again.output();
    ASSERT_TRUE(ev.wait_for("/chat connect", 3)) << again.output();
    ASSERT_TRUE(server_saw(again, "EVENT /chat chat_high")) << again.output();
    const std::string out = again.output();
    const size_t high = out.find("EVENT / high"), mid = out.find("EVENT / mid_bin Buffer:6200"),
                 low = out.find("EVENT / low"), chat = out.find("CONNECT /chat");
    ASSERT_NE(low, std::string::npos) << out;
    EXPECT_LT(high, mid) << out;
    EXPECT_LT(mid, low) << out;
    EXPECT_LT(chat, out.find("EVENT /chat chat_high")) << out;
    EXPECT_EQ(SIO_Client_Close(s), 0);
}

TEST(SocketIoClient, PingsAtTheServersIntervalWhileIdleOnEachSession) {
    // A client pinging every 10 s, or one whose clock another session resets, is dropped after 1 + 1 s.
    qbtest::NodePeer server(kServer, {"--ping-interval", "1000", "--ping-timeout", "1000"});
    ASSERT_GT(server.port(), 0) << server.output();
    Events ev1, ev2;
    SIO_Handle s1 = open_session(server.port(), nullptr);
    SIO_Handle s2 = open_session(server.port(), nullptr);
    ASSERT_EQ(SIO_Client_Start(s1, &ev1.hooks), 0);
    ASSERT_EQ(SIO_Client_Start(s2, &ev2.hooks), 0);
    ASSERT_TRUE(ev1.wait_for("- connect"));
    ASSERT_TRUE(ev2.wait_for("- connect"));
    os_msleep(4500);
    EXPECT_GE(qbtest::count_of(server.output(), "PING "), 6) << server.output();
    EXPECT_GE(ev1.count("- pong"), 3);
    EXPECT_GE(ev2.count("- pong"), 3);
    EXPECT_EQ(server.output().find("DISCONNECT"), std::string::npos) << server.output();
    EXPECT_EQ(ev1.count("- disconnect") + ev2.count("- disconnect"), 0);
    EXPECT_EQ(SIO_Client_Close(s1), 0);
    EXPECT_EQ(SIO_Client_Close(s2), 0);
}

TEST(SocketIoClient, GivesUpByAttemptsOrByTimeoutAndRefusesEmits) {
    const int port = qbtest::free_loopback_port();
    Events by_attempts, by_timeout, unresolved;
    // attempts 0: gives up at the second failure; timeout 1150: pauses 100 + 1100 exceed it at the second too.
    SIO_Handle a = open_session(port, nullptr, {1, 0, 100, 1100, 600000});
    SIO_Handle t = open_session(port, nullptr, {1, 50, 100, 1100, 1150});
    // A first client that cannot even be created still leads to reconnection.
    SIO_Handle u = SIO_Client_Init(mut("no-such-host.invalid"), port, nullptr, nullptr, nullptr, {1, 0, 100, 100, 600000});
    std::string log = qbtest::capture_stdout([&] {
        ASSERT_EQ(SIO_Client_Start(a, &by_attempts.hooks), 0);
        ASSERT_EQ(SIO_Client_Start(t, &by_timeout.hooks), 0);
        ASSERT_EQ(SIO_Client_Start(u, &unresolved.hooks), 0);
        ASSERT_TRUE(by_attempts.wait_for("- connect_error"));
        ASSERT_TRUE(by_timeout.wait_for("- connect_error"));
        ASSERT_TRUE(unresolved.wait_for("- connect_error"));
    });
    for (Events* ev : {&by_attempts, &by_timeout}) {
        EXPECT_EQ(ev->count("- reconnecting"), 2);
        ASSERT_GE(ev->seen.size(), 2u);
        EXPECT_EQ(ev->seen.back(), "- connect_error");
        EXPECT_EQ(ev->seen[ev->seen.size() - 2], "- reconnect_failed");
    }
    EXPECT_EQ(unresolved.count("- reconnecting"), 2);
    EXPECT_EQ(qbtest::count_of(log, "retry after: 100 ms"), 4) << log;
    EXPECT_EQ(qbtest::count_of(log, "retry after: 1100 ms"), 2) << log;
    EXPECT_EQ(SIO_Client_Emit(a, mut("late"), nullptr, SIO_QOS_HIGH, 0, nullptr, nullptr), -1);
    for (SIO_Handle s : {a, t, u}) EXPECT_EQ(SIO_Client_Close(s), 0);
}

}  // namespace
