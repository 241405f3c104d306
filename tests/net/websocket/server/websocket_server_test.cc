// The server against Python's websockets client (a peer that is not ours).
#include "websocket_server.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "data_channel.h"
#include "data_channel_impl.h"
#include "sdk_logger.h"
#include "sdk_os.h"
#include "support/lws_suppressions.h"
#include "support/python_peer.h"
#include "support/test_support.h"

namespace qb::dc {
WS_Server_Handle websocket_server_of(void* transport);
}

namespace {
using qbtest::mut;

// Prelude of every peer script: argv[1] is the port, run(main) bounds the run.
const std::string kPrelude = R"(
import asyncio, socket, sys, websockets
URI = "ws://127.0.0.1:%s/" % sys.argv[1]
def connect():
    return websockets.connect(URI, subprotocols=["data_trans"], max_size=None, compression=None)
def run(main):
    asyncio.run(asyncio.wait_for(main(), 20))
)";

struct EchoServer {
    struct Msg {
        ws_callback_type type;
        std::string data;
        bool terminated;
    };
    std::mutex mu;
    std::vector<Msg> msgs;
    std::atomic<int> opened{0}, closed{0};
    std::atomic<void*> last_session{nullptr};
    ws_server_cb_param param{};
    WS_Server_Handle server = nullptr;

    static EchoServer* self(void* user) { return static_cast<EchoServer*>(user); }
    static EchoServer* current;

    EchoServer() {
        current = this;
        param.callback = [](void* s, ws_callback_type t, char* d, int n, void* user) {
            auto* es = self(user);
            {
                std::lock_guard<std::mutex> l(es->mu);
                es->msgs.push_back({t, std::string(d, n), d[n] == 0});
            }
            WS_Server_Send(s, d, n, t == WS_CB_BINARY, 0);
        };
        param.onopen = [](void* s) {
            current->last_session = s;
            current->opened++;
        };
        param.onclose = [](void*) { current->closed++; };
        param.user = this;
        server = WS_Server_Start(0, &param);
    }
    ~EchoServer() {
        if (server) WS_Server_Stop(server);
    }
    std::string port() const { return std::to_string(WS_Server_Port(server)); }
    int peer(const std::string& body, std::string* out) {
        return qbtest::run_python(kPrelude + body, {port()}, out);
    }
};
EchoServer* EchoServer::current = nullptr;

TEST(WebSocketServer, EchoesTextBinaryLargeAndFragmentedMessagesWithTheirOwnType) {
    EchoServer es;
    ASSERT_NE(es.server, nullptr);
    std::string out;
    int rc = es.peer(R"(
async def main():
    async with connect() as ws:
        assert ws.subprotocol == "data_trans"
        cases = ["0123456789", b"\x00\xff\x01binary", bytes(range(250)) * 1000, ""]
        for m in cases:
            await ws.send(m)
            r = await ws.recv()
            assert r == m and type(r) == type(m), (len(r), len(m))
        await ws.send(iter(["ab", "cd", "ef"]))
        assert await ws.recv() == "abcdef"
        await ws.send(iter([b"x" * 3000, b"y" * 3000]))
        assert await ws.recv() == b"x" * 3000 + b"y" * 3000
        # Back to back, mixed types: each comes back with its own type.
        await ws.send("t1"); await ws.send(b"b1"); await ws.send("t2")
        assert [await ws.recv() for _ in range(3)] == ["t1", b"b1", "t2"]
    print("PEER OK")
run(main)
)",
                     &out);
    ASSERT_EQ(rc, 0) << out;
    EXPECT_NE(out.find("PEER OK"), std::string::npos) << out;
    std::lock_guard<std::mutex> l(es.mu);
    ASSERT_EQ(es.msgs.size(), 9u);
    EXPECT_EQ(es.msgs[0].type, WS_CB_TEXT);
    EXPECT_EQ(es.msgs[0].data, "0123456789");
    EXPECT_EQ(es.msgs[1].type, WS_CB_BINARY);
    EXPECT_EQ(es.msgs[2].data.size(), 250000u);
    EXPECT_EQ(es.msgs[3].data.size(), 0u);
    EXPECT_EQ(es.msgs[4].data, "abcdef");
    for (const auto& m : es.msgs) EXPECT_TRUE(m.terminated);
}

TEST(WebSocketServer, ServesTwoHundredSessionsAtOnce) {
    EchoServer es;
    std::string out;
    int rc = es.peer(R"(
async def one(i, ready):
    async with connect() as ws:
        ready.append(i)
        while len(ready) < 200:
            await asyncio.sleep(0.01)
        await ws.send("n%d" % i)
        assert await ws.recv() == "n%d" % i
async def main():
    ready = []
    await asyncio.gather(*[one(i, ready) for i in range(200)])
    print("PEER OK")
run(main)
)",
                     &out);
    ASSERT_EQ(rc, 0) << out;
    WS_Server_Stop(es.server);
    es.server = nullptr;
    EXPECT_EQ(es.opened.load(), 200);
    EXPECT_EQ(es.closed.load(), 200);
    EXPECT_EQ(es.msgs.size(), 200u);
}

