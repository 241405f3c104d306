// Stopping a server from inside one of its own hooks, for owners that must
// allow it (the stand-alone queue's deinit from its callback).
#pragma once

#include "websocket_server.h"

namespace qb::ws {

// On the server's service thread: the server stops once the running hook has
// returned (its sessions' onclose hooks run as in WS_Server_Stop), then calls
// on_stopped(arg) on that thread and frees itself. Elsewhere: false, nothing
// changes, and the caller uses WS_Server_Stop.
bool server_stop_after_hook(WS_Server_Handle server, void (*on_stopped)(void*), void* arg);

}  // namespace qb::ws
