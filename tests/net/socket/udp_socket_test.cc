// The UDP helpers against Python datagram sockets.
#include <arpa/inet.h>
#include <sys/socket.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include "sdk_socket.h"
#include "support/peer_process.h"
#include "support/python_peer.h"
#include "support/test_support.h"

namespace {
using qbtest::mut;

// Echoes each datagram, with its length in front; "big" asks for 3000 bytes instead.
const char* kEcho = R"(
import socket
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.bind(("127.0.0.1", 0))
print("PORT", s.getsockname()[1], flush=True)
while True:
    d, a = s.recvfrom(65536)
    print("GOT", len(d), flush=True)
    s.sendto(bytes(range(100)) * 30 if d == b"big" else d, a)
)";

TEST(Udp, ClientExchangesDatagramsWithAPeer) {
    qbtest::PeerProcess peer({qbtest::kSystemPython, "-c", kEcho});
    const int port = peer.wait_for_port_line();
    ASSERT_GT(port, 0) << peer.output();
    const int fd = UDP_Socket_Create_Client();
    ASSERT_GE(fd, 0);
    u8 buf[200];
    sockaddr_in from{};

    EXPECT_EQ(UDP_Socket_Send(fd, mut("127.0.0.1"), port, mut("hello")), 5);
    EXPECT_EQ(UDP_Socket_Receive(fd, buf, sizeof buf, &from), 5);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), 5), "hello");
    EXPECT_EQ(ntohs(from.sin_port), port);

    // An empty text is an empty datagram, not nothing.
    EXPECT_EQ(UDP_Socket_Send(fd, mut("127.0.0.1"), port, mut("")), 0);
    ASSERT_TRUE(peer.wait_for_output("GOT 0"));
    EXPECT_EQ(UDP_Socket_Receive(fd, buf, sizeof buf, nullptr), 0);

    // A longer datagram is cut to the buffer; the rest is gone.
    EXPECT_EQ(UDP_Socket_Send_Bin(fd, mut("127.0.0.1"), port, mut("big"), 3), 3);
    EXPECT_EQ(UDP_Socket_Receive(fd, buf, 100, &from), 100);
    EXPECT_EQ(buf[99], 99);
    EXPECT_EQ(buf[100], 0);  // zero-filled up to what was asked, never written past it
    errno = 0;
    EXPECT_EQ(UDP_Socket_Receive_Nonblock(fd, buf, sizeof buf, &from), -1);
    EXPECT_EQ(errno, EAGAIN);

    // Only dotted quads: names and malformed texts are refused rather than sent to 255.255.255.255.
    for (const char* bad : {"localhost", "256.1.1.1", "1.2.3", ""})
        EXPECT_EQ(UDP_Socket_Send(fd, mut(bad), port, mut("x")), -1) << bad;
    EXPECT_EQ(UDP_Socket_Send(fd, mut("127.0.0.1"), 70000, mut("x")), -1);
    EXPECT_EQ(UDP_Socket_Close(fd), 0);
}

TEST(Udp, ServerReceivesFromAPeerAndRefusesATakenPort) {
    const int fd = UDP_Socket_Create_Server(0);
    ASSERT_GE(fd, 0);
    sockaddr_in addr{};
    socklen_t len = sizeof addr;
    ASSERT_EQ(getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len), 0);
    const int port = ntohs(addr.sin_port);

    std::string out;
    ASSERT_EQ(qbtest::run_python("import socket,sys; socket.socket(socket.AF_INET, socket.SOCK_DGRAM)"
                                 ".sendto(b'abc', ('127.0.0.1', int(sys.argv[1])))",
                                 {std::to_string(port)}, &out),
              0)
        << out;
    u8 buf[16];
    memset(buf, 'X', sizeof buf);
    sockaddr_in from{};
    EXPECT_EQ(UDP_Socket_Receive(fd, buf, sizeof buf, &from), 3);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), sizeof buf), std::string("abc") + std::string(13, '\0'));
    EXPECT_EQ(from.sin_addr.s_addr, htonl(INADDR_LOOPBACK));

    out = qbtest::capture_stdout([&] { EXPECT_EQ(UDP_Socket_Create_Server(port), -1); });
    EXPECT_NE(out.find("Bind failed"), std::string::npos);
    UDP_Socket_Close(fd);
}

}  // namespace
