#include "runtime/storage/oss/aos_http.h"

#include <apr_general.h>
#include <apr_strings.h>
#include <curl/curl.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <mutex>

namespace {
std::mutex g_io_mutex;
int g_io_users = 0;
std::string g_user_agent;

struct upload_cursor {
    aos_list_t* head;
    aos_list_t* node;
    uint8_t* pos;
};

size_t read_body(char* dst, size_t size, size_t nitems, void* arg) {
    auto* c = static_cast<upload_cursor*>(arg);
    size_t room = size * nitems;
    size_t done = 0;
    while (done < room && c->node != c->head) {
        aos_buf_t* b = aos_buf_of(c->node);
        size_t n = std::min(room - done, static_cast<size_t>(b->last - c->pos));
        if (n) memcpy(dst + done, c->pos, n);  // an empty piece may have no data pointer
        done += n;
        c->pos += n;
        if (c->pos == b->last) {
            c->node = c->node->next;
            if (c->node != c->head) c->pos = aos_buf_of(c->node)->pos;
        }
    }
    return done;
}

struct download {
    aos_pool_t* pool;
    aos_list_t* list;
    int64_t total;
    bool too_large;
};

size_t write_body(char* data, size_t size, size_t nmemb, void* arg) {
    auto* d = static_cast<download*>(arg);
    size_t n = size * nmemb;
    // The loads hand out the body as one block counted by an int, plus a zero byte.
    if (n > static_cast<size_t>(INT_MAX - 1) - static_cast<size_t>(d->total)) {
        d->too_large = true;
        return 0;
    }
    aos_buf_t* b = aos_buf_copy(d->pool, data, static_cast<int>(n));
    if (!b) return 0;
    aos_list_add_tail(&b->node, d->list);
    d->total += static_cast<int64_t>(n);
    return n;
}

struct header_sink {
    aos_pool_t* pool;
    aos_table_t* table;
};

size_t take_header(char* data, size_t size, size_t nitems, void* arg) {
    auto* h = static_cast<header_sink*>(arg);
    size_t n = size * nitems;
    const char* colon = static_cast<const char*>(memchr(data, ':', n));
    if (h->table && colon) {
        const char* v = colon + 1;
        const char* end = data + n;
        while (v < end && (*v == ' ' || *v == '\t')) ++v;
        while (end > v && (end[-1] == '\r' || end[-1] == '\n' || end[-1] == ' ')) --end;
        apr_table_addn(h->table, apr_pstrndup(h->pool, data, colon - data), apr_pstrndup(h->pool, v, end - v));
    }
    return n;
}
}  // namespace

int aos_http_io_initialize(const char* user_agent_info, int flags) {
    std::lock_guard<std::mutex> lock(g_io_mutex);
    if (g_io_users == 0) {
        if (curl_global_init(CURL_GLOBAL_ALL) != CURLE_OK) return AOSE_INTERNAL_ERROR;
        if (apr_initialize() != APR_SUCCESS) {
            curl_global_cleanup();
            return AOSE_INTERNAL_ERROR;
        }
        g_user_agent = "quorbit-oss";
        if (user_agent_info) g_user_agent.append(" ").append(user_agent_info);
    }
    ++g_io_users;
    return AOSE_OK;
}

void aos_http_io_deinitialize(void) {
    std::lock_guard<std::mutex> lock(g_io_mutex);
    if (g_io_users == 0 || --g_io_users > 0) return;
    apr_terminate();
    curl_global_cleanup();
}

namespace qb::oss {

aos_status_t* http_send(aos_pool_t* p, const http_request& req, aos_list_t* response, aos_table_t* resp_headers) {
    auto* s = static_cast<aos_status_t*>(apr_pcalloc(p, sizeof(aos_status_t)));
    CURL* curl = curl_easy_init();
    if (!curl) {
        s->code = AOSE_INTERNAL_ERROR;
        s->error_msg = "cannot create an HTTP handle";
        return s;
    }
    curl_slist* headers = nullptr;
    for (const std::string& h : req.headers) headers = curl_slist_append(headers, h.c_str());
    // Uploads go at once; a 100-continue round trip only adds latency.
    headers = curl_slist_append(headers, "Expect:");

    upload_cursor up{req.body, req.body ? req.body->next : nullptr, nullptr};
    if (req.body && up.node != req.body) up.pos = aos_buf_of(up.node)->pos;
    download down{p, response, 0, false};
    header_sink hs{p, resp_headers};
    {
        std::lock_guard<std::mutex> lock(g_io_mutex);
        curl_easy_setopt(curl, CURLOPT_USERAGENT, g_user_agent.c_str());
    }
    curl_easy_setopt(curl, CURLOPT_URL, req.url.c_str());
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, write_body);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &down);
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, take_header);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, &hs);
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    if (req.ctl) {
        curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, static_cast<long>(req.ctl->connect_timeout));
        curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
        curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, static_cast<long>(req.ctl->socket_timeout));
    }
    if (strcmp(req.method, "PUT") == 0) {
        curl_easy_setopt(curl, CURLOPT_UPLOAD, 1L);
        curl_easy_setopt(curl, CURLOPT_READFUNCTION, read_body);
        curl_easy_setopt(curl, CURLOPT_READDATA, &up);
        curl_easy_setopt(curl, CURLOPT_INFILESIZE_LARGE,
                         static_cast<curl_off_t>(req.body ? aos_buf_list_len(req.body) : 0));
    } else if (strcmp(req.method, "GET") != 0) {
        curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, req.method);
    }
    CURLcode rc = curl_easy_perform(curl);
    long code = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &code);
    if (down.too_large) {
        s->code = AOSE_TOO_LARGE;
        s->error_msg = "body too large";
    } else if (rc != CURLE_OK) {
        s->code = AOSE_REQUEST_FAILED;
        s->error_msg = apr_pstrdup(p, curl_easy_strerror(rc));
    } else {
        s->code = static_cast<int>(code);
    }
    curl_slist_free_all(headers);
    curl_easy_cleanup(curl);
    return s;
}

}  // namespace qb::oss
