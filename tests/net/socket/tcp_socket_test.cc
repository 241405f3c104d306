// The TCP helpers against Python sockets (a peer that is not ours).
#include <arpa/inet.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "sdk_socket.h"
#include "support/peer_process.h"
#include "support/python_peer.h"
#include "support/redis_server.h"
#include "support/test_support.h"

namespace {
using qbtest::mut;

// Each connection starts with a command line from the client; the peer then plays that part.
const char* kPeer = R"(
import socket, threading, time
def serve(c):
    f = c.makefile("rb")
    cmd = f.readline().strip()
    if cmd == b"split":
        for part in (b"0123", b"456", b"789"):
            c.sendall(part); time.sleep(0.1)
    elif cmd == b"four_close":
        c.sendall(b"abcd")
    elif cmd == b"four_quiet":
        c.sendall(b"abcd"); time.sleep(3)
    elif cmd == b"junk_then_fresh":
        c.sendall(b"j" * 3000)
        f.read(1)
        c.sendall(b"fresh")
        time.sleep(1)
    c.close()
s = socket.socket()
s.bind(("127.0.0.1", 0))
s.listen(16)
print("PORT", s.getsockname()[1], flush=True)
while True:
    c, _ = s.accept()
    threading.Thread(target=serve, args=(c,), daemon=True).start()
)";

class TcpPeer : public testing::Test {
protected:
    void SetUp() override {
        port_ = peer_.wait_for_port_line();
        ASSERT_GT(port_, 0) << peer_.output();
    }
    // A client connection that has told the peer which part to play.
    int open(const char* cmd, int timeout_ms = 0) {
        int fd = TCP_Socket_Create_Client(mut("localhost"), port_, timeout_ms);
        std::string line = std::string(cmd) + "\n";
        const int n = static_cast<int>(line.size());
        if (fd >= 0) {
            EXPECT_EQ(TCP_Socket_Write(fd, reinterpret_cast<unsigned char*>(line.data()), n), n);
        }
        return fd;
    }
    qbtest::PeerProcess peer_{{qbtest::kSystemPython, "-c", kPeer}};
    int port_ = 0;
};

int pending_bytes(int fd) {
    int n = 0;
    return ioctl(fd, FIONREAD, &n) == 0 ? n : -1;
}

TEST_F(TcpPeer, ReadCollectsSplitDataAndReportsCloseAndTimeOut) {
    unsigned char buf[16] = {};
    int got = -7;
    int fd = open("split");
    ASSERT_GE(fd, 0);
    EXPECT_EQ(TCP_Socket_Read(fd, buf, 10, &got), 0);
    EXPECT_EQ(got, 10);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), 10), "0123456789");
    EXPECT_EQ(TCP_Socket_Read(fd, buf, 0, &got), 0);
    EXPECT_EQ(got, 0);
    TCP_Socket_Close(fd);

    // Four bytes, then the peer closes: the bytes already read are not reported.
    fd = open("four_close");
    got = -7;
    EXPECT_EQ(TCP_Socket_Read(fd, buf, 10, &got), -2);
    EXPECT_EQ(got, 0);
    TCP_Socket_Close(fd);

    // Four bytes, then silence past the receive limit.
    fd = open("four_quiet", 300);
    got = -7;
    EXPECT_EQ(TCP_Socket_Read(fd, buf, 10, &got), -3);
    EXPECT_EQ(got, 4);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), 4), "abcd");
    TCP_Socket_Close(fd);
}

TEST_F(TcpPeer, PeekConsumesOneByteAndFlushDiscardsWaitingInput) {
    int fd = open("junk_then_fresh");
    ASSERT_GE(fd, 0);
    u8 first = 0;
    while (pending_bytes(fd) < 3000) usleep(10000);
    EXPECT_EQ(TCP_Socket_Peek(fd, &first), 1);
    EXPECT_EQ(first, 'j');
    EXPECT_EQ(pending_bytes(fd), 2999);
    // Far above FD_SETSIZE, which a select()-based flush could not watch.
    ASSERT_EQ(dup2(fd, 1500), 1500);
    TCP_Socket_Close(fd);
    fd = 1500;
    EXPECT_EQ(TCP_Socket_Flush_Read(fd), 0);
    EXPECT_EQ(pending_bytes(fd), 0);
    EXPECT_EQ(TCP_Socket_Peek(fd, &first), 0);  // nothing waiting
    unsigned char go = 'k', buf[8] = {};
    int got = 0;
    ASSERT_EQ(TCP_Socket_Write(fd, &go, 1), 1);
    ASSERT_EQ(TCP_Socket_Read(fd, buf, 5, &got), 0);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), 5), "fresh");
    // The peer closes after a while: the flush returns instead of spinning, and Peek warns.
    while (pending_bytes(fd) == 0) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 50) == 1) break;
    }
    EXPECT_EQ(TCP_Socket_Flush_Read(fd), 0);
    EXPECT_NE(qbtest::capture_stdout([&] { EXPECT_EQ(TCP_Socket_Peek(fd, &first), 0); }).find("Socket closed warning"),
              std::string::npos);
    TCP_Socket_Close(fd);
}

