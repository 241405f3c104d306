/** @file
 * The queue's stand-alone backend: a WebSocket server on port 10000 (all
 * interfaces, no authentication). Each JSON text {"port":...,"message":...}
 * from a client becomes one callback with request id "test_uuid"; each send
 * goes to the most recently connected client as {"port","message","type"}
 * followed by the text "---------------------". Without a connected client
 * output is dropped and send still returns 0; a send the client's session
 * refuses (closed, or over its send-queue limit) returns -1.
 */
#ifndef QB_MQ_FAKE_H
#define QB_MQ_FAKE_H

#include "qb_export.h"
#include "qb_mq.h"

QB_BEGIN_DECLS

typedef void* Qb_mq_fake;

#define QB_MQ_FAKE_PORT 10000
#define QB_MQ_FAKE_SEPARATOR "---------------------"

/** Starts the WebSocket server on QB_MQ_FAKE_PORT. Returns the handle also when
 * the server could not start (it logs why); NULL only when out of memory. */
QB_API Qb_mq_impl qb_mq_fake_init(void);
/** Sets the callback, its user pointer and parent (the queue handed to it);
 * messages arriving without a callback are dropped with a log line. */
QB_API int qb_mq_fake_register_callback(Qb_mq mq, qb_mq_callback cb, void* user, void* parent);
/** Sends one message, type "call" when uuid is given, else "trigger". */
QB_API int qb_mq_fake_send(Qb_mq_fake mq, char* output_port_name, char* output_data, char* uuid);
/** Stops the server, then frees the handle; 0, or -1 for a null handle. Called
 * from the queue's own callback, the server stops (releasing the port) and the
 * handle is freed once the callback has returned; no further message reaches
 * the callback. */
QB_API int qb_mq_fake_deinit(Qb_mq_fake mq);

QB_END_DECLS

#endif /* QB_MQ_FAKE_H */
