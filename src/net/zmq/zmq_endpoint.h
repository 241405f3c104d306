// One CZMQ socket and the frame its last receive returned; the client (PUSH)
// and server (PULL) handles are both this, with their own log lines.
#pragma once

#include <czmq.h>

namespace qb::zmq {

struct endpoint {
    zsock_t* sock;
    zmq_msg_t last;  // owned; its bytes are what the last receive handed out
};

// "%s:%d" of url and port; null (after "ZMQ Init failed" under tag) when the socket cannot be made.
endpoint* start(const char* url, int port, bool push, const char* tag, const char* start_line,
                zsys_handler_fn* on_interrupt);
// zmsg_send's result, or -1.
int send(endpoint* ep, const char* tag, const char* data, int size);
enum class received { ok, no_message, no_frame };
received receive(endpoint* ep, char** data, int* size);
void stop(endpoint* ep);

}  // namespace qb::zmq
