// One end of a nanomsg PAIR link; the client (connects) and server (binds)
// handles are both this, each with its own log tag.
#pragma once

namespace qb::nanomsg {

struct nano_msg_hdl {
    int sock;
    unsigned char* buffer;  // receive buffer, reused by every receive
    int buffer_size;
    int endpoint;  // what nn_bind/nn_connect returned; Stop shuts this one down
};

nano_msg_hdl* start(const char* url, int port, bool bind, const char* tag);
int send(nano_msg_hdl* h, const char* tag, const char* data, int size);
int receive(nano_msg_hdl* h, const char* tag, char** data, int* size);
void stop(nano_msg_hdl* h, const char* tag);

}  // namespace qb::nanomsg
