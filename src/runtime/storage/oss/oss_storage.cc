#include <apr_allocator.h>
#include <apr_strings.h>

#include <climits>
#include <cstdlib>
#include <cstring>

#include "oss_storage.h"
#include "runtime/object_keys.h"
#include "runtime/storage/oss/aos_sdk.h"
#include "runtime/storage/oss/oss_auth.h"
#include "sdk_logger.h"

namespace {
constexpr const char* TAG = "OSS_STORAGE";
using qb::storage::kPathSize;

struct oss_handle_t {
    char* bucket_name;
    aos_pool_t* p;
    oss_request_options_t* options;
    char* user_id;
    char* app_id;
    char* node_id;
};

oss_handle_t* record(OSS_Handle h) {
    if (!h) LOGD(TAG, "OSS handle NULL");
    return static_cast<oss_handle_t*>(h);
}

qb::storage::object_owner owner(const oss_handle_t* o) { return {o->user_id, o->app_id, o->node_id}; }

// One operation's memory: a sub-pool of the handle's pool with request
// options on it, all released when the operation ends, so a long-lived
// handle does not keep every body it ever moved.
class operation {
public:
    operation(const oss_handle_t* h, const char* name) : name_(name) {
        if (aos_pool_create(&pool_, h->p) != APR_SUCCESS) {
            pool_ = nullptr;
            return;
        }
        options_ = oss_request_options_create(pool_);
        if (!options_ || !(options_->ctl = aos_http_controller_create(pool_, 0))) {
            aos_pool_destroy(pool_);
            pool_ = nullptr;
            return;
        }
        options_->config = h->options->config;
        aos_str_set(&bucket_, h->bucket_name);
    }
    ~operation() {
        if (pool_) aos_pool_destroy(pool_);
    }
    operation(const operation&) = delete;
    operation& operator=(const operation&) = delete;

    bool ready() const { return pool_ != nullptr; }
    aos_pool_t* pool() const { return pool_; }
    const oss_request_options_t* options() const { return options_; }
    const aos_string_t* bucket() const { return &bucket_; }

    // Logs the outcome under the operation's name.
    bool done(const aos_status_t* s) const {
        if (aos_status_is_ok(s)) {
            LOGD(TAG, "%s succeeded", name_);
            return true;
        }
        if (s)
            LOGD(TAG, "%s: status %d %s%s", name_, s->code, s->error_code ? s->error_code : "",
                 s->error_msg ? s->error_msg : "");
        LOGE(TAG, "%s failed", name_);
        return false;
    }

private:
    const char* name_;
    aos_pool_t* pool_ = nullptr;
    oss_request_options_t* options_ = nullptr;
    aos_string_t bucket_{};
};

bool put(const oss_handle_t* h, const char* name, const char* key, char* buffer, int size) {
    if (size < 0 || (!buffer && size > 0)) {
        LOGE(TAG, "Invalid buffer (size %d)", size);
        LOGE(TAG, "%s failed", name);
        return false;
    }
    operation op(h, name);
    if (!op.ready()) return op.done(nullptr);
    aos_table_t* headers = apr_table_make(op.pool(), 1);
    apr_table_set(headers, "x-oss-meta-author", "oss");
    aos_list_t body;
    aos_list_init(&body);
    aos_buf_t* content = aos_buf_pack(op.pool(), buffer, size);
    aos_list_add_tail(&content->node, &body);
    aos_string_t object;
    aos_str_set(&object, key);
    return op.done(oss_put_object_from_buffer(op.options(), op.bucket(), &object, &body, headers, nullptr));
}

int get(const oss_handle_t* h, const char* name, const char* key, char** out, int* size) {
    if (!out || !size) return -1;
    operation op(h, name);
    if (!op.ready()) return op.done(nullptr), -1;
    aos_list_t body;
    aos_list_init(&body);
    aos_string_t object;
    aos_str_set(&object, key);
    if (!op.done(oss_get_object_to_buffer(op.options(), op.bucket(), &object, nullptr, nullptr, &body, nullptr)))
        return -1;
    // The HTTP layer refuses bodies an int cannot count with the zero byte.
    int64_t total = aos_buf_list_len(&body);
    char* data = static_cast<char*>(malloc(static_cast<size_t>(total) + 1));
    if (!data) {
        LOGE(TAG, "%s: out of memory for %lld bytes", name, static_cast<long long>(total));
        return -1;
    }
    size_t at = 0;
    for (aos_list_t* n = body.next; n != &body; n = n->next) {
        aos_buf_t* b = aos_buf_of(n);
        memcpy(data + at, b->pos, static_cast<size_t>(aos_buf_size(b)));
        at += static_cast<size_t>(aos_buf_size(b));
    }
    data[at] = '\0';
    *out = data;
    *size = static_cast<int>(total);
    return 0;
}

int remove_object(const oss_handle_t* h, const char* name, const char* key) {
    operation op(h, name);
    if (!op.ready()) return op.done(nullptr), -1;
    aos_string_t object;
    aos_str_set(&object, key);
    return op.done(oss_delete_object(op.options(), op.bucket(), &object, nullptr)) ? 0 : -1;
}

// Freed pool memory kept for reuse; beyond it blocks go back to the system,
// so one large load does not stay resident until the handle is closed.
constexpr apr_size_t kKeptFree = 1 << 20;

// The handle's pool (with an allocator of its own) and its request options:
// configuration and HTTP controller.
bool options_on_pool(oss_handle_t* h, const char* endpoint, const char* id, const char* secret) {
    apr_allocator_t* allocator = nullptr;
    if (apr_allocator_create(&allocator) != APR_SUCCESS) return false;
    apr_allocator_max_free_set(allocator, kKeptFree);
    if (apr_pool_create_ex(&h->p, nullptr, nullptr, allocator) != APR_SUCCESS) {
        apr_allocator_destroy(allocator);
        return false;
    }
    apr_allocator_owner_set(allocator, h->p);
    h->options = oss_request_options_create(h->p);
    oss_config_t* cfg = oss_config_create(h->p);
    char* copies[3] = {apr_pstrdup(h->p, endpoint), apr_pstrdup(h->p, id), apr_pstrdup(h->p, secret)};
    if (h->options && cfg && copies[0] && copies[1] && copies[2]) {
        aos_str_set(&cfg->endpoint, copies[0]);
        aos_str_set(&cfg->access_key_id, copies[1]);
        aos_str_set(&cfg->access_key_secret, copies[2]);
        cfg->is_cname = 0;
        h->options->config = cfg;
        h->options->ctl = aos_http_controller_create(h->p, 0);
    }
    if (h->options && h->options->ctl) return true;
    aos_pool_destroy(h->p);
    return false;
}

const qb_storage_impl_t oss_storage_impl = {oss_init,        oss_deinit,    oss_save_config, oss_load_config,
                                            oss_delete_config, oss_save_file, oss_load_file,   oss_delete_file};
}  // namespace

