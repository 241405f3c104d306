// Stand-alone queue backend. The WebSocket transport it runs on is not in the
// library yet, so until then every operation says so and fails; a component
// off the platform gets a queue record that refuses to work rather than one
// that silently drops messages.
#include "qb_mq_impl.h"
#include "sdk_logger.h"

namespace {
constexpr const char* TAG = "QUORBIT_MQ_FAKE";

void not_built() { LOGE(TAG, "Stand-alone message queue is not built yet"); }

Qb_mq_impl fake_init(void) {
    not_built();
    return nullptr;
}

int fake_register_callback(Qb_mq, qb_mq_callback, void*, void*) {
    not_built();
    return -1;
}

int fake_send(Qb_mq_impl, char*, char*, char*) {
    not_built();
    return -1;
}

int fake_deinit(Qb_mq_impl) {
    not_built();
    return -1;
}

const qb_mq_impl_t mq_fake_impl = {fake_init, fake_register_callback, fake_send, fake_deinit};
}  // namespace

extern "C" {

QB_API qb_mq_impl_t* qb_mq_get_fake(void) { return const_cast<qb_mq_impl_t*>(&mq_fake_impl); }

}  // extern "C"
