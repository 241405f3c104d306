// The client against Python's websockets server (a peer that is not ours).
#include "websocket_client.h"

#include <gtest/gtest.h>
#include <pthread.h>

#include <atomic>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "data_channel.h"
#include "sdk_os.h"
#include "support/test_support.h"
#include "support/ws_peer.h"
#include "websocket_server.h"

namespace qb::dc {
bool split_ws_url(const char* url, int default_port, std::string* host, int* port, std::string* path);
}

namespace {
using qbtest::mut;

// Echoes every message with its type; a few texts are commands.
const char* kServer = R"(
import asyncio, json, signal, websockets
async def handler(ws, path):
    print("PATH", path, flush=True)
    try:
        async for m in ws:
            if m == "headers":
                await ws.send(json.dumps([[k, v] for k, v in ws.request_headers.raw_items() if k.startswith("X-")]))
            elif m == "big":
                await ws.send(bytes(range(250)) * 1000)
            elif m == "frag":
                await ws.send(iter(["ab", "cd", "ef"]))
            elif m == "huge":
                await ws.send(b"h" * 150000)
            elif m == "cut":
                # Half of a 10000-byte binary frame, then the connection is gone.
                ws.transport.write(bytes([0x02, 126]) + (10000).to_bytes(2, "big") + b"z" * 5000)
                ws.transport.abort()
                return
            else:
                await ws.send(m)
    except websockets.ConnectionClosed as e:
        pass
    print("CLOSED", ws.close_code, flush=True)
async def main():
    stop = asyncio.get_running_loop().create_future()
    asyncio.get_running_loop().add_signal_handler(signal.SIGTERM, stop.set_result, None)
    async with websockets.serve(handler, "127.0.0.1", 0, subprotocols=["data_trans"], max_size=None,
                                compression=None) as server:
        print("PORT", server.sockets[0].getsockname()[1], flush=True)
        await stop
asyncio.run(main())
)";

struct Client {
    struct Msg {
        int binary;
        std::string data;
        bool terminated;
    };
    std::mutex mu;
    std::vector<Msg> msgs;
    std::atomic<int> opens{0}, closes{0};
    ws_client_cb_param param{};
    WS_Handle h = nullptr;

    Client(int port, const char* headers = nullptr, const char* path = "/feed", WS_Client_On_Open onopen = nullptr) {
        param.callback = [](WS_Handle, int bin, char* d, int n, void* u) {
            auto* c = static_cast<Client*>(u);
            std::lock_guard<std::mutex> l(c->mu);
            c->msgs.push_back({bin, std::string(d, n), d[n] == 0});
        };
        param.onopen = onopen ? onopen : +[](WS_Handle, void* u) { static_cast<Client*>(u)->opens++; };
        param.onclose = [](WS_Handle, void* u) { static_cast<Client*>(u)->closes++; };
        h = WS_Client_Start(mut("127.0.0.1"), port, mut(path), const_cast<char*>(headers), &param, this);
    }
    ~Client() {
        if (h) WS_Client_Stop(h);
    }
    bool wait(const std::function<bool()>& done) {
        for (int i = 0; i < 1000; i++) {
            {
                std::lock_guard<std::mutex> l(mu);
                if (done()) return true;
            }
            os_msleep(10);
        }
        return false;
    }
    bool wait_msgs(size_t n) { return wait([&] { return msgs.size() >= n; }); }
};