extern "C" {

QB_API qb_storage_impl_t* qb_storage_get_oss(void) { return const_cast<qb_storage_impl_t*>(&oss_storage_impl); }

QB_API OSS_Handle oss_init(void) {
    static const qb::storage::wanted_param params[7] = {
        {"--storage-oss-bucket-name", false}, {"--user-id", true},  {"--app-id", true}, {"--node-id", true},
        {"--storage-oss-endpoint", false},    {"--storage-oss-access-id", false},
        {"--storage-oss-access-key", false}};
    char* v[7];
    if (!qb::storage::read_params(TAG, params, 7, v)) return nullptr;
    oss_handle_t* h = nullptr;
    if (!qb::oss::valid_bucket(v[0])) {
        LOGE(TAG, "Invalid --storage-oss-bucket-name %s", v[0]);
    } else if (!*v[4]) {
        LOGE(TAG, "Empty --storage-oss-endpoint");
    } else if (aos_http_io_initialize(nullptr, 0) != AOSE_OK) {
        LOGE(TAG, "Cannot start the HTTP layer");
    } else {
        h = static_cast<oss_handle_t*>(calloc(1, sizeof(oss_handle_t)));
        if (h && !options_on_pool(h, v[4], v[5], v[6])) {
            LOGE(TAG, "Out of memory");
            free(h);
            h = nullptr;
        }
        if (!h) aos_http_io_deinitialize();
    }
    for (int i = 4; i < 7; ++i) free(v[i]);
    if (!h) {
        for (int i = 0; i < 4; ++i) free(v[i]);
        return nullptr;
    }
    h->bucket_name = v[0];
    h->user_id = v[1];
    h->app_id = v[2];
    h->node_id = v[3];
    LOGD(TAG, "OSS Init OK");
    return h;
}

QB_API int oss_deinit(OSS_Handle hdl) {
    oss_handle_t* h = record(hdl);
    if (!h) return -1;
    free(h->bucket_name);
    free(h->user_id);
    free(h->app_id);
    free(h->node_id);
    aos_pool_destroy(h->p);
    free(h);
    aos_http_io_deinitialize();
    return 0;
}

QB_API int oss_save_config(OSS_Handle hdl, char* port_id, char* file_name, char* buffer, int size) {
    oss_handle_t* h = record(hdl);
    char key[kPathSize];
    if (!h || !qb::storage::config_key(TAG, owner(h), "", port_id, file_name, key)) return -1;
    return put(h, "oss_save_config", key, buffer, size) ? 0 : -1;
}

QB_API int oss_load_config(OSS_Handle hdl, char* port_id, char* file_name, char** buffer, int* size) {
    oss_handle_t* h = record(hdl);
    char key[kPathSize];
    if (!h || !qb::storage::config_key(TAG, owner(h), "", port_id, file_name, key)) return -1;
    return get(h, "oss_load_config", key, buffer, size);
}

QB_API int oss_delete_config(OSS_Handle hdl, char* port_id, char* file_name) {
    oss_handle_t* h = record(hdl);
    char key[kPathSize];
    if (!h || !qb::storage::config_key(TAG, owner(h), "", port_id, file_name, key)) return -1;
    return remove_object(h, "oss_delete_config", key);
}

QB_API char* oss_save_file(OSS_Handle hdl, char* request_id, char* port_id, char* file_name, char* buffer, int size) {
    oss_handle_t* h = record(hdl);
    char key[kPathSize];
    if (!h || !qb::storage::tmp_key(TAG, owner(h), request_id, port_id, file_name, key)) return nullptr;
    return put(h, "oss_save_file", key, buffer, size) ? qb::storage::location_of(key) : nullptr;
}

QB_API int oss_load_file(OSS_Handle hdl, char* url, char* filename, char** outbuffer, int* bufferlen) {
    oss_handle_t* h = record(hdl);
    char key[kPathSize];
    if (!h || !qb::storage::tmp_object(TAG, url, filename, key)) return -1;
    return get(h, "oss_load_file", key, outbuffer, bufferlen);
}

QB_API int oss_delete_file(OSS_Handle hdl, char* url, char* filename) {
    oss_handle_t* h = record(hdl);
    char key[kPathSize];
    if (!h || !qb::storage::tmp_object(TAG, url, filename, key)) return -1;
    return remove_object(h, "oss_delete_file", key);
}

}  // extern "C"
