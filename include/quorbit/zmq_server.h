/** @file
 * The receiving end of a one-way ZeroMQ pipeline: a PULL socket on
 * `"<in_url>:<port>"` (CZMQ endpoint rules: binds unless the text begins
 * with '>').
 *
 * - Recv blocks until a message arrives and returns its first frame; the
 *   bytes stay valid until the next Recv on the same handle or Stop.
 * - A handle is used by one thread at a time.
 * - Start installs a SIGINT (and SIGTERM) handler that prints
 *   "ZMQ Server Interrupted" and ends the process with status 0.
 * - Results: 0 for success, -1 for failure; Start returns NULL on failure.
 */
#ifndef ZMQ_SERVER_H
#define ZMQ_SERVER_H

#include "qb_export.h"

QB_BEGIN_DECLS

typedef void* ZMQS_Handle;

/** Opens the PULL socket on in_url:port (e.g. "tcp://127.0.0.1") and installs
 * the interrupt handler. */
QB_API ZMQS_Handle ZMQ_Server_Start(char* in_url, int port);
/** Waits for one message and points *data and *size at its first frame (owned
 * by the handle); later frames are dropped. */
QB_API int ZMQ_Server_Recv_Data(ZMQS_Handle handle, char** data, int* size);
/** A PULL socket cannot send: always -1 for a started server. */
QB_API int ZMQ_Server_Send_Data(ZMQS_Handle handle, char* data, int size);
/** Closes the socket and frees the handle with the last received frame. */
QB_API void ZMQ_Server_Stop(ZMQS_Handle handle);

QB_END_DECLS

#endif /* ZMQ_SERVER_H */
