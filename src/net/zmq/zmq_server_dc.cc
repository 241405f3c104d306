// The "zmq_server" data channel: ZMQ_Server_Start on the configured url and port.
// Nothing is pushed; the program polls with DC_Receive.
#include "data_channel_impl.h"
#include "net/dc_config.h"
#include "zmq_server.h"

namespace {

int dc_init(void** handle, dc_callback*, char* config_file) {
    *handle = qb::dc::start_from_config(config_file, "ZMQ_SERVER_DC", "ZMQ Config does not exist", ZMQ_Server_Start);
    return 0;
}

dc_impl_t zmq_server_dc = {"zmq_server", dc_init, ZMQ_Server_Recv_Data, ZMQ_Server_Send_Data};
}  // namespace

extern "C" {

QB_API void DC_module_register_zmq_server(void) { DC_module_register(&zmq_server_dc); }

}  // extern "C"
