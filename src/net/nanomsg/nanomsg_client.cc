#include "nanomsg_client.h"

#include "net/nanomsg/nanomsg_link.h"

namespace {
constexpr const char* TAG = "NanoMsg_client";

qb::nanomsg::nano_msg_hdl* hdl(void* handle) { return static_cast<qb::nanomsg::nano_msg_hdl*>(handle); }
}  // namespace

extern "C" {

QB_API NanoMsgC_Handle NanoMsg_Client_Start(char* in_url, int port) { return qb::nanomsg::start(in_url, port, false, TAG); }

QB_API int NanoMsg_Client_Send_Data(NanoMsgC_Handle handle, char* data, int size) {
    return qb::nanomsg::send(hdl(handle), TAG, data, size);
}

QB_API int NanoMsg_Client_Recv_Data(NanoMsgC_Handle handle, char** data, int* size) {
    return qb::nanomsg::receive(hdl(handle), TAG, data, size);
}

QB_API void NanoMsg_Client_Stop(NanoMsgC_Handle handle) { qb::nanomsg::stop(hdl(handle), TAG); }

}  // extern "C"
