#include "zmq_client.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>

#include "net/zmq/zmq_endpoint.h"
#include "sdk_logger.h"

namespace {
constexpr const char* TAG = "zmq_client";

// Ctrl-C ends the program, as documented for Start.
void on_interrupt(int) {
    signal(SIGINT, SIG_DFL);
    puts("ZMQ Client Interrupted");
    exit(0);
}
}  // namespace

extern "C" {

QB_API ZMQC_Handle ZMQ_Client_Start(char* in_url, int port) {
    return qb::zmq::start(in_url, port, true, TAG, "Start ZMQ Client=", on_interrupt);
}

QB_API int ZMQ_Client_Send_Data(ZMQC_Handle handle, char* data, int size) {
    if (!handle) {
        LOGE(TAG, "Send:Null handle for ZMQ");
        return -1;
    }
    return qb::zmq::send(static_cast<qb::zmq::endpoint*>(handle), TAG, data, size);
}

QB_API int ZMQ_Client_Recv_Data(ZMQC_Handle handle, char** data, int* size) {
    if (!handle) {
        LOGE(TAG, "Recv:Null handle for ZMQ");
        return -1;
    }
    switch (qb::zmq::receive(static_cast<qb::zmq::endpoint*>(handle), data, size)) {
    case qb::zmq::received::ok:
        return 0;
    case qb::zmq::received::no_message:
        LOGE(TAG, "%s No msg", "ZMQ_Client_Recv_Data");
        return -1;
    case qb::zmq::received::no_frame:
        LOGE(TAG, "%s No frame", "ZMQ_Client_Recv_Data");
        return -1;
    }
    return -1;
}

QB_API void ZMQ_Client_Stop(ZMQC_Handle handle) {
    if (!handle) {
        LOGE(TAG, "Stop:Null handle for ZMQ");
        return;
    }
    qb::zmq::stop(static_cast<qb::zmq::endpoint*>(handle));
}

}  // extern "C"
