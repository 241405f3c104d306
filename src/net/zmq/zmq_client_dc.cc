// The "zmq_client" data channel: ZMQ_Client_Start on the configured url and port.
// Nothing is pushed; the program polls with DC_Receive.
#include "data_channel_impl.h"
#include "net/dc_config.h"
#include "zmq_client.h"

namespace {

int dc_init(void** handle, dc_callback*, char* config_file) {
    *handle = qb::dc::start_from_config(config_file, "ZMQ_CLIENT_DC", "ZMQ Config does not exist", ZMQ_Client_Start);
    return 0;
}

dc_impl_t zmq_client_dc = {"zmq_client", dc_init, ZMQ_Client_Recv_Data, ZMQ_Client_Send_Data};
}  // namespace

extern "C" {

QB_API void DC_module_register_zmq_client(void) { DC_module_register(&zmq_client_dc); }

}  // extern "C"