TEST(WebSocketServer, ClientVanishingMidMessageIsDroppedWithoutCallback) {
    EchoServer es;
    std::string out;
    // A raw socket: handshake, then half of a masked 10000-byte frame, then gone.
    int rc = es.peer(R"(
import os
s = socket.create_connection(("127.0.0.1", int(sys.argv[1])))
key = "dGhlIHNhbXBsZSBub25jZQ=="
s.sendall(("GET / HTTP/1.1\r\nHost: x\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
           "Sec-WebSocket-Key: %s\r\nSec-WebSocket-Version: 13\r\n"
           "Sec-WebSocket-Protocol: data_trans\r\n\r\n" % key).encode())
assert b" 101 " in s.recv(4096)
frame = bytes([0x02, 0x80 | 126]) + (10000).to_bytes(2, "big") + b"\0\0\0\0" + b"z" * 5000
s.sendall(frame)
s.close()
print("PEER OK")
)",
                     &out);
    ASSERT_EQ(rc, 0) << out;
    for (int i = 0; i < 200 && es.closed.load() == 0; i++) os_msleep(10);
    EXPECT_EQ(es.opened.load(), 1);
    EXPECT_EQ(es.closed.load(), 1);
    EXPECT_TRUE(es.msgs.empty());
}

TEST(WebSocketServer, OversizeMessageClosesOnlyThatSessionWith1009) {
    WS_Set_Max_Message_Size(100000);
    EchoServer es;
    std::string out;
    std::string log = qbtest::capture_stdout([&] {
        int rc = es.peer(R"(
async def main():
    for msg in [b"q" * 100001, iter([b"q" * 60000, b"q" * 60000])]:
        async with connect() as ws:
            await ws.send(msg)
            try:
                await ws.recv()
                raise SystemExit("not closed")
            except websockets.ConnectionClosed:
                assert ws.close_code == 1009, ws.close_code
    async with connect() as ws:
        await ws.send(b"q" * 100000)
        assert len(await ws.recv()) == 100000
    print("PEER OK")
run(main)
)",
                         &out);
        EXPECT_EQ(rc, 0) << out;
        for (int i = 0; i < 200 && es.closed.load() < 3; i++) os_msleep(10);
    });
    WS_Set_Max_Message_Size(0);
    EXPECT_EQ(WS_Get_Max_Message_Size(), WS_DEFAULT_MAX_MESSAGE_SIZE);
    EXPECT_EQ(qbtest::count_of(log, "closing session"), 2) << log;
    EXPECT_EQ(es.msgs.size(), 1u);
}

TEST(WebSocketServer, SendRefusesNullClosedAndNegativeInput) {
    EchoServer es;
    std::string out;
    ASSERT_EQ(es.peer("async def main():\n    async with connect() as ws:\n        pass\nrun(main)\n", &out), 0) << out;
    for (int i = 0; i < 200 && es.closed.load() == 0; i++) os_msleep(10);
    void* seen = es.last_session.load();
    ASSERT_NE(seen, nullptr);
    std::string log = qbtest::capture_stdout([&] {
        EXPECT_EQ(WS_Server_Send(nullptr, mut("x"), 1, 0, 0), -1);
        EXPECT_EQ(WS_Server_Send_String(seen, mut("late")), -1);
        EXPECT_EQ(WS_Server_Send(seen, mut("x"), -1, 0, 0), -1);
        EXPECT_EQ(WS_Server_Stop(nullptr), -1);
    });
    EXPECT_EQ(qbtest::count_of(log, "No ctx parameter!"), 2) << log;
    EXPECT_EQ(qbtest::count_of(log, "Session is closed"), 1) << log;
}

