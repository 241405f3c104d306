// HTTP server on libmicrohttpd: one daemon whose pool of epoll threads serve
// the requests. A request first collects its body; then the general callback,
// the CGI table and the static files run in turn and write into an answer
// held in memory, which goes out once every step has run.
#include "http_server.h"

#include <fcntl.h>
#include <microhttpd.h>
#include <signal.h>
#include <strings.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>
#include <new>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "foundation/env_lock.h"
#include "net/http/server/http_decode.h"
#include "net/http/server/http_internal.h"
#include "sdk_logger.h"
#include "sdk_os.h"

// Needs the MHD_Result type, buffers with a free callback and bind-port look-up.
#if !defined(MHD_VERSION) || MHD_VERSION < 0x00097100
#error "libmicrohttpd 0.9.71 or later is required"
#endif

namespace {
using qb::http::Response;

constexpr const char* TAG = "HTTP_SERVER_ONION";
constexpr size_t kMaxPostSize = 0xa00000;
constexpr unsigned kConnectionTimeoutSeconds = 5;
constexpr size_t kPostProcessorBuffer = 16 * 1024;
constexpr size_t kFileNameSize = 100;
constexpr int kMethodGet = 0;
constexpr int kMethodPost = 1;
constexpr int kStatusTooLarge = 413;
constexpr char kWorkInProgress[] = "<h1>Work in progress...</h1>\n";
constexpr char kNotFound[] = "404 Not Found";
constexpr char kTooLarge[] = "413 Request Entity Too Large";
constexpr char kServerError[] = "500 Internal Server Error";

enum class BodyKind { none, form, json, multipart, unsupported };

struct Part {
    std::string name;
    std::string value;  // text, or the client's name of an uploaded file
};

struct Request {
    std::string raw_uri;
    bool started = false;
    int method = -1;
    BodyKind kind = BodyKind::none;
    std::string body;  // form or JSON
    size_t received = 0;
    bool too_large = false;
    bool upload_failed = false;
    MHD_PostProcessor* pp = nullptr;
    std::vector<Part> fields;
    std::vector<Part> files;  // field name -> temporary file
    int file_fd = -1;
    size_t part_bytes = 0;
    bool part_is_file = false;

