#include "qb_env.h"
#include "qb_mq.h"
#include "qb_mq_impl.h"
#include "runtime/mq_counters.h"
#include "sdk_config.h"
#include "sdk_logger.h"
#include "sdk_os.h"

namespace {
constexpr const char* TAG = "QB_MQ";

// Backends by type. A null table is a backend that this build leaves out.
struct backend {
    qb_mq_type type;
    const char* name;
    qb_mq_impl_t* (*table)(void);
    bool (*stats)(void* handle, qb_mq_stats* out);
};

constexpr backend kBackends[] = {
#if defined(ENABLE_QB_MQ_REDIS)
    {QB_MQ_REDIS, "redis", qb_mq_get_redis, qb::redis_backend_stats},
#else
    {QB_MQ_REDIS, "redis", nullptr, nullptr},
#endif
#if defined(ENABLE_QB_MQ_FAKE)
    {QB_MQ_FAKE, "stand-alone", qb_mq_get_fake, qb::fake_backend_stats},
#else
    {QB_MQ_FAKE, "stand-alone", nullptr, nullptr},
#endif
};

const backend* find_backend(int type) {
    for (const backend& b : kBackends)
        if (b.type == type) return &b;
    return nullptr;
}

qb_mq* checked(Qb_mq mq) {
    if (!mq) LOGE(TAG, "Null handle");
    return static_cast<qb_mq*>(mq);
}
}  // namespace

extern "C" {

QB_API Qb_mq qb_mq_init(void) {
    const backend* b = find_backend(quorbit_valid() ? QB_MQ_REDIS : QB_MQ_FAKE);
    if (b->type == QB_MQ_FAKE) LOGD(TAG, "Not in quorbit environment, using fake mq");
    if (!b->table) {
        LOGE(TAG, "Queue backend %s is not available in this build", b->name);
        return nullptr;
    }
    auto* mq = static_cast<qb_mq*>(os_zalloc(sizeof(qb_mq)));
    if (!mq) return nullptr;
    mq->type = b->type;
    mq->impl = b->table();
    // Kept even when the backend failed: its operations then refuse the null handle.
    mq->handle = mq->impl->init();
    return mq;
}

QB_API int qb_mq_register_callback(Qb_mq mq, qb_mq_callback cb, void* user) {
    qb_mq* q = checked(mq);
    if (!q) return -1;
    return q->impl->register_callback(q->handle, cb, user, q);
}

QB_API int qb_mq_send(Qb_mq mq, char* output_port_name, char* output_data, char* uuid) {
    qb_mq* q = checked(mq);
    if (!q) return -1;
    return q->impl->send(q->handle, output_port_name, output_data, uuid);
}

QB_API int qb_mq_get_stats(Qb_mq mq, qb_mq_stats* stats) {
    qb_mq* q = checked(mq);
    if (!q || !stats) return -1;
    const backend* b = find_backend(q->type);
    return b && b->stats && b->stats(q->handle, stats) ? 0 : -1;
}

QB_API int qb_mq_deinit(Qb_mq mq) {
    qb_mq* q = checked(mq);
    if (!q) return -1;
    int rc = q->impl->deinit(q->handle);
    os_free(q);
    return rc;
}

}  // extern "C"
