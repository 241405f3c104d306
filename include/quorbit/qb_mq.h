/*
 * The component's message queue: create it, register one callback, answer
 * requests and emit messages of its own, shut it down. On the platform the
 * queue is a pair of Redis streams read through the consumer group "default";
 * off the platform it is the stand-alone backend.
 *
 * - The callback runs on the queue's receive thread; its three strings belong
 *   to the queue and are valid only during the call. It may answer with
 *   qb_mq_send. If it calls qb_mq_deinit on its own queue, the queue stops
 *   once the callback returns, and mq must not be used after the call.
 * - qb_mq_send may be called from any thread.
 * - Results: 0 for success, -1 for failure (a null handle included).
 */
#ifndef QB_MQ_H
#define QB_MQ_H

#include "qb_export.h"

QB_BEGIN_DECLS

typedef void* Qb_mq;
typedef void* Qb_mq_impl;

typedef enum qb_mq_type { QB_MQ_INVALID = 0, QB_MQ_FAKE = 1, QB_MQ_REDIS = 2 } qb_mq_type;

/* mq: the queue (answer through it); port_name: the input port; data: the
 * message text; request_id: the id to answer with; user: from registration. */
typedef void (*qb_mq_callback)(Qb_mq mq, char* port_name, char* data, char* request_id, void* user);

/* Never NULL unless out of memory; the record is returned even when its
 * backend could not be created (its operations then fail). */
QB_API Qb_mq qb_mq_init(void);
QB_API int qb_mq_register_callback(Qb_mq mq, qb_mq_callback cb, void* user);
/* uuid: the request id being answered (type "call"), or NULL for a message of
 * the component's own accord (type "trigger" with a fresh id). */
QB_API int qb_mq_send(Qb_mq mq, char* output_port_name, char* output_data, char* uuid);
/* Stops the backend (its receive thread has left when this returns) and
 * frees the record. */
QB_API int qb_mq_deinit(Qb_mq mq);

QB_END_DECLS

#endif /* QB_MQ_H */
