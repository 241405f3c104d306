#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "net/socket/socket_util.h"
#include "sdk_socket.h"

namespace {

int receive(int sock, u8* buf, int len, sockaddr_in* peer, int flags) {
    if (!buf || len < 0) {
        errno = EINVAL;
        return -1;
    }
    memset(buf, 0, static_cast<size_t>(len));
    socklen_t peer_len = sizeof(sockaddr_in);
    ssize_t n = recvfrom(sock, buf, static_cast<size_t>(len), flags, reinterpret_cast<sockaddr*>(peer),
                         peer ? &peer_len : nullptr);
    return n < 0 ? -1 : static_cast<int>(n);
}

}  // namespace

extern "C" {

QB_API int UDP_Socket_Create_Client(void) { return socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0); }

QB_API int UDP_Socket_Create_Server(int port) {
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    sockaddr_in addr;
    if (!qb::net::ipv4_address(htonl(INADDR_ANY), port, &addr) ||
        bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) < 0) {
        puts("Bind failed");
        close(fd);
        return -1;
    }
    return fd;
}

QB_API int UDP_Socket_Receive(int Socket, u8* recv_buf, int recv_len, struct sockaddr_in* peeraddr) {
    return receive(Socket, recv_buf, recv_len, peeraddr, 0);
}

QB_API int UDP_Socket_Receive_Nonblock(int Socket, u8* recv_buf, int recv_len, struct sockaddr_in* peeraddr) {
    return receive(Socket, recv_buf, recv_len, peeraddr, MSG_DONTWAIT);
}

QB_API int UDP_Socket_Send_Bin(int Socket, char* ip, int port, char* data, int data_len) {
    in_addr dest{};
    sockaddr_in to;
    // inet_pton refuses what inet_addr would silently turn into 255.255.255.255.
    if (!ip || inet_pton(AF_INET, ip, &dest) != 1 || !qb::net::ipv4_address(dest.s_addr, port, &to)) return -1;
    if (data_len < 0 || (!data && data_len > 0)) return -1;
    ssize_t n = sendto(Socket, data, static_cast<size_t>(data_len), MSG_NOSIGNAL, reinterpret_cast<sockaddr*>(&to),
                       sizeof to);
    return n < 0 ? -1 : static_cast<int>(n);
}

QB_API int UDP_Socket_Send(int Socket, char* ip, int port, char* data) {
    if (!data) return -1;
    return UDP_Socket_Send_Bin(Socket, ip, port, data, static_cast<int>(strlen(data)));
}

QB_API int UDP_Socket_Close(int Socket) {
    close(Socket);
    return 0;
}

}  // extern "C"
