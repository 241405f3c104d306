#include "nanomsg_server.h"

#include "net/nanomsg/nanomsg_link.h"

namespace {
constexpr const char* TAG = "NanoMsg_server";

qb::nanomsg::nano_msg_hdl* hdl(void* handle) { return static_cast<qb::nanomsg::nano_msg_hdl*>(handle); }
}  // namespace

extern "C" {

QB_API NanoMsgS_Handle NanoMsg_Server_Start(char* in_url, int port) { return qb::nanomsg::start(in_url, port, true, TAG); }

QB_API int NanoMsg_Server_Send_Data(NanoMsgS_Handle handle, char* data, int size) {
    return qb::nanomsg::send(hdl(handle), TAG, data, size);
}

QB_API int NanoMsg_Server_Recv_Data(NanoMsgS_Handle handle, char** data, int* size) {
    return qb::nanomsg::receive(hdl(handle), TAG, data, size);
}

QB_API void NanoMsg_Server_Stop(NanoMsgS_Handle handle) { qb::nanomsg::stop(hdl(handle), TAG); }

}  // extern "C"
