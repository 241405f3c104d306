/** @file
 * The queue's Redis stream backend: two connections (trigger_redis for
 * messages of the component's own accord, call_redis for reading requests and
 * answering them) and one receive thread that delivers requests to the
 * callback. A connection that breaks is re-established with a bounded back-off.
 */
#ifndef QB_MQ_REDIS_H
#define QB_MQ_REDIS_H

#include "qb_export.h"
#include "qb_mq.h"

QB_BEGIN_DECLS

/** Opens both connections, creates the consumer groups and starts the receive
 * thread; NULL when out of memory or the thread did not start. Ends the process
 * when Redis stays unreachable at start (see redis_stream.h). */
QB_API Qb_mq_impl qb_mq_redis_init(void);
/** Sets the callback, its user pointer and parent (the queue handed to it). A
 * request read before a callback is set waits on the receive thread. */
QB_API int qb_mq_redis_register_callback(Qb_mq handle, qb_mq_callback cb, void* user, void* parent);
/** Appends an answer (recv_uuid given) or a trigger with a fresh id to the send
 * stream; -1 when Redis refused or never answered the append. */
QB_API int qb_mq_redis_send(Qb_mq_impl handle, char* output_port_name, char* output_data, char* recv_uuid);
/** Ends the blocking read at once, joins the receive thread, frees the handle.
 * Called from the queue's own callback, the thread stops and frees the handle
 * once the callback returns. */
QB_API int qb_mq_redis_deinit(Qb_mq_impl handle);
/** The receive thread's body (arg: the backend handle); qb_mq_redis_init
 * starts it. Returns NULL once the handle is stopped. */
QB_API void* quorbit_mq_recv_thread(void* arg);

QB_END_DECLS

#endif /* QB_MQ_REDIS_H */
