#include "qb_env.h"
#include "qb_mq.h"
#include "qb_mq_impl.h"
#include "runtime/mq_counters.h"
#include "sdk_logger.h"
#include "sdk_os.h"

namespace {
constexpr const char* TAG = "QB_MQ";

qb_mq* checked(Qb_mq mq) {
    if (!mq) LOGE(TAG, "Null handle");
    return static_cast<qb_mq*>(mq);
}
}  // namespace

extern "C" {

QB_API Qb_mq qb_mq_init(void) {
    auto* mq = static_cast<qb_mq*>(os_zalloc(sizeof(qb_mq)));
    if (!mq) return nullptr;
    if (quorbit_valid()) {
        mq->type = QB_MQ_REDIS;
        mq->impl = qb_mq_get_redis();
    } else {
        LOGD(TAG, "Not in quorbit environment, using fake mq");
        mq->type = QB_MQ_FAKE;
        mq->impl = qb_mq_get_fake();
    }
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
    if (q->type == QB_MQ_REDIS) return qb::redis_backend_stats(q->handle, stats) ? 0 : -1;
    if (q->type == QB_MQ_FAKE) return qb::fake_backend_stats(q->handle, stats) ? 0 : -1;
    return -1;
}

QB_API int qb_mq_deinit(Qb_mq mq) {
    qb_mq* q = checked(mq);
    if (!q) return -1;
    int rc = q->impl->deinit(q->handle);
    os_free(q);
    return rc;
}

}  // extern "C"
