/** @file
 * The sending end of a one-way ZeroMQ pipeline: a PUSH socket on
 * `"<in_url>:<port>"` (CZMQ endpoint rules: connects unless the text begins
 * with '@'). One message is one frame.
 *
 * - A handle is used by one thread at a time.
 * - Start installs a SIGINT (and SIGTERM) handler that prints
 *   "ZMQ Client Interrupted" and ends the process with status 0.
 * - Results: 0 for success, -1 for failure; Start returns NULL on failure.
 */
#ifndef ZMQ_CLIENT_H
#define ZMQ_CLIENT_H

#include "qb_export.h"

QB_BEGIN_DECLS

typedef void* ZMQC_Handle;

/** Opens the PUSH socket on in_url:port (e.g. "tcp://127.0.0.1") and installs
 * the interrupt handler. */
QB_API ZMQC_Handle ZMQ_Client_Start(char* in_url, int port);
/** Sends size bytes as one message; may block while no peer takes messages.
 * size 0 sends an empty message; a negative size is refused. */
QB_API int ZMQ_Client_Send_Data(ZMQC_Handle handle, char* data, int size);
/** A PUSH socket cannot receive: always -1 for a started client. */
QB_API int ZMQ_Client_Recv_Data(ZMQC_Handle handle, char** data, int* size);
/** Closes the socket and frees the handle. */
QB_API void ZMQ_Client_Stop(ZMQC_Handle handle);

QB_END_DECLS

#endif /* ZMQ_CLIENT_H */
