/** @file
 * The queue's backend contract: a constant table of four operations per
 * backend, chosen once by qb_mq_init, and the front-end record that holds it.
 */
#ifndef QB_MQ_IMPL_H
#define QB_MQ_IMPL_H

#include "qb_export.h"
#include "qb_mq.h"
#include "sdk_config.h"

QB_BEGIN_DECLS

typedef struct qb_mq_impl {
    Qb_mq_impl (*init)(void);
    /** parent: the front-end record, handed to the callback as its queue. */
    int (*register_callback)(Qb_mq handle, qb_mq_callback cb, void* user, void* parent);
    int (*send)(Qb_mq_impl handle, char* output_port_name, char* output_data, char* uuid);
    int (*deinit)(Qb_mq_impl handle);
} qb_mq_impl_t;

typedef struct qb_mq {
    int type;             /**< a qb_mq_type value */
    void* handle;         /**< what the table's init returned */
    qb_mq_impl_t* impl;
} qb_mq;

#ifdef ENABLE_QB_MQ_REDIS
/** The Redis stream backend's table (static; never freed). */
QB_API qb_mq_impl_t* qb_mq_get_redis(void);
#endif
#ifdef ENABLE_QB_MQ_FAKE
/** The stand-alone WebSocket backend's table (static; never freed). */
QB_API qb_mq_impl_t* qb_mq_get_fake(void);
#endif

QB_END_DECLS

#endif /* QB_MQ_IMPL_H */
