/** @file
 * The server end of a two-way nanomsg PAIR link: binds `"<in_url>:<port>"`.
 * Either end sends and receives whole messages.
 *
 * - Recv blocks for one message and hands out the handle's own 2 MiB buffer:
 *   the bytes stay valid until the next Recv on the handle, and a longer
 *   message is cut to its first NANO_MSG_INTERNAL_BUFFER_SIZE bytes.
 * - One thread receives on a handle; sending may run beside it.
 * - Stop shuts the endpoint down, closes the socket and frees the handle.
 * - Results: Send returns the bytes sent, Recv 0; -1 for failure; Start
 *   returns NULL on failure.
 */
#ifndef NANOMSG_SERVER_H
#define NANOMSG_SERVER_H

#include "qb_export.h"

QB_BEGIN_DECLS

#ifndef NANO_MSG_INTERNAL_BUFFER_SIZE
#define NANO_MSG_INTERNAL_BUFFER_SIZE (2 * 1024 * 1024)
#endif

typedef void* NanoMsgS_Handle;

/** Binds in_url:port (e.g. "tcp://127.0.0.1") on a new PAIR socket. */
QB_API NanoMsgS_Handle NanoMsg_Server_Start(char* in_url, int port);
/** Sends size bytes as one message; blocks while no peer can take it. */
QB_API int NanoMsg_Server_Send_Data(NanoMsgS_Handle handle, char* data, int size);
/** Waits for one message and points *data and *size at it in the handle's buffer. */
QB_API int NanoMsg_Server_Recv_Data(NanoMsgS_Handle handle, char** data, int* size);
/** Closes the link and frees the handle; the last received bytes go with it. */
QB_API void NanoMsg_Server_Stop(NanoMsgS_Handle handle);

QB_END_DECLS

#endif /* NANOMSG_SERVER_H */
