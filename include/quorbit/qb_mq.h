/** @file
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
 *
 * Delivery on the platform, chosen by the parameter --mq-delivery:
 * - "at-most-once" (the default, also when absent or unknown): each request is
 *   acknowledged as soon as it is read, before the callback runs. A component
 *   that dies inside its callback loses that request for good.
 * - "at-least-once": a request is acknowledged after the callback returns. On
 *   start and after every reconnection the requests still pending for this
 *   node id (left by a crash or restart) are delivered first. Requests pending
 *   at another member of the group for longer than --mq-claim-idle-ms
 *   (default 30000; keep it above the longest callback) are claimed and
 *   delivered here, so a replica that died is covered by the others. A request
 *   delivered --mq-max-deliveries times (default 5) without being acknowledged
 *   is appended to the stream `"<receive stream>-dead"` (its fields plus
 *   "deliveries" with that number) and acknowledged. A request may therefore
 *   reach the callback more than once; answers carry its request id.
 * --mq-stats-interval N (seconds, default 0 = off) logs the counters below
 * every N seconds at info level.
 */
#ifndef QB_MQ_H
#define QB_MQ_H

#include "qb_export.h"

QB_BEGIN_DECLS

typedef void* Qb_mq;
typedef void* Qb_mq_impl;

typedef enum qb_mq_type { QB_MQ_INVALID = 0, QB_MQ_FAKE = 1, QB_MQ_REDIS = 2 } qb_mq_type;

/** mq: the queue (answer through it); port_name: the input port; data: the
 * message text; request_id: the id to answer with; user: from registration. */
typedef void (*qb_mq_callback)(Qb_mq mq, char* port_name, char* data, char* request_id, void* user);

/** Creates the queue with the Redis backend on the platform, else the stand-alone
 * one. NULL only when out of memory or when the build leaves that backend out
 * (ENABLE_QB_MQ_REDIS, ENABLE_QB_MQ_FAKE; logged); the record is returned even
 * when its backend could not be created (its operations then fail). */
QB_API Qb_mq qb_mq_init(void);
/** Sets the callback and its user pointer, replacing any earlier one. On the
 * platform a request read before registration waits for it. */
QB_API int qb_mq_register_callback(Qb_mq mq, qb_mq_callback cb, void* user);
/** Sends output_data on the output port. uuid: the request id being answered
 * (type "call"), or NULL for a message of the component's own accord (type
 * "trigger" with a fresh id). */
QB_API int qb_mq_send(Qb_mq mq, char* output_port_name, char* output_data, char* uuid);
/** Counters since qb_mq_init. Callback times are in microseconds over the
 * latest 1024 callbacks (0 before the first). */
typedef struct qb_mq_stats {
    unsigned long long requests;      /**< requests handed to the callback */
    unsigned long long answers;       /**< answers (sends with a request id) accepted */
    unsigned long long triggers;      /**< messages of the component's own accord accepted */
    unsigned long long send_failures; /**< sends that failed (-1) */
    unsigned long long reconnections; /**< Redis connections re-established */
    unsigned long long redeliveries;  /**< requests handed over again (at-least-once) */
    unsigned long long dead_lettered; /**< requests moved to the dead-letter stream */
    unsigned int callback_p50_us;     /**< median callback time */
    unsigned int callback_p99_us;     /**< 99th percentile callback time */
} qb_mq_stats;

/** Fills *stats with the counters; callable from any thread until qb_mq_deinit. */
QB_API int qb_mq_get_stats(Qb_mq mq, qb_mq_stats* stats);
/** Stops the backend (its receive thread has left when this returns) and
 * frees the record, also when the backend reports a failure. */
QB_API int qb_mq_deinit(Qb_mq mq);

QB_END_DECLS

#endif /* QB_MQ_H */
