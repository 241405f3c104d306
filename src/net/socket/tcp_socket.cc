#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "net/socket/socket_util.h"
#include "sdk_logger.h"
#include "sdk_os.h"
#include "sdk_socket.h"

namespace {
constexpr const char* TAG = "TCP";

timeval to_timeval(int ms) { return timeval{ms / 1000, (ms % 1000) * 1000}; }

// getaddrinfo is safe from any thread, unlike gethostbyname.
bool resolve_ipv4(const char* host, in_addr* out) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* res = nullptr;
    if (!host || getaddrinfo(host, nullptr, &hints, &res) != 0 || !res) return false;
    *out = reinterpret_cast<sockaddr_in*>(res->ai_addr)->sin_addr;
    freeaddrinfo(res);
    return true;
}
}  // namespace

extern "C" {

QB_API int TCP_Socket_Create_Server(int portno) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
    if (fd < 0) {
        puts("ERROR opening socket");
        return -1;
    }
    int on = 1;
    if (setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) < 0) puts("setsockopt(SO_REUSEADDR) failed");
    sockaddr_in addr;
    if (!qb::net::ipv4_address(htonl(INADDR_ANY), portno, &addr) ||
        bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) < 0) {
        fputs("ERROR on binding", stdout);
        close(fd);
        return -1;
    }
    if (listen(fd, 5) < 0) {
        puts("ERROR on listen");
        close(fd);
        return -1;
    }
    return fd;
}

QB_API int TCP_Socket_Accept(int server_fd, int timeout_ms) {
    timeval tv = to_timeval(timeout_ms);
    if (tv.tv_sec < 0 || (tv.tv_sec <= 0 && tv.tv_usec <= 0)) tv = timeval{0, 100};
    setsockopt(server_fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    LOGD(TAG, "Socket Server Try accept\n");
    for (;;) {
        sockaddr_in peer{};
        socklen_t len = sizeof peer;
        int fd = accept4(server_fd, reinterpret_cast<sockaddr*>(&peer), &len, SOCK_CLOEXEC);
        if (fd >= 0) {
            char text[INET_ADDRSTRLEN] = "";
            inet_ntop(AF_INET, &peer.sin_addr, text, sizeof text);
            printf("Success accept client from %s:%d\n", text, ntohs(peer.sin_port));
            return fd;
        }
        if (errno == ECONNABORTED || errno == EINTR) {
            puts("Accept again");
            continue;
        }
        printf("Accept failed errno=%d\n", errno);
        os_msleep(1000);
        return -1;
    }
}

QB_API int TCP_Socket_Create_Client(char* addr, int port, int timeout_ms) {
    in_addr ip{};
    if (!resolve_ipv4(addr, &ip)) {
        LOGE(TAG, "gethostbyname fail\n");
        return -1;
    }
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
    if (fd < 0) return -1;
    int syn_count = 2;
    setsockopt(fd, IPPROTO_TCP, TCP_SYNCNT, &syn_count, sizeof syn_count);
    sockaddr_in peer;
    if (!qb::net::ipv4_address(ip.s_addr, port, &peer) ||
        connect(fd, reinterpret_cast<sockaddr*>(&peer), sizeof peer) < 0) {
        puts("connect Failed");
        close(fd);
        return -1;
    }
    const timeval tv = to_timeval(timeout_ms);
    LOGD(TAG, "Socket Send&Recv timeout=%ld.%06lds", static_cast<long>(tv.tv_sec), static_cast<long>(tv.tv_usec));
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    return fd;
}

QB_API int TCP_Socket_KeepAlive(int s, int ktime, int kinterval, int kprobes) {
    int on = 1;
    if (setsockopt(s, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on) < 0) {
        printf("setsockopt SO_KEEPALIVE failed (%m)\n");
        return -1;
    }
    const struct {
        int option;
        int value;
        const char* name;
    } steps[] = {{TCP_KEEPIDLE, ktime, "TCP_KEEPIDLE"},
                 {TCP_KEEPINTVL, kinterval, "TCP_KEEPINTVL"},
                 {TCP_KEEPCNT, kprobes, "TCP_KEEPCNT"}};
    for (const auto& step : steps) {
        if (setsockopt(s, IPPROTO_TCP, step.option, &step.value, sizeof step.value) < 0) {
            const int err = errno;
            printf("setsockopt %s failed\n", step.name);
            fflush(stdout);
            errno = err;
            perror(step.name);
            return -1;
        }
    }
    return 0;
}

QB_API int TCP_Socket_Read(int socket_fd, unsigned char* buffer, int len, int* ret_len) {
    int count = 0;
    while (count < len) {
        ssize_t n = recv(socket_fd, buffer + count, static_cast<size_t>(len - count), 0);
        if (n > 0) {
            count += static_cast<int>(n);
            continue;
        }
        if (n == 0) {
            *ret_len = 0;
            return -2;
        }
        *ret_len = count;
        return (errno == EAGAIN || errno == EWOULDBLOCK) ? -3 : -1;
    }
    *ret_len = len > 0 ? len : 0;
    return 0;
}

QB_API int TCP_Socket_Write(int socket_fd, unsigned char* buffer, int len) {
    int done = 0;
    while (done < len) {
        // MSG_NOSIGNAL: a peer that went away is EPIPE here, not a SIGPIPE for the process.
        ssize_t n = send(socket_fd, buffer + done, static_cast<size_t>(len - done), MSG_NOSIGNAL);
        if (n > 0) {
            done += static_cast<int>(n);
            continue;
        }
        const int err = n < 0 ? errno : EPIPE;
        printf("Socket_Write errno=%d\n", err);
        if (err != EINTR) return -1;
    }
    return len;
}

QB_API int TCP_Socket_Peek(int socket_fd, u8* buffer) {
    ssize_t n = recv(socket_fd, buffer, 1, MSG_DONTWAIT);
    if (n == 1) return 1;
    if (n == 0) puts("Socket closed warning");
    return 0;
}

QB_API int TCP_Socket_Flush_Read(int socket_fd) {
    unsigned char sink[4096];
    for (;;) {
        pollfd p{socket_fd, POLLIN, 0};
        if (poll(&p, 1, 0) <= 0) break;
        if (recv(socket_fd, sink, sizeof sink, MSG_DONTWAIT) <= 0) break;
    }
    return 0;
}

QB_API int TCP_Socket_Close(int fd) {
    if (close(fd) != 0) puts("close error");
    return 0;
}

}  // extern "C"
