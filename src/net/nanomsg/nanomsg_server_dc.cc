// The "nanomsg_server" data channel: NanoMsg_Server_Start on the configured url and
// port. Nothing is pushed; the program polls with DC_Receive.
#include "data_channel_impl.h"
#include "nanomsg_server.h"
#include "net/dc_config.h"

namespace {

int dc_init(void** handle, dc_callback*, char* config_file) {
    *handle = qb::dc::start_from_config(config_file, "NANOMSG_SERVER_DC", "NanoMsg Config does not exist",
                                        NanoMsg_Server_Start);
    return 0;
}

dc_impl_t nanomsg_server_dc = {"nanomsg_server", dc_init, NanoMsg_Server_Recv_Data, NanoMsg_Server_Send_Data};
}  // namespace

extern "C" {

QB_API void DC_module_register_nanomsg_server(void) { DC_module_register(&nanomsg_server_dc); }

}  // extern "C"
