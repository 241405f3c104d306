// The TCP helpers against Python sockets (a peer that is not ours).
#include <arpa/inet.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "sdk_socket.h"
#include "support/netns.h"
#include "support/peer_process.h"
#include "support/python_peer.h"
#include "support/redis_server.h"
#include "support/test_support.h"

namespace {
using qbtest::mut;

// Each connection opens with a command line; the peer then plays that part and closes.
const char* kPeer = R"(
import socket, threading, time
def serve(c):
    f = c.makefile("rb")
    cmd = f.readline().strip()
    if cmd == b"split":
        for part in (b"0123", b"456", b"789"): c.sendall(part); time.sleep(0.1)
    elif cmd == b"four_close": c.sendall(b"abcd")
    elif cmd == b"four_quiet": c.sendall(b"abcd"); time.sleep(3)
    elif cmd == b"junk": c.sendall(b"j" * 3000); f.read(1); c.sendall(b"fresh"); time.sleep(0.3)
    c.close()
s = socket.create_server(("127.0.0.1", 0))
print("PORT", s.getsockname()[1], flush=True)
while True: threading.Thread(target=serve, args=(s.accept()[0],), daemon=True).start()
)";

class TcpPeer : public testing::Test {
protected:
    int open(std::string cmd, int timeout_ms = 0) {
        const int fd = TCP_Socket_Create_Client(mut("localhost"), port_, timeout_ms);
        cmd += "\n";
        EXPECT_EQ(TCP_Socket_Write(fd, reinterpret_cast<unsigned char*>(cmd.data()), static_cast<int>(cmd.size())), static_cast<int>(cmd.size()));
        return fd;
    }
    qbtest::PeerProcess peer_{{qbtest::kSystemPython, "-c", kPeer}};
    int port_ = peer_.wait_for_port_line();
    unsigned char buf_[16] = {};
    int got_ = -7;
};

int pending(int fd) {
    int n = -1;
    ioctl(fd, FIONREAD, &n);
    return n;
}

TEST_F(TcpPeer, ReadCollectsSplitDataAndReportsCloseAndTimeOut) {
    EXPECT_EQ(TCP_Socket_Read(open("split"), buf_, 10, &got_), 0);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buf_), got_), "0123456789");
    EXPECT_EQ(TCP_Socket_Read(open("four_close"), buf_, 10, &got_), -2);
    EXPECT_EQ(got_, 0);  // bytes already read are not reported
    EXPECT_EQ(TCP_Socket_Read(open("four_quiet", 300), buf_, 10, &got_), -3);
    EXPECT_EQ(got_, 4);
}

TEST_F(TcpPeer, PeekConsumesAByteAndFlushWorksAboveFdSetsize) {
    int fd = open("junk");
    while (pending(fd) < 3000) usleep(10000);
    EXPECT_EQ(TCP_Socket_Peek(fd, buf_), 1);
    EXPECT_EQ(pending(fd), 2999);
    ASSERT_EQ(dup2(fd, 1500), 1500);  // beyond what select() could watch
    TCP_Socket_Close(fd);
    fd = 1500;
    EXPECT_EQ(TCP_Socket_Flush_Read(fd), 0);
    EXPECT_EQ(pending(fd), 0);
    EXPECT_EQ(TCP_Socket_Write(fd, buf_, 1), 1);
    EXPECT_EQ(TCP_Socket_Read(fd, buf_, 5, &got_), 0);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buf_), 5), "fresh");
    // Once the peer has closed, the flush returns instead of spinning and Peek warns.
    EXPECT_EQ(TCP_Socket_Read(fd, buf_, 1, &got_), -2);
    EXPECT_EQ(TCP_Socket_Flush_Read(fd), 0);
    EXPECT_NE(qbtest::capture_stdout([&] { EXPECT_EQ(TCP_Socket_Peek(fd, buf_), 0); }).find("Socket closed warning"), std::string::npos);
    TCP_Socket_Close(fd);
}

TEST_F(TcpPeer, WritingToAVanishedPeerFailsWithoutSigpipe) {
    const int fd = open("bye");
    std::vector<unsigned char> block(65536);
    int rc = 0;
    const std::string out = qbtest::capture_stdout([&] {
        for (int i = 0; i < 200 && rc >= 0; ++i, usleep(20000)) rc = TCP_Socket_Write(fd, block.data(), 65536);
    });
    EXPECT_EQ(rc, -1);
    EXPECT_TRUE(out.find("errno=32") != std::string::npos || out.find("errno=104") != std::string::npos) << out;
    TCP_Socket_Close(fd);
}

TEST(TcpClient, UnresolvableHostIsRefusedInAPrivateNetwork) {
    const int rc = qbtest::run_in_private_netns([] {
        int rc = 0;
        const std::string out = qbtest::capture_stdout([&] { rc = TCP_Socket_Create_Client(mut("no-such-host.invalid"), 80, 0); });
        return rc == -1 && out.find("gethostbyname fail\n\n") != std::string::npos ? 0 : 1;
    });
    if (rc == 77) GTEST_SKIP() << "no private network namespace available";
    EXPECT_EQ(rc, 0);
}

TEST(TcpServer, AcceptsAPythonClientTimesOutAndRefusesATakenPort) {
    const int server = TCP_Socket_Create_Server(0);
    sockaddr_in addr{};
    socklen_t len = sizeof addr;
    ASSERT_EQ(getsockname(server, reinterpret_cast<sockaddr*>(&addr), &len), 0);
    const std::string port = std::to_string(ntohs(addr.sin_port));
    qbtest::PeerProcess client({qbtest::kSystemPython, "-c", "import socket,sys,time; socket.create_connection(('127.0.0.1',int(sys.argv[1]))); time.sleep(9)", port});
    std::string out = qbtest::capture_stdout([&] {
        EXPECT_EQ(TCP_Socket_Create_Server(std::stoi(port)), -1);
        EXPECT_GE(TCP_Socket_Accept(server, 5000), 0);
        EXPECT_EQ(TCP_Socket_Accept(server, 0), -1);  // nobody else: 100 us, then one second's pause
    });
    for (const char* line : {"ERROR on binding", "Success accept client from 127.0.0.1:", "Accept failed errno=11\n"})
        EXPECT_NE(out.find(line), std::string::npos) << out;
}

}  // namespace
