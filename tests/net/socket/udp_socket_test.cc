// The UDP helpers against a Python datagram peer.
#include <arpa/inet.h>

#include <cerrno>

#include "sdk_socket.h"
#include "support/peer_process.h"
#include "support/python_peer.h"
#include "support/test_support.h"

namespace {
using qbtest::mut;

TEST(Udp, ClientAndServerExchangeDatagramsWithAPeer) {
    // Echoes each datagram; "big" is answered with 3000 bytes; "to N" sends "abc" to our server on port N.
    qbtest::PeerProcess peer({qbtest::kSystemPython, "-c", R"(
import socket
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.bind(("127.0.0.1", 0))
print("PORT", s.getsockname()[1], flush=True)
while True:
    d, a = s.recvfrom(65536)
    if d.startswith(b"to "): s.sendto(b"abc", ("127.0.0.1", int(d[3:])))
    else: s.sendto(bytes(range(100)) * 30 if d == b"big" else d, a)
)"});
    const int port = peer.wait_for_port_line();
    const int fd = UDP_Socket_Create_Client();
    u8 buf[200];
    sockaddr_in from{};
    EXPECT_EQ(UDP_Socket_Send(fd, mut("127.0.0.1"), port, mut("hello")), 5);
    EXPECT_EQ(UDP_Socket_Receive(fd, buf, sizeof buf, &from), 5);
    EXPECT_EQ(ntohs(from.sin_port), port);
    EXPECT_EQ(UDP_Socket_Send(fd, mut("127.0.0.1"), port, mut("")), 0);  // an empty datagram, not nothing
    EXPECT_EQ(UDP_Socket_Receive(fd, buf, sizeof buf, nullptr), 0);
    // A longer datagram is cut to the buffer and the rest is gone.
    EXPECT_EQ(UDP_Socket_Send_Bin(fd, mut("127.0.0.1"), port, mut("big"), 3), 3);
    EXPECT_EQ(UDP_Socket_Receive(fd, buf, 100, &from), 100);
    EXPECT_EQ(buf[99], 99);
    EXPECT_EQ(UDP_Socket_Receive_Nonblock(fd, buf, sizeof buf, &from), -1);
    EXPECT_EQ(errno, EAGAIN);
    // Only dotted quads: other texts are refused, not sent to 255.255.255.255.
    for (const char* bad : {"localhost", "256.1.1.1", "1.2.3", "255.255.255.255x"}) EXPECT_EQ(UDP_Socket_Send(fd, mut(bad), port, mut("x")), -1) << bad;

    const int server = UDP_Socket_Create_Server(0);
    socklen_t len = sizeof from;
    ASSERT_EQ(getsockname(server, reinterpret_cast<sockaddr*>(&from), &len), 0);
    const std::string cmd = "to " + std::to_string(ntohs(from.sin_port));
    EXPECT_EQ(UDP_Socket_Send(fd, mut("127.0.0.1"), port, mut(cmd.c_str())), static_cast<int>(cmd.size()));
    memset(buf, 'X', sizeof buf);
    EXPECT_EQ(UDP_Socket_Receive(server, buf, 16, &from), 3);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), 17), std::string("abc") + std::string(13, '\0') + "X");
    const std::string out = qbtest::capture_stdout([&] { EXPECT_EQ(UDP_Socket_Create_Server(port), -1); });
    EXPECT_NE(out.find("Bind failed"), std::string::npos);
    UDP_Socket_Close(server);
    UDP_Socket_Close(fd);
}

}  // namespace
