#include <cstdlib>
#include <cstring>

#include "qb_env.h"
#include "qb_storage.h"
#include "qb_storage_impl.h"
#include "sdk_config.h"
#include "sdk_logger.h"
#if defined(ENABLE_QB_STORAGE_MINIO)
#include "minio_storage.h"
#endif
#if defined(ENABLE_QB_STORAGE_OSS)
#include "oss_storage.h"
#endif

namespace {
constexpr const char* TAG = "QB_STORAGE";

// Platform backends by "--storage-type". A null table is a backend that this
// build leaves out.
struct backend {
    const char* name;
    qb_storage_type type;
    qb_storage_impl_t* (*table)(void);
};

constexpr backend kBackends[] = {
#if defined(ENABLE_QB_STORAGE_LOCAL)
    {"local", QB_STORAGE_LOCAL, qb_storage_get_local},
#else
    {"local", QB_STORAGE_LOCAL, nullptr},
#endif
#if defined(ENABLE_QB_STORAGE_MINIO)
    {"minio", QB_STORAGE_MINIO, qb_storage_get_minio},
#else
    {"minio", QB_STORAGE_MINIO, nullptr},
#endif
#if defined(ENABLE_QB_STORAGE_OSS)
    {"oss", QB_STORAGE_OSS, qb_storage_get_oss},
#else
    {"oss", QB_STORAGE_OSS, nullptr},
#endif
};

// The platform backend's table, or null (logged).
const backend* platform_backend() {
    char key[] = "--storage-type";
    char* name = qb_get_env(key);
    if (!name) {
        LOGE(TAG, "No storage type: --storage-type is not set");
        return nullptr;
    }
    const backend* found = nullptr;
    for (const backend& b : kBackends)
        if (strcmp(b.name, name) == 0) found = &b;
    if (!found)
        LOGE(TAG, "Unknown storage type %s", name);
    else if (!found->table)
        LOGE(TAG, "Storage type %s is not available in this build", name);
    free(name);
    return found && found->table ? found : nullptr;
}

qb_storage* record(QB_Storage hdl) {
    if (!hdl) LOGE(TAG, "Null handle");
    return static_cast<qb_storage*>(hdl);
}
}  // namespace

extern "C" {

QB_API QB_Storage qb_storage_init(void) {
    qb_storage* s = static_cast<qb_storage*>(calloc(1, sizeof(qb_storage)));
    if (!s) return nullptr;
    if (quorbit_valid()) {
        const backend* b = platform_backend();
        if (!b) {
            free(s);
            return nullptr;
        }
        s->type = b->type;
        s->impl = b->table();
        s->handle = s->impl->storage_init ? s->impl->storage_init() : nullptr;
    } else {
        s->type = QB_STORAGE_FAKE;
        s->impl = qb_storage_get_fake();
        s->handle = s->impl->storage_init();
        LOGD(TAG, "not in quorbit environment, using baremental storage type");
    }
    return s;
}

QB_API int qb_storage_deinit(QB_Storage hdl) {
    qb_storage* s = record(hdl);
    if (!s) return -1;
    if (s->impl->storage_deinit) s->impl->storage_deinit(s->handle);
    free(s);
    return 0;
}

QB_API int qb_config_save(QB_Storage hdl, char* port_id, char* file_name, char* buffer, int size) {
    qb_storage* s = record(hdl);
    if (!s || !s->impl->config_save) return -1;
    return s->impl->config_save(s->handle, port_id, file_name, buffer, size);
}

QB_API int qb_config_load(QB_Storage hdl, char* port_id, char* file_name, char** buffer, int* size) {
    qb_storage* s = record(hdl);
    if (!s || !s->impl->config_load) return -1;
    return s->impl->config_load(s->handle, port_id, file_name, buffer, size);
}

QB_API int qb_config_delete(QB_Storage hdl, char* port_id, char* file_name) {
    qb_storage* s = record(hdl);
    if (!s || !s->impl->config_delete) return -1;
    return s->impl->config_delete(s->handle, port_id, file_name);
}

QB_API char* qb_tmp_file_save(QB_Storage hdl, char* request_id, char* port_id, char* file_name, char* buffer,
                              int size) {
    qb_storage* s = record(hdl);
    if (!s || !s->impl->tmp_file_save) return nullptr;
    return s->impl->tmp_file_save(s->handle, request_id, port_id, file_name, buffer, size);
}

QB_API int qb_tmp_file_load(QB_Storage hdl, char* url, char* filename, char** outbuffer, int* bufferlen) {
    qb_storage* s = record(hdl);
    if (!s || !s->impl->tmp_file_load) return -1;
    return s->impl->tmp_file_load(s->handle, url, filename, outbuffer, bufferlen);
}

QB_API int qb_tmp_file_delete(QB_Storage hdl, char* url, char* filename) {
    qb_storage* s = record(hdl);
    if (!s || !s->impl->tmp_file_delete) return -1;
    return s->impl->tmp_file_delete(s->handle, url, filename);
}

}  // extern "C"
