#include "zmq_server.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>

#include "net/zmq/zmq_endpoint.h"
#include "sdk_logger.h"

namespace {
constexpr const char* TAG = "zmq_server";

// Ctrl-C ends the program, as documented for Start.
void on_interrupt(int) {
    signal(SIGINT, SIG_DFL);
    puts("ZMQ Server Interrupted");
    exit(0);
}

qb::zmq::endpoint* checked(void* handle) {
    if (!handle) LOGE(TAG, "Null handle for ZMQ");
    return static_cast<qb::zmq::endpoint*>(handle);
}
}  // namespace

extern "C" {

QB_API ZMQS_Handle ZMQ_Server_Start(char* in_url, int port) {
    return qb::zmq::start(in_url, port, false, TAG, "Start ZMQ Server=", on_interrupt);
}

QB_API int ZMQ_Server_Recv_Data(ZMQS_Handle handle, char** data, int* size) {
    qb::zmq::endpoint* ep = checked(handle);
    return ep && qb::zmq::receive(ep, data, size) == qb::zmq::received::ok ? 0 : -1;
}

QB_API int ZMQ_Server_Send_Data(ZMQS_Handle handle, char* data, int size) {
    qb::zmq::endpoint* ep = checked(handle);
    return ep ? qb::zmq::send(ep, TAG, data, size) : -1;
}

QB_API void ZMQ_Server_Stop(ZMQS_Handle handle) {
    if (qb::zmq::endpoint* ep = checked(handle)) qb::zmq::stop(ep);
}

}  // extern "C"
