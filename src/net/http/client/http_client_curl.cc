// HTTP POST with libcurl's easy interface, one handle per call.
#include <curl/curl.h>
#include <pthread.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "foundation/sigpipe_guard.h"
#include "http_client.h"
#include "sdk_logger.h"

namespace {
constexpr const char* TAG = "HTTP_CLIENT";
constexpr const char* kUserAgent =
    "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1; SV1; .NET CLR 1.1.4322; .NET CLR 2.0.5";
constexpr long kPostTimeoutMs = 10000;

// curl_global_init is not thread-safe and must run before any other thread
// uses libcurl: once per process, never undone.
pthread_once_t g_curl_once = PTHREAD_ONCE_INIT;
CURLcode g_curl_init = CURLE_FAILED_INIT;
void init_curl() { g_curl_init = curl_global_init(CURL_GLOBAL_ALL); }

// "<domain>:<port><url>" in a block sized for it, or null.
char* compose_url(const char* domain, int port, const char* url) {
    int n = snprintf(nullptr, 0, "%s:%d%s", domain, port, url);
    if (n < 0) return nullptr;
    char* out = static_cast<char*>(malloc(static_cast<size_t>(n) + 1));
    if (out) snprintf(out, static_cast<size_t>(n) + 1, "%s:%d%s", domain, port, url);
    return out;
}

struct Growing {
    char* data = nullptr;
    size_t len = 0;
};

// Returning less than offered makes libcurl abort the transfer.
size_t append_whole(char* chunk, size_t size, size_t nmemb, void* target) {
    auto* g = static_cast<Growing*>(target);
    size_t n = size * nmemb;  // libcurl passes size 1
    if (n > SIZE_MAX - g->len - 1) return 0;
    char* grown = static_cast<char*>(realloc(g->data, g->len + n + 1));
    if (!grown) {
        LOGE(TAG, "Out of memory for a %zu-byte answer", g->len + n);
        return 0;
    }
    memcpy(grown + g->len, chunk, n);
    g->data = grown;
    g->len += n;
    g->data[g->len] = '\0';
    return n;
}

size_t append_capped(char* chunk, size_t size, size_t nmemb, void* target) {
    auto* r = static_cast<post_result_data*>(target);
    size_t n = size * nmemb;
    int room = r->total_size - r->cur_size - 1;
    if (room < 1) return n;
    size_t take = n < static_cast<size_t>(room) ? n : static_cast<size_t>(room);
    memcpy(r->ptr + r->cur_size, chunk, take);
    r->cur_size += static_cast<int>(take);
    return n;
}

// One POST; true when the transfer completed.
bool perform(CURL* curl, const char* target_url, const char* post_data, long timeout_ms, curl_write_callback write,
             void* target) {
    char error[CURL_ERROR_SIZE] = "";
    curl_slist* headers = nullptr;
    // "Expect:" keeps curl from adding "Expect: 100-continue" to larger bodies.
    for (const char* h : {"Accept: application/json", "Content-Type: application/json", "charsets: utf-8", "Expect:"}) {
        curl_slist* grown = curl_slist_append(headers, h);
        if (!grown) {
            curl_slist_free_all(headers);
            LOGE(TAG, "Out of memory for the request headers");
            return false;
        }
        headers = grown;
    }
    curl_easy_setopt(curl, CURLOPT_URL, target_url);
    curl_easy_setopt(curl, CURLOPT_POST, 1L);
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, post_data);
    curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(strlen(post_data)));
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(curl, CURLOPT_USERAGENT, kUserAgent);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 0L);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 0L);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, timeout_ms);
    // No alarm() for name look-ups, no process-wide SIGPIPE handler: the
    // guard below keeps SIGPIPE on this thread only.
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, write);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, target);
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, error);
    CURLcode rc;
    {
        qb::SigpipeGuard guard;
        rc = curl_easy_perform(curl);
    }
    curl_slist_free_all(headers);
    if (rc != CURLE_OK) LOGV(TAG, "Error: %s", error[0] ? error : curl_easy_strerror(rc));
    return rc == CURLE_OK;
}

// Common start of both calls: arguments, libcurl, the URL and its log lines.
char* prepare(const char* domain, int port, const char* url, const char* post_data) {
    if (!domain || !url || !post_data) {
        LOGE(TAG, "Null domain, url or data");
        return nullptr;
    }
    pthread_once(&g_curl_once, init_curl);
    if (g_curl_init != CURLE_OK) {
        LOGE(TAG, "libcurl initialisation failed: %s", curl_easy_strerror(g_curl_init));
        return nullptr;
    }
    char* target = compose_url(domain, port, url);
    if (!target) {
        LOGE(TAG, "Out of memory for the URL");
        return nullptr;
    }
    LOGV(TAG, "CURL Target:%s", target);
    LOGV(TAG, "CURL Data:%s", post_data);
    return target;
}

}  // namespace

extern "C" {

QB_API char* SDK_HTTP_Client_Post(char* domain, int port, char* url, char* post_data) {
    char* target = prepare(domain, port, url, post_data);
    if (!target) return nullptr;
    Growing result;
    if (CURL* curl = curl_easy_init()) {
        if (!perform(curl, target, post_data, kPostTimeoutMs, append_whole, &result)) {
            free(result.data);  // a body cut off part way is no answer
            result.data = nullptr;
        }
        curl_easy_cleanup(curl);
    }
    free(target);
    return result.data;
}

QB_API char* SDK_HTTP_Client_Post2(char* domain, int port, char* url, char* post_data, int buffer_size, int timeout) {
    if (buffer_size < 1 || timeout < 0) {
        LOGE(TAG, "Invalid buffer size %d or timeout %d", buffer_size, timeout);
        return nullptr;
    }
    post_result_data result = {static_cast<char*>(calloc(static_cast<size_t>(buffer_size), 1)), buffer_size, 0};
    if (!result.ptr) {
        LOGE(TAG, "Out of memory for a %d-byte answer", buffer_size);
        return nullptr;
    }
    char* target = prepare(domain, port, url, post_data);
    if (!target) {
        free(result.ptr);
        return nullptr;
    }
    if (CURL* curl = curl_easy_init()) {
        long timeout_ms = static_cast<long>(timeout) * 1000;
        if (!perform(curl, target, post_data, timeout_ms, append_capped, &result)) {
            free(result.ptr);
            result.ptr = nullptr;
        }
        curl_easy_cleanup(curl);
    }
    free(target);
    return result.ptr;
}

}  // extern "C"
