// The part of the Alibaba Cloud OSS C SDK interface that the OSS backend
// uses, implemented here on APR pools and tables and libcurl. Internal to
// the library (not exported): names and shapes follow the SDK so that the
// backend reads like any other SDK client.
//
// Memory: everything a call returns lives in the pool of its request
// options. Strings (aos_string_t) are pointer and length, not terminated.
#pragma once

#include <apr_pools.h>
#include <apr_tables.h>

#include <cstdint>
#include <cstring>

typedef apr_pool_t aos_pool_t;
typedef apr_table_t aos_table_t;

// A child of parent (or of APR's global pool when parent is null).
inline apr_status_t aos_pool_create(aos_pool_t** p, aos_pool_t* parent) {
    return apr_pool_create_ex(p, parent, nullptr, nullptr);
}
inline void aos_pool_destroy(aos_pool_t* p) { apr_pool_destroy(p); }

struct aos_string_t {
    int len;
    char* data;
};
inline void aos_str_set(aos_string_t* s, const char* text) {
    s->data = const_cast<char*>(text);
    s->len = text ? static_cast<int>(strlen(text)) : 0;
}

// Intrusive circular list, as in the SDK.
struct aos_list_t {
    aos_list_t* next;
    aos_list_t* prev;
};
inline void aos_list_init(aos_list_t* head) { head->next = head->prev = head; }
inline void aos_list_add_tail(aos_list_t* node, aos_list_t* head) {
    node->prev = head->prev;
    node->next = head;
    head->prev->next = node;
    head->prev = node;
}

// A piece of a body: bytes [pos, last) of the block [start, end).
struct aos_buf_t {
    aos_list_t node;  // first member: a list node is its buffer
    uint8_t* pos;
    uint8_t* last;
    uint8_t* start;
    uint8_t* end;
};
inline aos_buf_t* aos_buf_of(aos_list_t* node) { return reinterpret_cast<aos_buf_t*>(node); }
inline int64_t aos_buf_size(const aos_buf_t* b) { return b->last - b->pos; }
// A buffer over size bytes of data (not copied).
aos_buf_t* aos_buf_pack(aos_pool_t* p, const void* data, int size);
// A buffer holding a copy of size bytes.
aos_buf_t* aos_buf_copy(aos_pool_t* p, const void* data, int size);
int64_t aos_buf_list_len(aos_list_t* list);

// code: the HTTP status, or a negative AOSE_* value when no answer came.
struct aos_status_t {
    int code;
    const char* error_code;
    const char* error_msg;
    const char* req_id;
};
inline bool aos_status_is_ok(const aos_status_t* s) { return s && s->code >= 200 && s->code <= 299; }

constexpr int AOSE_OK = 0;
constexpr int AOSE_INTERNAL_ERROR = -1;
constexpr int AOSE_OUT_MEMORY = -2;
constexpr int AOSE_INVALID_ARGUMENT = -3;
constexpr int AOSE_REQUEST_FAILED = -4;
constexpr int AOSE_TOO_LARGE = -5;

struct aos_http_controller_t {
    int64_t connect_timeout;  // seconds
    int64_t socket_timeout;   // seconds without progress before giving up
    aos_pool_t* pool;
    int owner;
};

struct oss_config_t {
    aos_string_t endpoint;  // [http:// | https://]host[:port]
    aos_string_t access_key_id;
    aos_string_t access_key_secret;
    int is_cname;  // the endpoint is the bucket's own domain
};

struct oss_request_options_t {
    oss_config_t* config;
    aos_http_controller_t* ctl;
    aos_pool_t* pool;
};

// Process-wide start and end of the HTTP layer (libcurl and APR). Counted:
// each successful initialize is matched by one deinitialize, and only the
// last one shuts the layer down.
int aos_http_io_initialize(const char* user_agent_info, int flags);
void aos_http_io_deinitialize(void);

oss_request_options_t* oss_request_options_create(aos_pool_t* p);
oss_config_t* oss_config_create(aos_pool_t* p);
aos_http_controller_t* aos_http_controller_create(aos_pool_t* p, int owner);

// headers may be null; resp_headers, when not null, receives the answer's headers.
aos_status_t* oss_put_object_from_buffer(const oss_request_options_t* options, const aos_string_t* bucket,
                                         const aos_string_t* object, aos_list_t* buffer, aos_table_t* headers,
                                         aos_table_t** resp_headers);
// The body is appended to buffer (a list of aos_buf_t). params is not used.
aos_status_t* oss_get_object_to_buffer(const oss_request_options_t* options, const aos_string_t* bucket,
                                       const aos_string_t* object, aos_table_t* headers, aos_table_t* params,
                                       aos_list_t* buffer, aos_table_t** resp_headers);
aos_status_t* oss_delete_object(const oss_request_options_t* options, const aos_string_t* bucket,
                                const aos_string_t* object, aos_table_t** resp_headers);
