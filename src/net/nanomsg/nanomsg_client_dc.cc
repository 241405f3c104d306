// The "nanomsg_client" data channel: NanoMsg_Client_Start on the configured url and
// port. Nothing is pushed; the program polls with DC_Receive.
#include "data_channel_impl.h"
#include "nanomsg_client.h"
#include "net/dc_config.h"

namespace {

int dc_init(void** handle, dc_callback*, char* config_file) {
    *handle = qb::dc::start_from_config(config_file, "NANOMSG_CLIENT_DC", "NanoMsg Config does not exist",
                                        NanoMsg_Client_Start);
    return 0;
}

dc_impl_t nanomsg_client_dc = {"nanomsg_client", dc_init, NanoMsg_Client_Recv_Data, NanoMsg_Client_Send_Data};
}  // namespace

extern "C" {

QB_API void DC_module_register_nanomsg_client(void) { DC_module_register(&nanomsg_client_dc); }

}  // extern "C"
