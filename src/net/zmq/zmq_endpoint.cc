#include "net/zmq/zmq_endpoint.h"

#include <cerrno>
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
    auto* ep = sock ? new (std::nothrow) endpoint{sock, {}} : nullptr;
    if (!ep) {
        LOGE(tag, "ZMQ Init failed");
        zsock_destroy(&sock);
        return nullptr;
    }
    zmq_msg_init(&ep->last);
    zsys_handler_set(on_interrupt);
    return ep;
}

// CZMQ owns the sockets; messages go through libzmq directly, so a send or a
// receive allocates nothing of its own (the wire frames are the same).
int send(endpoint* ep, const char* tag, const char* data, int size) {
    if (size < 0 || (!data && size > 0)) {
        LOGE(tag, "Invalid size %d", size);
        return -1;
    }
    if (zmq_send(zsock_resolve(ep->sock), data, static_cast<size_t>(size), 0) >= 0) return 0;
    if (zmq_errno() == ENOMEM) LOGE(tag, "No memory");
    return -1;
}

received receive(endpoint* ep, char** data, int* size) {
    if (!data || !size) return received::no_message;
    void* raw = zsock_resolve(ep->sock);
    zmq_msg_t first;
    zmq_msg_init(&first);
    if (zmq_msg_recv(&first, raw, 0) < 0) {
        zmq_msg_close(&first);
        return received::no_message;
    }
    // Only the first frame is handed out; the rest of the message is dropped.
    if (zmq_msg_more(&first)) {
        zmq_msg_t rest;
        zmq_msg_init(&rest);
        while (zmq_msg_recv(&rest, raw, 0) >= 0 && zmq_msg_more(&rest)) {
        }
        zmq_msg_close(&rest);
    }
    if (zmq_msg_size(&first) > static_cast<size_t>(INT_MAX)) {
        zmq_msg_close(&first);
        return received::no_frame;
    }
    zmq_msg_move(&ep->last, &first);  // releases the previous frame
    zmq_msg_close(&first);
    *data = static_cast<char*>(zmq_msg_data(&ep->last));
    *size = static_cast<int>(zmq_msg_size(&ep->last));
    return received::ok;
}

void stop(endpoint* ep) {
    zsock_destroy(&ep->sock);
    zmq_msg_close(&ep->last);
    delete ep;
}

}  // namespace qb::zmq
