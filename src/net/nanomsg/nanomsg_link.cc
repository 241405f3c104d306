#include "net/nanomsg/nanomsg_link.h"

#include <nanomsg/nn.h>
#include <nanomsg/pair.h>

#include <cstdlib>
#include <string>

#include "nanomsg_client.h"
#include "sdk_logger.h"

namespace qb::nanomsg {

nano_msg_hdl* start(const char* url, int port, bool bind, const char* tag) {
    if (!url) {
        LOGE(tag, "NanoMsg Init failed");
        return nullptr;
    }
    const std::string address = std::string(url) + ":" + std::to_string(port);
    LOGD(tag, "%s %s", bind ? "Starting nanomsg server at" : "Connect to nanomsg server at", address.c_str());
    const int sock = nn_socket(AF_SP, NN_PAIR);
    if (sock < 0) {
        LOGE(tag, "NanoMsg Init failed");
        return nullptr;
    }
    // nanomsg refuses messages over 1 MiB by default; the buffer takes 2 MiB and cuts longer ones.
    const int unlimited = -1;
    nn_setsockopt(sock, NN_SOL_SOCKET, NN_RCVMAXSIZE, &unlimited, sizeof unlimited);
    const int endpoint = bind ? nn_bind(sock, address.c_str()) : nn_connect(sock, address.c_str());
    if (endpoint < 0) {
        LOGE(tag, "%s", bind ? "NanoMsg Bind failed" : "NanoMsg Connect failed");
        nn_close(sock);
        return nullptr;
    }
    auto* h = static_cast<nano_msg_hdl*>(calloc(1, sizeof(nano_msg_hdl)));
    unsigned char* buffer = static_cast<unsigned char*>(calloc(1, NANO_MSG_INTERNAL_BUFFER_SIZE));
    if (!h || !buffer) {
        LOGE(tag, "nano msg buffer alloc failed");
        free(h);
        free(buffer);
        nn_close(sock);
        return nullptr;
    }
    *h = nano_msg_hdl{sock, buffer, NANO_MSG_INTERNAL_BUFFER_SIZE, endpoint};
    return h;
}

int send(nano_msg_hdl* h, const char* tag, const char* data, int size) {
    if (!h) {
        LOGE(tag, "Send:NULL handle for Nanomsg");
        return -1;
    }
    if (size < 0 || (!data && size > 0)) return -1;
    return nn_send(h->sock, data, static_cast<size_t>(size), 0);
}

int receive(nano_msg_hdl* h, const char* tag, char** data, int* size) {
    if (!h) {
        LOGE(tag, "Recv:NULL handle for Nanomsg");
        return -1;
    }
    if (!data || !size) return -1;
    const int n = nn_recv(h->sock, h->buffer, static_cast<size_t>(h->buffer_size), 0);
    if (n < 0) {
        LOGE(tag, "Nano msg receive failed");
        return -1;
    }
    if (n > h->buffer_size) LOGW(tag, "Nano msg of %d bytes cut to %d", n, h->buffer_size);
    *data = reinterpret_cast<char*>(h->buffer);
    *size = n < h->buffer_size ? n : h->buffer_size;
    return 0;
}

void stop(nano_msg_hdl* h, const char* tag) {
    if (!h) {
        LOGE(tag, "Stop:NULL handle for Nanomsg");
        return;
    }
    nn_shutdown(h->sock, h->endpoint);
    nn_close(h->sock);
    free(h->buffer);
    free(h);
}

}  // namespace qb::nanomsg
