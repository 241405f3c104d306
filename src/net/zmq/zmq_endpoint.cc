#include "net/zmq/zmq_endpoint.h"

#include <climits>
#include <new>
#include <string>

#include "sdk_logger.h"

namespace qb::zmq {

endpoint* start(const char* url, int port, bool push, const char* tag, const char* start_line,
                zsys_handler_fn* on_interrupt) {
    if (!url) {
        LOGE(tag, "ZMQ Init failed");
        return nullptr;
    }
    const std::string address = std::string(url) + ":" + std::to_string(port);
    LOGD(tag, "%s%s", start_line, address.c_str());
    zsock_t* sock = push ? zsock_new_push(address.c_str()) : zsock_new_pull(address.c_str());
    auto* ep = sock ? new (std::nothrow) endpoint{sock, nullptr} : nullptr;
    if (!ep) {
        LOGE(tag, "ZMQ Init failed");
        zsock_destroy(&sock);
        return nullptr;
    }
    zsys_handler_set(on_interrupt);
    return ep;
}

int send(endpoint* ep, const char* tag, const char* data, int size) {
    if (size < 0 || (!data && size > 0)) {
        LOGE(tag, "Invalid size %d", size);
        return -1;
    }
    zmsg_t* msg = zmsg_new();
    if (!msg) {
        LOGE(tag, "No memory");
        return -1;
    }
    int rc = zmsg_addmem(msg, data, static_cast<size_t>(size));
    if (rc == 0) rc = zmsg_send(&msg, ep->sock);
    zmsg_destroy(&msg);  // still ours when the send failed
    return rc;
}

received receive(endpoint* ep, char** data, int* size) {
    if (!data || !size) return received::no_message;
    zmsg_t* msg = zmsg_recv(ep->sock);
    if (!msg) return received::no_message;
    zframe_t* first = zmsg_pop(msg);
    zmsg_destroy(&msg);
    if (first && zframe_size(first) > static_cast<size_t>(INT_MAX)) zframe_destroy(&first);
    if (!first) return received::no_frame;
    zframe_destroy(&ep->last);
    ep->last = first;
    *data = reinterpret_cast<char*>(zframe_data(first));
    *size = static_cast<int>(zframe_size(first));
    return received::ok;
}

void stop(endpoint* ep) {
    zsock_destroy(&ep->sock);
    zframe_destroy(&ep->last);
    delete ep;
}

}  // namespace qb::zmq