TEST_F(TcpPeer, WritingToAVanishedPeerFailsWithoutSigpipe) {
    int fd = open("bye");
    ASSERT_GE(fd, 0);
    unsigned char block[65536] = {};
    int rc = 0;
    // The first writes may still be taken by the kernel; once the reset is in, the write fails.
    std::string out = qbtest::capture_stdout([&] {
        for (int i = 0; i < 200 && rc >= 0; ++i) {
            rc = TCP_Socket_Write(fd, block, sizeof block);
            if (rc >= 0) usleep(20000);
        }
    });
    EXPECT_EQ(rc, -1);
    EXPECT_TRUE(out.find("Socket_Write errno=32") != std::string::npos ||
                out.find("Socket_Write errno=104") != std::string::npos)
        << out;
    TCP_Socket_Close(fd);
}

TEST_F(TcpPeer, ClientFailuresAndKeepAlive) {
    const int closed_port = qbtest::free_loopback_port();
    std::string out = qbtest::capture_stdout([&] { EXPECT_EQ(TCP_Socket_Create_Client(mut("127.0.0.1"), closed_port, 0), -1); });
    EXPECT_NE(out.find("connect Failed"), std::string::npos);
    EXPECT_EQ(TCP_Socket_Create_Client(mut("127.0.0.1"), 70000, 0), -1);
    EXPECT_EQ(TCP_Socket_Create_Client(nullptr, port_, 0), -1);

    int fd = open("bye", 1500);
    ASSERT_GE(fd, 0);
    timeval tv{};
    socklen_t len = sizeof tv;
    getsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, &len);
    EXPECT_EQ(tv.tv_sec, 1);
    EXPECT_EQ(tv.tv_usec, 500000);
    EXPECT_EQ(TCP_Socket_KeepAlive(fd, 30, 5, 4), 0);
    int value = 0;
    len = sizeof value;
    getsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &value, &len);
    EXPECT_EQ(value, 30);
    getsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &value, &len);
    EXPECT_EQ(value, 4);
    // An interval the kernel refuses stops the call at that option.
    testing::internal::CaptureStderr();
    out = qbtest::capture_stdout([&] { EXPECT_EQ(TCP_Socket_KeepAlive(fd, 30, 0, 4), -1); });
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(out.find("setsockopt TCP_KEEPINTVL failed"), std::string::npos);
    EXPECT_NE(err.find("TCP_KEEPINTVL: "), std::string::npos);
    TCP_Socket_Close(fd);
}

// Forked child in a private network namespace, where no name can be looked up. 77: no namespace.
int unresolvable_child() {
    if (unshare(CLONE_NEWNET) != 0 && unshare(CLONE_NEWUSER | CLONE_NEWNET) != 0) return 77;
    int rc = 0;
    const std::string out = qbtest::capture_stdout([&] { rc = TCP_Socket_Create_Client(mut("no-such-host.invalid"), 80, 0); });
    return rc == -1 && out.find("gethostbyname fail\n\n") != std::string::npos ? 0 : 1;
}

TEST(TcpClient, UnresolvableHostIsRefused) {
    const pid_t pid = fork();
    if (pid == 0) _exit(unresolvable_child());
    int status = -1;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    if (WIFEXITED(status) && WEXITSTATUS(status) == 77) GTEST_SKIP() << "no private network namespace available";
    EXPECT_EQ(status, 0);
}

TEST(TcpServer, AcceptsAPythonClientAndTimesOutWithoutOne) {
    const int server = TCP_Socket_Create_Server(0);
    ASSERT_GE(server, 0);
    sockaddr_in addr{};
    socklen_t len = sizeof addr;
    ASSERT_EQ(getsockname(server, reinterpret_cast<sockaddr*>(&addr), &len), 0);
    const int port = ntohs(addr.sin_port);

    // The port is taken: a second server cannot bind it.
    std::string out = qbtest::capture_stdout([&] { EXPECT_EQ(TCP_Socket_Create_Server(port), -1); });
    EXPECT_NE(out.find("ERROR on binding"), std::string::npos);

    qbtest::PeerProcess client({qbtest::kSystemPython, "-c",
                                "import socket,sys,time; s=socket.create_connection(('127.0.0.1', int(sys.argv[1])));"
                                "print('CONNECTED', flush=True); s.sendall(b'hi'); time.sleep(5)",
                                std::to_string(port)});
    ASSERT_TRUE(client.wait_for_output("CONNECTED")) << client.output();
    int fd = -1;
    out = qbtest::capture_stdout([&] { fd = TCP_Socket_Accept(server, 5000); });
    ASSERT_GE(fd, 0) << out;
    sockaddr_in peer{};
    len = sizeof peer;
    ASSERT_EQ(getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &len), 0);
    const std::string line = "Success accept client from 127.0.0.1:" + std::to_string(ntohs(peer.sin_port)) + "\n";
    EXPECT_NE(out.find(line), std::string::npos) << out;
    unsigned char buf[2];
    int got = 0;
    EXPECT_EQ(TCP_Socket_Read(fd, buf, 2, &got), 0);
    TCP_Socket_Close(fd);

    // Nobody else connects: a zero limit still waits a little, then fails.
    out = qbtest::capture_stdout([&] { EXPECT_EQ(TCP_Socket_Accept(server, 0), -1); });
    EXPECT_NE(out.find("Accept failed errno=11\n"), std::string::npos) << out;
    TCP_Socket_Close(server);
}

}  // namespace
