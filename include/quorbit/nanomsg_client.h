/*
 * The client end of a two-way nanomsg PAIR link: connects to "<in_url>:<port>".
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
#ifndef NANOMSG_CLIENT_H
#define NANOMSG_CLIENT_H

#include "qb_export.h"

QB_BEGIN_DECLS

#ifndef NANO_MSG_INTERNAL_BUFFER_SIZE
#define NANO_MSG_INTERNAL_BUFFER_SIZE (2 * 1024 * 1024)
#endif

typedef void* NanoMsgC_Handle;

QB_API NanoMsgC_Handle NanoMsg_Client_Start(char* in_url, int port);
QB_API int NanoMsg_Client_Send_Data(NanoMsgC_Handle handle, char* data, int size);
QB_API int NanoMsg_Client_Recv_Data(NanoMsgC_Handle handle, char** data, int* size);
QB_API void NanoMsg_Client_Stop(NanoMsgC_Handle handle);

QB_END_DECLS

#endif /* NANOMSG_CLIENT_H */