    ~Request() {
        if (pp) MHD_destroy_post_processor(pp);
        if (file_fd >= 0) close(file_fd);
        for (const Part& f : files) unlink(f.value.c_str());
    }
};

// libonion's numbering, which the "Unsupported method" line reports.
int method_number(const char* method) {
    static const char* const kMethods[] = {"GET",    "POST", "HEAD",  "OPTIONS",   "PROPFIND", "PUT",
                                           "DELETE", "MOVE", "MKCOL", "PROPPATCH", "PATCH"};
    for (size_t i = 0; i < sizeof kMethods / sizeof kMethods[0]; ++i)
        if (strcmp(method, kMethods[i]) == 0) return static_cast<int>(i);
    return -1;
}

void add_string(json_object* obj, const char* key, const char* value, size_t len) {
    json_object_object_add(obj, key, json_object_new_string_len(value, static_cast<int>(len)));
}

// The whole body must be one JSON value (blanks around it allowed).
json_object* parse_json(const std::string& body) {
    json_tokener* tok = json_tokener_new();
    if (!tok) return nullptr;
    // The terminator is fed too, so a bare number at the end is complete.
    json_object* obj = json_tokener_parse_ex(tok, body.c_str(), static_cast<int>(body.size() + 1));
    bool ok = obj && json_tokener_get_error(tok) == json_tokener_success;
    for (size_t i = ok ? json_tokener_get_parse_end(tok) : 0; ok && i < body.size(); ++i)
        ok = strchr(" \t\r\n", body[i]) && body[i] != '\0';
    json_tokener_free(tok);
    if (!ok && obj) {
        json_object_put(obj);
        obj = nullptr;
    }
    return obj;
}

MHD_Result add_value(void* cls, MHD_ValueKind, const char* key, const char* value) {
    if (key) add_string(static_cast<json_object*>(cls), key, value ? value : "", value ? strlen(value) : 0);
    return MHD_YES;
}

json_object* connection_values(MHD_Connection* c, MHD_ValueKind kind) {
    json_object* obj = json_object_new_object();
    if (obj) MHD_get_connection_values(c, kind, add_value, obj);
    return obj;
}

bool start_part(Request* req, const char* key, const char* filename) {
    if (req->file_fd >= 0) close(req->file_fd);
    req->file_fd = -1;
    req->part_bytes = 0;
    req->part_is_file = filename != nullptr;
    req->fields.push_back({key, filename ? filename : ""});
    if (!filename) return true;
    std::string path = std::string(os_temp_dir()) + "/qb_upload_XXXXXX";
    req->file_fd = mkostemp(path.data(), O_CLOEXEC);
    if (req->file_fd < 0) {
        LOGE(TAG, "Upload of %s: cannot create a temporary file in %s", key, os_temp_dir());
        return false;
    }
    req->files.push_back({key, std::move(path)});
    return true;
}

bool write_all(int fd, const char* data, size_t size) {
    while (size > 0) {
        ssize_t n = write(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

MHD_Result on_part(void* cls, MHD_ValueKind, const char* key, const char* filename, const char*, const char*,
                   const char* data, uint64_t off, size_t size) {
    auto* req = static_cast<Request*>(cls);
    try {
        if (!key) key = "";
        bool is_file = filename != nullptr;
        bool new_part = req->fields.empty() ||
                        (off == 0 && (req->part_bytes > 0 || req->fields.back().name != key || req->part_is_file != is_file));
        if (new_part && !start_part(req, key, filename)) return MHD_NO;
        if (size == 0) return MHD_YES;
        req->part_bytes += size;
        if (!is_file) {
            req->fields.back().value.append(data, size);
        } else if (req->file_fd < 0 || !write_all(req->file_fd, data, size)) {
            LOGE(TAG, "Upload of %s: write to %s failed", key, req->files.back().value.c_str());
            return MHD_NO;
        }
        return MHD_YES;
    } catch (...) {
        return MHD_NO;
    }
}

void begin_post(Request* req, MHD_Connection* c) {
    const char* type = MHD_lookup_connection_value(c, MHD_HEADER_KIND, MHD_HTTP_HEADER_CONTENT_TYPE);
    if (type && strstr(type, "application/x-www-form-urlencoded")) {
        req->kind = BodyKind::form;
    } else if (type && strstr(type, "application/json")) {
        req->kind = BodyKind::json;
    } else if (type && strstr(type, "multipart/form-data")) {
        req->kind = BodyKind::multipart;
        req->pp = MHD_create_post_processor(c, kPostProcessorBuffer, on_part, req);
    } else {
        LOGE(TAG, "Not support content-type=%s", type ? type : "(null)");
        req->kind = BodyKind::unsupported;
    }
    const char* length = MHD_lookup_connection_value(c, MHD_HEADER_KIND, MHD_HTTP_HEADER_CONTENT_LENGTH);
    if (length && strtoull(length, nullptr, 10) > kMaxPostSize) req->too_large = true;
}

void feed(Request* req, const char* data, size_t size) {
    req->received += size;
    if (req->received > kMaxPostSize) req->too_large = true;
    if (req->too_large || req->upload_failed) {
        std::string().swap(req->body);
        return;
    }
    if (req->kind == BodyKind::form || req->kind == BodyKind::json) {
        req->body.append(data, size);
    } else if (req->kind == BodyKind::multipart && req->pp) {
        if (MHD_post_process(req->pp, data, size) != MHD_YES) req->upload_failed = true;
    }
}

struct Decoded {
    json_object* post = nullptr;
    json_object* get = nullptr;
    json_object* files = nullptr;
    json_object* cookies = nullptr;
    ~Decoded() {
        for (json_object* o : {post, get, files, cookies})
            if (o) json_object_put(o);
    }
};

void decode_post(Request* req, Decoded* d) {
    if (req->kind == BodyKind::form) {
        if (req->body.empty()) {
            LOGE(TAG, "Post x-www-form-urlencoded no data");
            return;
        }
        d->post = json_object_new_object();
        qb::http::decode_form(req->body, [d](std::string&& k, std::string&& v) {
            if (d->post) add_string(d->post, k.c_str(), v.data(), v.size());
        });
    } else if (req->kind == BodyKind::json) {
        if (req->body.empty())
            LOGE(TAG, "Post JSON No block data");
        else
            d->post = parse_json(req->body);
    } else if (req->kind == BodyKind::multipart) {
        if (req->pp) MHD_destroy_post_processor(req->pp);  // flushes the last part
        req->pp = nullptr;
        if (req->file_fd >= 0) close(req->file_fd);
        req->file_fd = -1;
        if (req->fields.empty()) {
            LOGE(TAG, "Post x-www-form-urlencoded no data");
            return;
        }
        d->post = json_object_new_object();
        for (const Part& p : req->fields)
            if (d->post) add_string(d->post, p.name.c_str(), p.value.data(), p.value.size());
        if (!req->files.empty()) d->files = json_object_new_object();
        for (const Part& p : req->files)
            if (d->files) add_string(d->files, p.name.c_str(), p.value.data(), p.value.size());
    }
}

bool send_static(const char* url, std::string_view raw_path, Response* res) {
    char* data = nullptr;
    size_t len = 0;
    if (strcmp(url, "/") == 0) {
        for (const char* name : {"webroot/index.htm", "webroot/index.html", "webroot/templates/index.html"}) {
            if (qb::http::read_webroot_file(name, &data, &len)) {
                res->code = 200;
                res->set_header(MHD_HTTP_HEADER_CONTENT_TYPE, "text/html");
                res->adopt(data, len);
                return true;
            }
        }
        return false;
    }
    char name[kFileNameSize];
    if (!qb::http::static_file_name(raw_path, name, sizeof name)) return false;
    if (!qb::http::read_webroot_file(name, &data, &len)) return false;
    const char* type = qb::http::mime_type(name);
    if (!type) {
        LOGV(TAG, "unknown mime type with filename= %s", name);
        type = "application/octet-stream";
    }
    LOGV(TAG, "send filename %s mimetype=%s", name, type);
    res->code = 200;
    res->set_header(MHD_HTTP_HEADER_CONTENT_TYPE, type);
    res->adopt(data, len);
    return true;
}

void send_not_found(Response* res) {
    char* data = nullptr;
    size_t len = 0;
    res->code = MHD_HTTP_NOT_FOUND;
    res->set_header(MHD_HTTP_HEADER_CONTENT_TYPE, "text/html");
    if (qb::http::read_webroot_file("webroot/404.html", &data, &len))
        res->adopt(data, len);
    else
        res->append(kNotFound, sizeof kNotFound - 1);
}

// The general callback, the CGI table and the static files, in this order.
void run_steps(onion_handle* server, Request* req, MHD_Connection* c, const char* url, Response* res) {
    std::string_view raw_path(req->raw_uri);
    bool has_query = raw_path.find('?') != std::string_view::npos;
    raw_path = raw_path.substr(0, raw_path.find('?'));
    if (qb::http::path_has_nul(raw_path)) {
        LOGE(TAG, "Refused a path with a NUL: %s", req->raw_uri.c_str());
        send_not_found(res);
        return;
    }
    Decoded d;
    if (MHD_lookup_connection_value(c, MHD_HEADER_KIND, MHD_HTTP_HEADER_COOKIE))
        d.cookies = connection_values(c, MHD_COOKIE_KIND);
    decode_post(req, &d);
    // A plain GET gets an empty query object, so it reaches CGI entries and files.
    if (req->method == kMethodGet || has_query)
        d.get = connection_values(c, MHD_GET_ARGUMENT_KIND);
    else
        LOGD(TAG, "No get data");

    http_server_cb_param p = {res, const_cast<char*>(url), d.post, d.get, d.files, d.cookies, server->user};
    bool handled = false;
    if (server->cgi_handler && server->cgi_handler(&p) == HTTP_HANDLED) handled = true;
    if (d.post && d.get) {
        json_object_put(d.get);
        d.get = p.get_obj = nullptr;
    }
    for (const method_url& slot : server->m) {
        if (slot.method == SDK_HTTP_METHOD_EMPTY || !slot.url[0] || strcmp(slot.url, url) != 0) continue;
        if ((d.post && slot.method == SDK_HTTP_METHOD_POST) || (d.get && slot.method == SDK_HTTP_METHOD_GET)) {
            LOGV(TAG, "HTTP CGI -> %s -> start", slot.url);
            slot.callback(&p);
            handled = true;
            LOGV(TAG, "HTTP CGI -> %s -> end", slot.url);
        }
    }
    if (d.get && send_static(url, raw_path, res)) handled = true;
    if (!handled) send_not_found(res);
}

MHD_Result queue(MHD_Connection* c, Response* res) {
    if (res->out_of_memory) {
        LOGE(TAG, "Out of memory for an answer");
        res->code = MHD_HTTP_INTERNAL_SERVER_ERROR;
        res->len = 0;
        res->out_of_memory = false;
        res->append(kServerError, sizeof kServerError - 1);
    }
    if (res->code < 100 || res->code > 599) {
        LOGE(TAG, "Invalid response code %d, sending 500", res->code);
        res->code = MHD_HTTP_INTERNAL_SERVER_ERROR;
    }
    MHD_Response* r = res->len ? MHD_create_response_from_buffer_with_free_callback(res->len, res->body, free)
                               : MHD_create_response_from_buffer(0, const_cast<char*>(""), MHD_RESPMEM_PERSISTENT);
    if (!r) return MHD_NO;
    if (res->len) res->body = nullptr;  // the response frees it now
    bool typed = false;
    for (const auto& h : res->headers) {
        typed |= strcasecmp(h.first.c_str(), MHD_HTTP_HEADER_CONTENT_TYPE) == 0;
        if (MHD_add_response_header(r, h.first.c_str(), h.second.c_str()) != MHD_YES)
            LOGE(TAG, "Header %s refused", h.first.c_str());
    }
    if (!typed) MHD_add_response_header(r, MHD_HTTP_HEADER_CONTENT_TYPE, "text/html");
    MHD_Result rc = MHD_queue_response(c, static_cast<unsigned>(res->code), r);
    MHD_destroy_response(r);
    return rc;
}

MHD_Result answer_text(MHD_Connection* c, int code, const char* text, size_t len) {
    Response res;
    res.code = code;
    res.append(text, len);
    return queue(c, &res);
}

MHD_Result on_request(void* cls, MHD_Connection* c, const char* url, const char* method, const char*,
                      const char* upload_data, size_t* upload_size, void** con_cls) {
    auto* server = static_cast<onion_handle*>(cls);
    auto* req = static_cast<Request*>(*con_cls);
    if (!req) return MHD_NO;
    try {
        if (!req->started) {
            req->started = true;
            req->method = method_number(method);
            if (req->method != kMethodGet && req->method != kMethodPost) {
                LOGE(TAG, "Unsupported method %d", req->method);
                return answer_text(c, MHD_HTTP_NOT_IMPLEMENTED, kWorkInProgress, sizeof kWorkInProgress - 1);
            }
            if (req->method == kMethodPost) {
                begin_post(req, c);
                if (!req->too_large) return MHD_YES;  // the body follows
            }
        } else if (*upload_size) {
            feed(req, upload_data, *upload_size);
            *upload_size = 0;
            return MHD_YES;
        }
        if (req->too_large) {
            LOGE(TAG, "POST body above %zu bytes refused", kMaxPostSize);
            return answer_text(c, kStatusTooLarge, kTooLarge, sizeof kTooLarge - 1);
        }
        if (req->upload_failed) return answer_text(c, MHD_HTTP_INTERNAL_SERVER_ERROR, kServerError, sizeof kServerError - 1);
        Response res;
        if (req->kind != BodyKind::unsupported) run_steps(server, req, c, url, &res);
        return queue(c, &res);
    } catch (...) {
        LOGE(TAG, "Out of memory while serving %s", url);
        return MHD_NO;
    }
}

void* on_uri(void*, const char* uri, MHD_Connection*) {
    try {
        auto* req = new Request;
        req->raw_uri = uri ? uri : "";
        return req;
    } catch (...) {
        return nullptr;
    }
}

void on_completed(void*, MHD_Connection*, void** con_cls, MHD_RequestTerminationCode) {
    delete static_cast<Request*>(*con_cls);
    *con_cls = nullptr;
}

void on_library_log(void*, const char* fmt, va_list ap) {
    char line[512];
    vsnprintf(line, sizeof line, fmt, ap);
    size_t n = strlen(line);
    while (n > 0 && (line[n - 1] == '\n' || line[n - 1] == '\r')) line[--n] = '\0';
    LOGE(TAG, "%s", line);
}

unsigned pool_size() { return std::clamp(std::thread::hardware_concurrency(), 2u, 8u); }

}  // namespace

extern "C" {

QB_API void Onion_Set_loglevel(void) {
    int level = sdk_get_log_level();
    const char* value = level < SDK_LOG_LEVEL_DEBUG ? "nodebug" : level < SDK_LOG_LEVEL_VERBOSE ? "noinfo" : nullptr;
    if (!value) return;
    std::lock_guard<std::mutex> lock(qb::env_mutex());
    setenv("ONION_LOG", value, 1);
}

QB_API HttpServerHandle SDK_HTTP_Server_Start(int port, HTTP_Server_Callback callback, void* user) {
    Onion_Set_loglevel();
    if (port < 0 || port > 65535) {
        LOGE(TAG, "Invalid port %d", port);
        return nullptr;
    }
    auto* server = static_cast<onion_handle*>(calloc(1, sizeof(onion_handle)));
    if (!server) return nullptr;
    LOGD(TAG, "onion server start at port %d", port);
    server->user = user;
    server->cgi_handler = callback;
    // The daemon's threads inherit this mask: a client gone mid-answer must
    // not raise SIGPIPE there, whatever the program's own signal settings.
    sigset_t pipe, old;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe, &old);
    // No MHD_OPTION_LISTENING_ADDRESS_REUSE: only SO_REUSEADDR, never a shared port.
    MHD_Daemon* d = MHD_start_daemon(
        MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_EPOLL | MHD_USE_ERROR_LOG, static_cast<uint16_t>(port), nullptr,
        nullptr, on_request, server, MHD_OPTION_EXTERNAL_LOGGER, on_library_log, server, MHD_OPTION_URI_LOG_CALLBACK,
        on_uri, server, MHD_OPTION_NOTIFY_COMPLETED, on_completed, server, MHD_OPTION_CONNECTION_TIMEOUT,
        kConnectionTimeoutSeconds, MHD_OPTION_THREAD_POOL_SIZE, pool_size(), MHD_OPTION_END);
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    if (!d) {
        LOGE(TAG, "onion server cannot listen at port %d", port);
        free(server);
        return nullptr;
    }
    server->o = d;
    return server;
}

QB_API int SDK_HTTP_Server_Stop(HttpServerHandle server) {
    if (!server) {
        LOGE(TAG, "Null handle");
        return -1;
    }
    if (server->o) MHD_stop_daemon(static_cast<MHD_Daemon*>(server->o));
    free(server);
    return 0;
}

QB_API int SDK_HTTP_Server_Port(HttpServerHandle server) {
    if (!server || !server->o) return -1;
    const MHD_DaemonInfo* info = MHD_get_daemon_info(static_cast<MHD_Daemon*>(server->o), MHD_DAEMON_INFO_BIND_PORT);
    return info ? info->port : -1;
}

QB_API int SDK_HTTP_Server_Register_CGI(HttpServerHandle server, SDK_HTTP_METHOD method, char* url,
                                        HTTP_Server_CGI_Callback callback) {
    if (!server) {
        LOGE(TAG, "Null handle");
        return -1;
    }
    for (method_url& slot : server->m) {
        if (slot.method != SDK_HTTP_METHOD_EMPTY) continue;
        slot.method = method;
        slot.callback = callback;
        if (!url || strlen(url) >= sizeof slot.url) {
            LOGE(TAG, "Register url %s too long!", url ? url : "(null)");
            return 0;
        }
        snprintf(slot.url, sizeof slot.url, "%s", url);
        LOGV(TAG, "Register HTTP URL %s", url);
        return 0;
    }
    return 0;
}

QB_API void SDK_HTTP_Server_Send_Response(void* handle, int response_code, char* content_type, char* body,
                                          int length) {
    auto* res = static_cast<Response*>(handle);
    if (!res || length < 0 || (!body && length > 0)) {
        LOGE(TAG, "Send_Response: null handle or bad body");
        return;
    }
    res->code = response_code;
    if (content_type) res->set_header(MHD_HTTP_HEADER_CONTENT_TYPE, content_type);
    res->append(body, static_cast<size_t>(length));
}

QB_API void SDK_HTTP_Server_Send_Response_Body(void* handle, char* body, int length) {
    auto* res = static_cast<Response*>(handle);
    if (!res || length < 0 || (!body && length > 0)) {
        LOGE(TAG, "Send_Response_Body: null handle or bad body");
        return;
    }
    res->append(body, static_cast<size_t>(length));
}

QB_API void SDK_HTTP_Server_Send_File_Response(void* handle, char* file_name, char* buffer, int length) {
    auto* res = static_cast<Response*>(handle);
    if (!res || length < 0 || (!buffer && length > 0)) {
        LOGE(TAG, "Send_File_Response: null handle or bad body");
        return;
    }
    char disposition[kFileNameSize];
    qb::http::content_disposition(file_name, disposition, sizeof disposition);
    res->code = MHD_HTTP_OK;
    res->set_header("Pragma", "public");
    res->set_header("Expires", "0");
    res->set_header("Cache-Control", "must-revalidate, post-check=0, pre-check=0");
    res->set_header(MHD_HTTP_HEADER_CONTENT_TYPE, "application/download");
    res->set_header("Content-Disposition", disposition);
    res->set_header("Content-Transfer-Encoding", "binary");
    res->append(buffer, static_cast<size_t>(length));
}

QB_API int SDK_HTTP_Server_Send_Cookie(void* handle, char* key, char* value, int timeout) {
    auto* res = static_cast<Response*>(handle);
    if (!res) {
        LOGE(TAG, "Null handle");
        return -1;
    }
    std::string cookie;
    try {
        cookie = qb::http::set_cookie(key, value, timeout, time(nullptr));
    } catch (...) {
        res->out_of_memory = true;
        return -1;
    }
    if (cookie.empty()) {
        LOGE(TAG, "Cookie %s refused: characters a cookie cannot carry", key ? key : "(null)");
        return -1;
    }
    res->set_header(MHD_HTTP_HEADER_SET_COOKIE, cookie.c_str());
    return 0;
}

}  // extern "C"