TEST(WebSocketClient, ExchangesTextBinaryLargeFragmentedAndHeaders) {
    qbtest::PythonWsServer peer(kServer);
    ASSERT_GT(peer.port(), 0) << peer.output();
    const char* headers = R"({"X-Node":"a1","X-Id":7,"X-Bad":"v\r\nX-Injected: 1","X-Dot.ted":"ok"})";
    Client c(peer.port(), headers);
    ASSERT_NE(c.h, nullptr);
    ASSERT_TRUE(c.wait([&] { return c.opens.load() == 1; }));
    EXPECT_EQ(WS_Client_Connected(c.h), 1);
    EXPECT_EQ(WS_Client_Send_String(c.h, mut("headers")), 0);
    EXPECT_EQ(WS_Client_Send_String(c.h, mut("big")), 0);
    EXPECT_EQ(WS_Client_Send_String(c.h, mut("frag")), 0);
    // Back to back with mixed types: each keeps its own.
    EXPECT_EQ(WS_Client_Send_String(c.h, mut("t1")), 0);
    EXPECT_EQ(WS_Client_Send_Binary(c.h, mut("\xff\x00\x01"), 3), 0);
    EXPECT_EQ(WS_Client_Send_String(c.h, mut("")), 0);
    ASSERT_TRUE(c.wait_msgs(6));
    std::lock_guard<std::mutex> l(c.mu);
    EXPECT_EQ(c.msgs[0].data, R"([["X-Node", "a1"], ["X-Id", "7"], ["X-Dot.ted", "ok"]])");
    EXPECT_EQ(c.msgs[1].binary, 1);
    ASSERT_EQ(c.msgs[1].data.size(), 250000u);
    EXPECT_EQ(static_cast<unsigned char>(c.msgs[1].data[249999]), 249);
    EXPECT_EQ(c.msgs[2].data, "abcdef");
    EXPECT_EQ(c.msgs[2].binary, 0);
    EXPECT_EQ(c.msgs[3].data, "t1");
    EXPECT_EQ(c.msgs[3].binary, 0);
    EXPECT_EQ(c.msgs[4].data, std::string("\xff\x00\x01", 3));
    EXPECT_EQ(c.msgs[4].binary, 1);
    EXPECT_EQ(c.msgs[5].data, "");
    for (const auto& m : c.msgs) EXPECT_TRUE(m.terminated);
    EXPECT_NE(peer.output().find("PATH /feed"), std::string::npos);
}

TEST(WebSocketClient, RefusedConnectionClosesOnceAndSendsAreRefused) {
    int port = 0;
    {
        qbtest::PythonWsServer peer(kServer);  // a port that was free a moment ago
        port = peer.port();
    }
    ASSERT_GT(port, 0);
    Client c(port);
    ASSERT_NE(c.h, nullptr);
    ASSERT_TRUE(c.wait([&] { return c.closes.load() == 1; }));
    EXPECT_EQ(c.opens.load(), 0);
    EXPECT_EQ(WS_Client_Connected(c.h), 0);
    std::string log = qbtest::capture_stdout([&] {
        EXPECT_EQ(WS_Client_Send_String(c.h, mut("x")), -1);
        EXPECT_EQ(WS_Client_Send(nullptr, mut("abcdef"), 3, 0, 0), -1);
        EXPECT_EQ(WS_Client_Stop(nullptr), -1);
        EXPECT_EQ(WS_Client_Connected(nullptr), -1);
        EXPECT_EQ(WS_Client_Start(mut("127.0.0.1"), port, mut("/"), nullptr, nullptr, nullptr), nullptr);
    });
    EXPECT_NE(log.find("Client not connected"), std::string::npos) << log;
    EXPECT_NE(log.find("No ctx parameter!, send=abc\n"), std::string::npos) << log;
    EXPECT_NE(log.find("websocket Create Failed"), std::string::npos) << log;
    EXPECT_EQ(c.closes.load(), 1);
}

TEST(WebSocketClient, ServerVanishingMidMessageAndOversizeEndTheConnectionCleanly) {
    qbtest::PythonWsServer peer(kServer);
    ASSERT_GT(peer.port(), 0) << peer.output();
    {
        Client c(peer.port());
        ASSERT_TRUE(c.wait([&] { return c.opens.load() == 1; }));
        WS_Client_Send_String(c.h, mut("cut"));
        ASSERT_TRUE(c.wait([&] { return c.closes.load() == 1; }));
        EXPECT_TRUE(c.msgs.empty());
    }
    WS_Set_Max_Message_Size(100000);
    std::string log = qbtest::capture_stdout([&] {
        Client c(peer.port());
        ASSERT_TRUE(c.wait([&] { return c.opens.load() == 1; }));
        WS_Client_Send_String(c.h, mut("huge"));
        ASSERT_TRUE(c.wait([&] { return c.closes.load() == 1; }));
        EXPECT_TRUE(c.msgs.empty());
    });
    WS_Set_Max_Message_Size(0);
    EXPECT_NE(log.find("closing connection"), std::string::npos) << log;
    for (int i = 0; i < 100 && peer.output().find("CLOSED 1009") == std::string::npos; i++) os_msleep(10);
    EXPECT_NE(peer.output().find("CLOSED 1009"), std::string::npos) << peer.output();
}

TEST(WebSocketClient, StopWhileConnectedDoesNotReportClose) {
    qbtest::PythonWsServer peer(kServer);
    Client c(peer.port());
    ASSERT_TRUE(c.wait([&] { return c.opens.load() == 1; }));
    EXPECT_EQ(WS_Client_Stop(c.h), 0);
    c.h = nullptr;
    EXPECT_EQ(c.closes.load(), 0);
}

