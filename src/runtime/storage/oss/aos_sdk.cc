#include "runtime/storage/oss/aos_sdk.h"

#include <apr_strings.h>
#include <strings.h>

#include <ctime>
#include <string>

#include "runtime/storage/oss/aos_http.h"
#include "runtime/storage/oss/oss_auth.h"

namespace {
constexpr int64_t kConnectTimeout = 10;
constexpr int64_t kSocketTimeout = 60;

std::string view(const aos_string_t* s) { return s && s->data ? std::string(s->data, s->len) : std::string(); }

aos_status_t* failed(aos_pool_t* p, int code, const char* why) {
    auto* s = static_cast<aos_status_t*>(apr_pcalloc(p, sizeof(aos_status_t)));
    s->code = code;
    s->error_msg = why;
    return s;
}

// The <Code> of an OSS error document, if the body holds one.
const char* error_code(aos_pool_t* p, aos_list_t* body) {
    std::string text;
    for (aos_list_t* n = body->next; n != body && text.size() < 4096; n = n->next)
        text.append(reinterpret_cast<const char*>(aos_buf_of(n)->pos), aos_buf_size(aos_buf_of(n)));
    size_t start = text.find("<Code>");
    size_t end = start == std::string::npos ? start : text.find("</Code>", start);
    if (end == std::string::npos) return nullptr;
    return apr_pstrndup(p, text.data() + start + 6, end - start - 6);
}

// Signs and sends one object request. A 2xx body goes to out (when given).
aos_status_t* object_request(const oss_request_options_t* options, const char* verb, const aos_string_t* bucket,
                             const aos_string_t* object, aos_table_t* headers, aos_list_t* body, aos_list_t* out,
                             aos_table_t** resp_headers) {
    aos_pool_t* p = options->pool;
    const oss_config_t* cfg = options->config;
    qb::oss::request_target target;
    if (!cfg || !qb::oss::target_of(view(&cfg->endpoint), cfg->is_cname, view(bucket), view(object), &target))
        return failed(p, AOSE_INVALID_ARGUMENT, "invalid endpoint or bucket");

    qb::oss::header_list sent;
    std::string content_type;
    if (headers) {
        const apr_array_header_t* elts = apr_table_elts(headers);
        const auto* e = reinterpret_cast<const apr_table_entry_t*>(elts->elts);
        for (int i = 0; i < elts->nelts; ++i) {
            if (strcasecmp(e[i].key, "Content-Type") == 0)
                content_type = e[i].val;
            else
                sent.emplace_back(e[i].key, e[i].val);
        }
    }
    if (body && content_type.empty()) content_type = "application/octet-stream";
    const std::string date = qb::oss::http_date(time(nullptr));
    const std::string sig = qb::oss::signature(
        view(&cfg->access_key_secret),
        qb::oss::string_to_sign(verb, "", content_type, date, sent, target.resource));
    if (sig.empty()) return failed(p, AOSE_INTERNAL_ERROR, "cannot sign the request");

    qb::oss::http_request req{verb, target.url, {}, body, options->ctl};
    for (const auto& [name, value] : sent) req.headers.push_back(name + ": " + value);
    // An empty Content-Type is signed as empty, so it must not be sent at all.
    req.headers.push_back(content_type.empty() ? "Content-Type:" : "Content-Type: " + content_type);
    req.headers.push_back("Date: " + date);
    req.headers.push_back("Authorization: OSS " + view(&cfg->access_key_id) + ":" + sig);

    aos_list_t answer;
    aos_list_init(&answer);
    aos_table_t* rh = resp_headers ? apr_table_make(p, 8) : nullptr;
    aos_status_t* s = qb::oss::http_send(p, req, &answer, rh);
    if (resp_headers) *resp_headers = rh;
    if (rh) s->req_id = apr_table_get(rh, "x-oss-request-id");
    if (!aos_status_is_ok(s)) {
        if (s->code > 0) s->error_code = error_code(p, &answer);
    } else if (out && answer.next != &answer) {
        // Splice the answer's pieces onto out.
        answer.next->prev = out->prev;
        out->prev->next = answer.next;
        answer.prev->next = out;
        out->prev = answer.prev;
    }
    return s;
}
}  // namespace

aos_buf_t* aos_buf_pack(aos_pool_t* p, const void* data, int size) {
    if (size < 0) return nullptr;
    auto* b = static_cast<aos_buf_t*>(apr_pcalloc(p, sizeof(aos_buf_t)));
    if (!b) return nullptr;
    b->start = b->pos = static_cast<uint8_t*>(const_cast<void*>(data));
    b->end = b->last = b->start + size;
    aos_list_init(&b->node);
    return b;
}

aos_buf_t* aos_buf_copy(aos_pool_t* p, const void* data, int size) {
    void* copy = size > 0 ? apr_pmemdup(p, data, static_cast<apr_size_t>(size)) : nullptr;
    return size > 0 && !copy ? nullptr : aos_buf_pack(p, copy, size);
}

int64_t aos_buf_list_len(aos_list_t* list) {
    int64_t n = 0;
    for (aos_list_t* e = list->next; e != list; e = e->next) n += aos_buf_size(aos_buf_of(e));
    return n;
}

oss_request_options_t* oss_request_options_create(aos_pool_t* p) {
    auto* o = static_cast<oss_request_options_t*>(apr_pcalloc(p, sizeof(oss_request_options_t)));
    if (o) o->pool = p;
    return o;
}

oss_config_t* oss_config_create(aos_pool_t* p) {
    return static_cast<oss_config_t*>(apr_pcalloc(p, sizeof(oss_config_t)));
}

aos_http_controller_t* aos_http_controller_create(aos_pool_t* p, int owner) {
    auto* c = static_cast<aos_http_controller_t*>(apr_pcalloc(p, sizeof(aos_http_controller_t)));
    if (c) *c = {kConnectTimeout, kSocketTimeout, p, owner};
    return c;
}

aos_status_t* oss_put_object_from_buffer(const oss_request_options_t* options, const aos_string_t* bucket,
                                         const aos_string_t* object, aos_list_t* buffer, aos_table_t* headers,
                                         aos_table_t** resp_headers) {
    return object_request(options, "PUT", bucket, object, headers, buffer, nullptr, resp_headers);
}

aos_status_t* oss_get_object_to_buffer(const oss_request_options_t* options, const aos_string_t* bucket,
                                       const aos_string_t* object, aos_table_t* headers, aos_table_t* params,
                                       aos_list_t* buffer, aos_table_t** resp_headers) {
    return object_request(options, "GET", bucket, object, headers, nullptr, buffer, resp_headers);
}

aos_status_t* oss_delete_object(const oss_request_options_t* options, const aos_string_t* bucket,
                                const aos_string_t* object, aos_table_t** resp_headers) {
    return object_request(options, "DELETE", bucket, object, nullptr, nullptr, nullptr, resp_headers);
}
