/** @file
 * Plain IPv4 TCP and UDP helpers over descriptors that the caller owns and
 * closes with the matching Close. Time limits are in milliseconds.
 *
 * - Most diagnostics go to standard output, not to the logger.
 * - Writes never raise SIGPIPE: a vanished peer is a -1 result.
 * - No state is kept between calls; any thread may call them.
 * - Results: a descriptor, a byte count or 0 for success, -1 for failure;
 *   TCP_Socket_Read has its own codes.
 */
#ifndef SDK_SOCKET_H
#define SDK_SOCKET_H

#include <netinet/in.h>

#include "qb_export.h"

QB_BEGIN_DECLS

typedef unsigned char u8;

/** Listens on every local address at portno (backlog 5, SO_REUSEADDR);
 * returns the listening descriptor. */
QB_API int TCP_Socket_Create_Server(int portno);
/** Waits up to timeout_ms (0 or less: 100 microseconds) for one client and
 * returns its descriptor; the limit stays set on server_fd. A failure or
 * time-out sleeps one second before returning -1. */
QB_API int TCP_Socket_Accept(int server_fd, int timeout_ms);
/** Resolves addr (first IPv4 address), connects, and sets timeout_ms as the
 * send and receive time limit (0: none). The connect gives up after two SYN
 * retries (a few seconds). */
QB_API int TCP_Socket_Create_Client(char* addr, int port, int timeout_ms);
/** Turns on keep-alive probes: first after ktime s idle, then every kinterval
 * s, giving up after kprobes unanswered. */
QB_API int TCP_Socket_KeepAlive(int s, int ktime, int kinterval, int kprobes);
/** Reads exactly len bytes: 0 done (*ret_len = len); -2 peer closed
 * (*ret_len = 0); -3 receive time limit (*ret_len = bytes so far); -1 other
 * failure, EINTR included (*ret_len = bytes so far). */
QB_API int TCP_Socket_Read(int socket_fd, unsigned char* buffer, int len, int* ret_len);
/** Returns len once every byte is out, else -1. */
QB_API int TCP_Socket_Write(int socket_fd, unsigned char* buffer, int len);
/** Consumes one waiting byte into buffer[0] without blocking: 1, or 0 when
 * none is waiting, on failure, or when the peer has closed. */
QB_API int TCP_Socket_Peek(int socket_fd, u8* buffer);
/** Discards the input that is already waiting. Returns 0. */
QB_API int TCP_Socket_Flush_Read(int socket_fd);
/** Closes the descriptor; returns 0 even when close fails. */
QB_API int TCP_Socket_Close(int fd);

/** Creates an unbound UDP socket for sending; its descriptor, or -1. */
QB_API int UDP_Socket_Create_Client(void);
/** Creates a UDP socket bound to port on every local address. */
QB_API int UDP_Socket_Create_Server(int port);
/** Waits for one datagram. Zero-fills recv_buf, then returns the datagram's
 * length (at most recv_len; the rest of a longer datagram is lost). peeraddr
 * may be NULL. */
QB_API int UDP_Socket_Receive(int Socket, u8* recv_buf, int recv_len, struct sockaddr_in* peeraddr);
/** As UDP_Socket_Receive, but -1 with errno EAGAIN at once when nothing is waiting. */
QB_API int UDP_Socket_Receive_Nonblock(int Socket, u8* recv_buf, int recv_len, struct sockaddr_in* peeraddr);
/** Sends data_len bytes as one datagram to ip:port; returns the bytes sent. ip
 * is a dotted quad; anything else is refused with -1. */
QB_API int UDP_Socket_Send_Bin(int Socket, char* ip, int port, char* data, int data_len);
/** Sends the NUL-terminated data (without the NUL), as UDP_Socket_Send_Bin. */
QB_API int UDP_Socket_Send(int Socket, char* ip, int port, char* data);
/** Closes the socket; returns 0. */
QB_API int UDP_Socket_Close(int Socket);

QB_END_DECLS

#endif /* SDK_SOCKET_H */