// The hooks run on the client's service thread, named within the 15 characters Linux keeps, and cannot
// stop the client that runs them (Stop waits for that very thread).
TEST(WebSocketClient, HooksRunOnANamedThreadThatTheyCannotStop) {
    qbtest::PythonWsServer peer(kServer);
    ASSERT_GT(peer.port(), 0) << peer.output();
    static char name[16];
    static std::atomic<int> stop_rc{1};
    // The hook may run as soon as the client starts, so the capture begins first.
    std::optional<Client> c;
    std::string log = qbtest::capture_stdout([&] {
        c.emplace(peer.port(), nullptr, "/feed", [](WS_Handle h, void*) {
            pthread_getname_np(pthread_self(), name, sizeof name);
            stop_rc = WS_Client_Stop(h);
        });
        ASSERT_TRUE(c->wait([&] { return stop_rc != 1; }));
    });
    EXPECT_EQ(stop_rc.load(), -1);
    EXPECT_STREQ(name, "websocket_clien");
    EXPECT_NE(log.find("WS_Client_Stop called from a client hook"), std::string::npos) << log;
    EXPECT_EQ(WS_Client_Send_String(c->h, mut("still up")), 0);
    ASSERT_TRUE(c->wait_msgs(1));
}

TEST(WebSocketClientChannel, UrlMapping) {
    struct Case {
        const char* url;
        int port;
        bool ok;
        const char* host;
        int want_port;
        const char* path;
    } cases[] = {
        {"ws://example.org:81/a/b", 5, true, "example.org", 81, "/a/b"},
        {"ws://example.org", 5, true, "example.org", 5, "/"},
        {"10.0.0.1/x", 7, true, "10.0.0.1", 7, "/x"},
        {"ws://h:99999/", 5, false, "", 0, ""},
        {"ws:///p", 5, false, "", 0, ""},
    };
    for (const auto& c : cases) {
        std::string host, path;
        int port = 0;
        EXPECT_EQ(qb::dc::split_ws_url(c.url, c.port, &host, &port, &path), c.ok) << c.url;
        if (!c.ok) continue;
        EXPECT_EQ(host, c.host) << c.url;
        EXPECT_EQ(port, c.want_port) << c.url;
        EXPECT_EQ(path, c.path) << c.url;
    }
}

TEST(WebSocketClientChannel, ConnectsSendsAndForwardsOrFailsInit) {
    qbtest::PythonWsServer peer(kServer);
    ASSERT_GT(peer.port(), 0);
    qbtest::TempDir dir;
    qbtest::write_file(dir.file("ok.json"), R"({"url":"ws://127.0.0.1/chan","port":)" + std::to_string(peer.port()) + "}");
    qbtest::write_file(dir.file("bad.json"), R"({"url":"ws://127.0.0.1:1/chan"})");
    DC_module_Init();
    DC_module_register_websocket_client();
    struct Seen {
        std::atomic<int> n{0};
        std::string data;
        DC_Handle ch = nullptr;
    } seen;
    auto cb = [](DC_Handle h, char* d, int n, void* p) {
        auto* s = static_cast<Seen*>(p);
        s->data.assign(d, n);
        s->ch = h;
        s->n++;
    };
    DC_Handle ch = DC_Init(mut("websocket_client"), cb, &seen, mut(dir.file("ok.json").c_str()));
    ASSERT_NE(ch, nullptr);
    EXPECT_EQ(DC_Transfer(ch, mut("ping\0x"), 6), 0);
    for (int i = 0; i < 500 && seen.n.load() == 0; i++) os_msleep(10);
    EXPECT_EQ(seen.n.load(), 1);
    EXPECT_EQ(seen.data, std::string("ping\0x", 6));
    EXPECT_EQ(seen.ch, ch);
    EXPECT_NE(peer.output().find("PATH /chan"), std::string::npos);
    std::string log = qbtest::capture_stdout([&] {
        EXPECT_EQ(DC_Init(mut("websocket_client"), cb, &seen, mut(dir.file("bad.json").c_str())), nullptr);
        EXPECT_EQ(DC_Init(mut("websocket_client"), cb, &seen, mut(dir.file("none.json").c_str())), nullptr);
        EXPECT_EQ(DC_Init(mut("WebSocket_Client"), cb, &seen, mut(dir.file("ok.json").c_str())), nullptr);
    });
    EXPECT_EQ(qbtest::count_of(log, "module websocket_client init failed"), 2) << log;
    EXPECT_NE(log.find("WS Config does not exist"), std::string::npos) << log;
    EXPECT_NE(log.find("module WebSocket_Client not found"), std::string::npos) << log;
}

}  // namespace
