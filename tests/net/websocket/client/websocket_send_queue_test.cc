// Send queues are bounded: a peer that never reads gets its session (or the
// client its connection) closed at the limit, and memory stays bounded.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "support/peer_process.h"
#include "support/python_peer.h"
#include "support/test_support.h"
#include "websocket_client.h"
#include "websocket_server.h"

namespace {
using namespace std::chrono_literals;

constexpr int kLimit = 4 * 1024 * 1024;
const std::string kChunk(1024 * 1024, 'x');

long rss_kib() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
    return -1;
}

template <typename Pred>
bool wait_until(Pred pred, std::chrono::seconds limit = 10s) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!pred()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

// Opens a WebSocket on the server with a small receive buffer and never reads from it.
int stuck_peer(int port) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    int small = 4096;
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) return -1;
    const std::string hello =
        "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
        "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n"
        "Sec-WebSocket-Protocol: data_trans\r\n\r\n";
    return write(fd, hello.data(), hello.size()) == static_cast<ssize_t>(hello.size()) ? fd : -1;
}

std::mutex g_lock;
std::vector<void*> g_opened;
std::atomic<void*> g_closed{nullptr};

size_t opened() {
    std::lock_guard<std::mutex> lock(g_lock);
    return g_opened.size();
}

// Offers 512 MiB in 1 MiB messages; counts the sends accepted and refused.
template <typename Send>
std::pair<int, int> flood(Send send, std::string* log) {
    int accepted = 0, refused = 0;
    *log = qbtest::capture_stdout([&] {
        for (int i = 0; i < 512; ++i) (send(const_cast<char*>(kChunk.data()), static_cast<int>(kChunk.size())) == 0
                                           ? accepted : refused)++;
    });
    return {accepted, refused};
}

// The stuck session closes at the limit with a log line while 512 MiB are offered to it; the process grows by
// far less than that, and a well-behaved client on the same server still gets its messages.
TEST(WebSocketSendQueue, ServerClosesASessionThatStopsReading) {
    WS_Set_Max_Send_Queue(kLimit);
    ws_server_cb_param param{};
    param.callback = [](void*, ws_callback_type, char*, int, void*) {};
    param.onopen = [](void* s) {
        std::lock_guard<std::mutex> lock(g_lock);
        g_opened.push_back(s);
    };
    param.onclose = [](void* s) { g_closed = s; };
    WS_Server_Handle server = WS_Server_Start(0, &param);
    ASSERT_NE(server, nullptr);
    const int fd = stuck_peer(WS_Server_Port(server));
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(wait_until([] { return opened() == 1; }));
    std::atomic<int> received{0};
    ws_client_cb_param cparam{};
    cparam.callback = [](WS_Handle, int, char*, int, void* user) { ++*static_cast<std::atomic<int>*>(user); };
    WS_Handle good = WS_Client_Start(qbtest::mut("127.0.0.1"), WS_Server_Port(server), qbtest::mut("/"), nullptr,
                                     &cparam, &received);
    ASSERT_TRUE(good && wait_until([&] { return opened() == 2 && WS_Client_Connected(good) == 1; }));

    const long before = rss_kib();
    std::string log;
    const auto [accepted, refused] = flood([](char* d, int n) { return WS_Server_Send_Binary(g_opened[0], d, n); }, &log);
    const long grown_kib = rss_kib() - before;
    EXPECT_GT(refused, 0);
    EXPECT_LT(accepted, 64);  // the limit plus what the socket buffers took meanwhile
    EXPECT_NE(log.find("closing the session"), std::string::npos) << log.substr(0, 2000);
    EXPECT_LT(grown_kib, 64 * 1024);
    ASSERT_TRUE(wait_until([] { return g_closed.load() == g_opened[0]; }));

    EXPECT_EQ(WS_Server_Send_String(g_opened[1], qbtest::mut("still here")), 0);
    EXPECT_TRUE(wait_until([&] { return received.load() == 1; }));
    EXPECT_EQ(WS_Client_Stop(good), 0);
    EXPECT_EQ(WS_Server_Stop(server), 0);
    close(fd);
    WS_Set_Max_Send_Queue(0);
    EXPECT_EQ(WS_Get_Max_Send_Queue(), WS_DEFAULT_MAX_SEND_QUEUE);
}
// The client's own queue: a server that accepts the handshake and then reads nothing gets the connection
// closed (onclose runs) once the client's queue is full; later sends fail.
TEST(WebSocketSendQueue, ClientClosesAConnectionThatStopsReading) {
    const std::string script = R"(
import base64, hashlib, socket, time
s = socket.socket()
s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
s.bind(("127.0.0.1", 0)); s.listen(1)
print("PORT", s.getsockname()[1], flush=True)
c, _ = s.accept()
req = b""
while b"\r\n\r\n" not in req: req += c.recv(4096)
key = [l.split(b":", 1)[1].strip() for l in req.split(b"\r\n") if l.lower().startswith(b"sec-websocket-key")][0]
accept = base64.b64encode(hashlib.sha1(key + b"258EAFA5-E914-47DA-95CA-C5AB0DC85B11").digest())
c.sendall(b"HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
          b"Sec-WebSocket-Accept: " + accept + b"\r\nSec-WebSocket-Protocol: data_trans\r\n\r\n")
time.sleep(120)
)";
    qbtest::PeerProcess peer({qbtest::kSystemPython, "-c", script});
    const int port = peer.wait_for_port_line();
    ASSERT_GT(port, 0) << peer.output();
    WS_Set_Max_Send_Queue(kLimit);
    std::atomic<int> closed{0};
    ws_client_cb_param cparam{};
    cparam.callback = [](WS_Handle, int, char*, int, void*) {};
    cparam.onclose = [](WS_Handle, void* user) { ++*static_cast<std::atomic<int>*>(user); };
    WS_Handle client = WS_Client_Start(qbtest::mut("127.0.0.1"), port, qbtest::mut("/"), nullptr, &cparam, &closed);
    ASSERT_NE(client, nullptr);
    ASSERT_TRUE(wait_until([&] { return WS_Client_Connected(client) == 1; }));
    std::string log;
    const auto [accepted, refused] = flood([client](char* d, int n) { return WS_Client_Send_Binary(client, d, n); }, &log);
    EXPECT_GT(refused, 0);
    EXPECT_LT(accepted, 64);
    EXPECT_NE(log.find("closing the connection"), std::string::npos) << log.substr(0, 2000);
    ASSERT_TRUE(wait_until([&] { return closed.load() == 1; }));
    EXPECT_EQ(WS_Client_Connected(client), 0);
    EXPECT_EQ(WS_Client_Stop(client), 0);
    WS_Set_Max_Send_Queue(0);
}

}  // namespace