// Sends from an application thread (not a hook) wake the service thread: ten round trips, each of which
// would otherwise wait out a one-second service pass. Then the hook's own stop is refused, and a stop with
// the client still connected closes its session once while senders racing it are refused.
TEST(WebSocketServer, SendsFromOtherThreadsAndStopsWhileAClientIsConnected) {
    EchoServer es;
    ASSERT_NE(es.server, nullptr);
    static std::atomic<int> stop_rc{1};
    es.param.callback = [](void*, ws_callback_type, char* d, int n, void* user) {
        auto* self = static_cast<EchoServer*>(user);
        if (std::string(d, n) == "stop") stop_rc = WS_Server_Stop(self->server);
        std::lock_guard<std::mutex> l(self->mu);
        self->msgs.push_back({WS_CB_TEXT, std::string(d, n), true});
    };
    auto received = [&](size_t n) {
        for (int i = 0; i < 2000; i++, os_msleep(5)) {
            std::lock_guard<std::mutex> l(es.mu);
            if (es.msgs.size() >= n) return true;
        }
        return false;
    };
    std::string out;
    auto peer = std::async(std::launch::async, [&] {
        return es.peer(R"(
async def main():
    async with connect() as ws:
        for i in range(10):
            await ws.send("ack " + await ws.recv())
        await ws.send("stop")
        try:
            while True:
                await ws.recv()
        except websockets.ConnectionClosed:
            print("PEER OK")
run(main)
)", &out);
    });
    for (int i = 0; i < 200 && !es.last_session; i++) os_msleep(10);
    void* session = es.last_session.load();
    ASSERT_NE(session, nullptr);
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 10; i++) {
        ASSERT_EQ(WS_Server_Send_String(session, mut(std::to_string(i).c_str())), 0);
        ASSERT_TRUE(received(i + 1));
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    // No capture_stdout while the peer runs: its flush of every stream would wait on the peer's pipe.
    ASSERT_TRUE(received(11));
    EXPECT_EQ(stop_rc.load(), -1);

    std::atomic<bool> stopped{false};
    std::atomic<int> sent{0}, refused{0};
    auto sender = [&] {
        while (!stopped || refused == 0) {
            (WS_Server_Send_String(session, mut("racing")) == 0 ? sent : refused)++;
            os_msleep(1);
        }
    };
    {
        qbtest::LogLevel quiet(SDK_LOG_LEVEL_NONE);  // the refused senders' lines
        std::jthread a(sender), b(sender);
        os_msleep(50);
        EXPECT_EQ(WS_Server_Stop(es.server), 0);
        es.server = nullptr;
        stopped = true;
    }
    EXPECT_EQ(peer.get(), 0) << out;
    EXPECT_NE(out.find("PEER OK"), std::string::npos) << out;
    EXPECT_EQ(std::pair(es.opened.load(), es.closed.load()), std::pair(1, 1));
    EXPECT_TRUE(sent > 0 && refused > 0) << sent << " " << refused;
}

// The channel module: pushes data to the callback, answers the last sender.
TEST(WebSocketServerChannel, ForwardsAndAnswersTheLastSessionAndRefusesWithoutOne) {
    qbtest::TempDir dir;
    qbtest::write_file(dir.file("ws.json"), R"({"url":"ws://127.0.0.1","port":0})");
    DC_module_Init();
    std::string early = qbtest::capture_stdout([&] {
        EXPECT_EQ(DC_Init(mut("websocket_server"), nullptr, nullptr, mut(dir.file("ws.json").c_str())), nullptr);
        EXPECT_EQ(DC_Transfer(nullptr, mut("x"), 1), -1);
        EXPECT_EQ(DC_Receive(nullptr, nullptr, nullptr), -1);
    });
    EXPECT_NE(early.find("module websocket_server not found"), std::string::npos) << early;
    EXPECT_EQ(qbtest::count_of(early, "Null handle"), 2) << early;
    DC_module_register_websocket_server();
    struct Seen {
        DC_Handle ch = nullptr;
        std::atomic<int> n{0};
        void* param = nullptr;
    } seen;
    DC_Handle ch = DC_Init(mut("websocket_server"), [](DC_Handle h, char* d, int n, void* p) {
        auto* s = static_cast<Seen*>(p);
        s->param = p;
        s->ch = h;
        s->n++;
        DC_Transfer(h, d, n);  // echo, as binary
    }, &seen, mut(dir.file("ws.json").c_str()));
    ASSERT_NE(ch, nullptr);
    std::string log = qbtest::capture_stdout([&] { EXPECT_EQ(DC_Transfer(ch, mut("x"), 1), -1); });
    EXPECT_NE(log.find("No client session to send to"), std::string::npos) << log;
    auto* transport = static_cast<dc_handle*>(ch)->handle;
    std::string out;
    int rc = qbtest::run_python(kPrelude + R"(
async def main():
    async with connect() as ws:
        await ws.send("hello")
        assert await ws.recv() == b"hello"
    print("PEER OK")
run(main)
)", {std::to_string(WS_Server_Port(qb::dc::websocket_server_of(transport)))}, &out);
    EXPECT_EQ(rc, 0) << out;
    EXPECT_EQ(seen.n.load(), 1);
    EXPECT_EQ(seen.ch, ch);
    EXPECT_EQ(seen.param, &seen);
    os_msleep(200);  // the peer has left; its close reaches the server shortly
    log = qbtest::capture_stdout([&] {
        EXPECT_EQ(DC_Transfer(ch, mut("x"), 1), -1);
        char* d = nullptr;
        int n = 0;
        EXPECT_EQ(DC_Receive(ch, &d, &n), -1);
    });
    EXPECT_NE(log.find("No client session to send to"), std::string::npos) << log;
    EXPECT_NE(log.find("module websocket_server does not support recv"), std::string::npos) << log;
    // A port that is taken: the channel does not pretend to be open.
    const int taken = WS_Server_Port(qb::dc::websocket_server_of(transport));
    qbtest::write_file(dir.file("taken.json"), "{\"port\":" + std::to_string(taken) + "}");
    log = qbtest::capture_stdout([&] {
        EXPECT_EQ(DC_Init(mut("websocket_server"), nullptr, nullptr, mut(dir.file("taken.json").c_str())), nullptr);
    });
    EXPECT_NE(log.find("module websocket_server init failed"), std::string::npos) << log;
}

}  // namespace
