#include <signal.h>
#include <sys/socket.h>

#include <cstdlib>
#include <cstring>
#include <new>

#include "qb_env.h"
#include "redis_stream.h"
#include "foundation/sigpipe_guard.h"
#include "runtime/mq/redis/redis_entry.h"
#include "runtime/mq/redis/redis_stream_internal.h"
#include "sdk_logger.h"
#include "sdk_os.h"

namespace {
constexpr const char* TAG = "REDIS_CLIENT";
constexpr char kGroup[] = "default";
constexpr int kConnectRetries = 10;
constexpr struct timeval kConnectTimeout = {1, 500000};

// Heap parameter value released at scope end.
struct Param {
    char* value;
    explicit Param(const char* key) : value(qb_get_env(const_cast<char*>(key))) {}
    ~Param() { free(value); }
    Param(const Param&) = delete;
    Param& operator=(const Param&) = delete;
};

// The consumer name: --stream-node-id, else --node-id.
char* node_id() {
    char key[] = "--stream-node-id";
    if (char* v = qb_get_env(key)) return v;
    char fallback[] = "--node-id";
    return qb_get_env(fallback);
}

bool missing(const char* value, const char* what) {
    if (value) return false;
    LOGE(TAG, "Missing %s, nothing sent", what);
    return true;
}

// hiredis writes with write(): see SigpipeGuard.
using qb::SigpipeGuard;
using qb::t_sigpipe_blocked;

bool interrupted(redis_stream_handle* h) {
    std::lock_guard<std::mutex> lock(h->ctx_lock);
    return h->closing;
}

// Reads the replies of commands sent without waiting; a failure leaves the
// connection broken, which the command that follows reports.
void drain_deferred(redis_stream_handle* h) {
    while (h->deferred > 0 && h->c && !h->c->err) {
        void* r = nullptr;
        if (redisGetReply(h->c, &r) != REDIS_OK) break;
        auto* reply = static_cast<redisReply*>(r);
        if (reply && reply->type == REDIS_REPLY_ERROR) LOGD(TAG, "Deferred command refused: %s", reply->str);
        redis_print_reply(reply);
        --h->deferred;
    }
    h->deferred = 0;
}

// Runs one command with the io lock held by the caller.
redisReply* command(redis_stream_handle* h, int argc, const char** argv, const size_t* lens = nullptr) {
    SigpipeGuard guard;
    redisReply* reply = nullptr;
    if (h->deferred > 0 && !h->c->err) {
        // Queued behind the deferred commands and sent together with them
        // before any of their replies is awaited: order kept, no extra wait.
        if (redisAppendCommandArgv(h->c, argc, argv, lens) == REDIS_OK) {
            drain_deferred(h);
            void* r = nullptr;
            if (!h->c->err && redisGetReply(h->c, &r) == REDIS_OK) reply = static_cast<redisReply*>(r);
        }
    } else {
        reply = static_cast<redisReply*>(redisCommandArgv(h->c, argc, argv, lens));
    }
    if (!reply && !h->lost_logged && !interrupted(h)) {
        // One line per break: a dead connection fails every command at once.
        LOGE(TAG, "Connection %s %d lost: %s", h->host.c_str(), h->port, h->c->errstr);
        h->lost_logged = true;
    }
    return reply;
}

// Sends without reading the reply (io lock held): the caller goes on while
// Redis works, and the reply is read before the next command.
void command_deferred(redis_stream_handle* h, int argc, const char** argv) {
    SigpipeGuard guard;
    if (h->c->err || redisAppendCommandArgv(h->c, argc, argv, nullptr) != REDIS_OK) return;
    int done = 0;
    while (!done)
        if (redisBufferWrite(h->c, &done) != REDIS_OK) return;
    ++h->deferred;
}

// A read that may block, with the io lock held: marked in flight so an
// interrupt can end it, or refused when the interrupt came first.
redisReply* blocking_command(redis_stream_handle* h, int argc, const char** argv) {
    {
        std::lock_guard<std::mutex> ctx(h->ctx_lock);
        if (h->closing) return nullptr;
        h->reading = true;
    }
    redisReply* reply = command(h, argc, argv);
    std::lock_guard<std::mutex> ctx(h->ctx_lock);
    h->reading = false;
    return reply;
}

int create_group(Redis_Client client, const char* stream_key) {
    auto* h = static_cast<redis_stream_handle*>(client);
    if (!h) {
        LOGE(TAG, "Null handle");
        return -1;
    }
    Param stream(stream_key);
    if (missing(stream.value, stream_key)) return -1;
    const char* argv[] = {"XGROUP", "CREATE", stream.value, kGroup, "0", "MKSTREAM"};
    std::lock_guard<std::mutex> lock(h->io);
    // An existing group answers with an error; starting again is harmless.
    redis_print_reply(command(h, 6, argv));
    return 0;
}

int reconnect_locked(redis_stream_handle* h) {
    {
        std::lock_guard<std::mutex> lock(h->ctx_lock);
        if (h->closing) return -1;
    }
    redisContext* c = redisConnectWithTimeout(h->host.c_str(), h->port, kConnectTimeout);
    if (!c || c->err) {
        LOGD(TAG, "Reconnect %s %d failed: %s", h->host.c_str(), h->port, c ? c->errstr : "no context");
        if (c) redisFree(c);
        return -1;
    }
    redisContext* old = c;
    bool installed = false;
    {
        std::lock_guard<std::mutex> lock(h->ctx_lock);
        if (!h->closing) {
            old = h->c;
            h->c = c;
            h->fd = c->fd;
            installed = true;
        }
    }
    // The old descriptor closes only after fd was replaced.
    if (old) redisFree(old);
    if (!installed) return -1;
    h->lost_logged = false;
    h->deferred = 0;
    h->generation.fetch_add(1);
    LOGI(TAG, "Reconnected to %s %d", h->host.c_str(), h->port);
    return 0;
}

}  // namespace

int redis_client_ack_data(redis_stream_handle* handle, char* queue, char* message_id) {
    if (!handle || !queue || !message_id) return -1;
    const char* argv[] = {"XACK", queue, kGroup, message_id};
    std::lock_guard<std::mutex> lock(handle->io);
    redis_print_reply(command(handle, 4, argv));
    return 0;
}

namespace qb {

redisReply* redis_run(redis_stream_handle* h, int argc, const char** argv, const size_t* lens) {
    std::lock_guard<std::mutex> lock(h->io);
    return command(h, argc, argv, lens);
}

redisReply* redis_run_blocking(redis_stream_handle* h, int argc, const char** argv) {
    std::lock_guard<std::mutex> lock(h->io);
    return blocking_command(h, argc, argv);
}

void redis_run_deferred(redis_stream_handle* h, int argc, const char** argv) {
    std::lock_guard<std::mutex> lock(h->io);
    command_deferred(h, argc, argv);
}

bool redis_client_broken(redis_stream_handle* h) {
    std::lock_guard<std::mutex> lock(h->io);
    return !h->c || h->c->err != 0;
}

int redis_client_reconnect(redis_stream_handle* h) {
    std::lock_guard<std::mutex> lock(h->io);
    return reconnect_locked(h);
}

void redis_client_block_sigpipe_on_this_thread() {
    sigset_t pipe;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    t_sigpipe_blocked = pthread_sigmask(SIG_BLOCK, &pipe, nullptr) == 0;
}

void redis_client_interrupt(redis_stream_handle* h) {
    std::lock_guard<std::mutex> lock(h->ctx_lock);
    h->closing = true;
    // Only a read is cut short: an answer being appended must still land.
    if (h->reading && h->fd >= 0) shutdown(h->fd, SHUT_RDWR);
}

}  // namespace qb

extern "C" {

QB_API Redis_Client redis_client_init(void) {
    auto* h = new (std::nothrow) redis_stream_handle;
    if (!h) return nullptr;
    {
        Param host("--mq-redis-host");
        Param port("--mq-redis-port");
        h->host = host.value ? host.value : "localhost";
        const char* port_text = port.value ? port.value : "6379";
        h->port = atoi(port_text);
        LOGD(TAG, "Init with host=%s port=%s", h->host.c_str(), port_text);
    }
    for (int retry = kConnectRetries;; --retry) {
        redisContext* c = redisConnectWithTimeout(h->host.c_str(), h->port, kConnectTimeout);
        if (c && !c->err) {
            LOGD(TAG, "Connection %s %d success", h->host.c_str(), h->port);
            h->c = c;
            h->fd = c->fd;
            return h;
        }
        if (!c) {
            LOGE(TAG, "Connection error: can't allocate redis context");
            delete h;
            return nullptr;
        }
        LOGE(TAG, "[Retry left=%d] Connection %s %d error: %s", retry, h->host.c_str(), h->port, c->errstr);
        redisFree(c);
        if (retry <= 0) {
            LOGE(TAG, "Failed to connect redis, exit");
            delete h;
            exit(-1);
        }
        os_sleep(1);
    }
}

QB_API void redis_client_deinit(Redis_Client client) {
    auto* h = static_cast<redis_stream_handle*>(client);
    if (!h) return;
    if (h->c) redisFree(h->c);
    delete h;
}

QB_API int redis_client_create_recv_group(Redis_Client client) {
    return create_group(client, "--stream-recv-queue");
}

QB_API int redis_client_create_send_group(Redis_Client client) {
    return create_group(client, "--stream-send-queue");
}

QB_API int redis_client_recv_data(Redis_Client client, char** port_name, char** recv_data, char** recv_uuid) {
    auto* h = static_cast<redis_stream_handle*>(client);
    if (!h) {
        LOGE(TAG, "Null handle");
        return -1;
    }
    char* node = node_id();
    Param stream("--stream-recv-queue");
    if (missing(node, "--stream-node-id/--node-id") || missing(stream.value, "--stream-recv-queue")) {
        free(node);
        return -1;
    }
    const char* argv[] = {"XREADGROUP", "GROUP", kGroup, node, "COUNT", "1", "BLOCK", "60000", "STREAMS",
                          stream.value, ">"};
    std::lock_guard<std::mutex> lock(h->io);
    redisReply* reply = blocking_command(h, 11, argv);
    free(node);
    if (!reply) return 0;

    qb::StreamEntry entry;
    int type = 0;
    switch (qb::parse_read_reply(reply, &entry, &type)) {
        case qb::ReadResult::kEntry: {
            // Acknowledged on read, before the caller handles it: the
            // platform's delivery is at most once. Its reply is read with the
            // next command, so the caller need not wait for it.
            const char* ack[] = {"XACK", entry.stream, kGroup, entry.entry_id};
            command_deferred(h, 4, ack);
            if (port_name && recv_data && entry.port_name) {
                *port_name = entry.port_name;
                *recv_data = entry.data;
                entry.port_name = entry.data = nullptr;
            }
            if (recv_uuid && entry.request_id) {
                *recv_uuid = entry.request_id;
                entry.request_id = nullptr;
            }
            entry.release();
            break;
        }
        case qb::ReadResult::kNil:
            break;
        case qb::ReadResult::kUnknown:
            LOGD(TAG, "redis unknown reply type = %d", type);
            break;
    }
    redis_print_reply(reply);
    return 0;
}

QB_API int redis_client_send_data(Redis_Client client, char* request_id, char* port_name, char* port_data, char* type,
                                  int debug) {
    auto* h = static_cast<redis_stream_handle*>(client);
    if (!h) {
        LOGE(TAG, "Null handle");
        return -1;
    }
    if (missing(request_id, "request id") || missing(port_name, "port name") || missing(port_data, "port data") ||
        missing(type, "message type"))
        return -1;
    Param stream("--stream-send-queue");
    char* node = node_id();
    if (missing(stream.value, "--stream-send-queue") || missing(node, "--stream-node-id/--node-id")) {
        free(node);
        return -1;
    }
    const char* extra = debug ? "{\"global\": {\"debug\": true}}" : "{}";
    const char* argv[] = {"XADD",       stream.value, "MAXLEN", "~",       "2000",    "*",
                          "node_id",    node,         "request_id", request_id, "type", type,
                          "extra",      extra,        port_name, port_data, "success", "true"};
    const int argc = static_cast<int>(sizeof argv / sizeof argv[0]);
    std::lock_guard<std::mutex> lock(h->io);
    redisReply* reply = command(h, argc, argv);
    if (!reply && reconnect_locked(h) == 0) reply = command(h, argc, argv);
    int rc = 0;
    if (!reply) {
        LOGE(TAG, "Append to %s lost (%s): %s %s", stream.value, h->c ? h->c->errstr : "no connection", port_name,
             request_id);
        rc = -1;
    } else if (reply->type == REDIS_REPLY_ERROR) {
        LOGE(TAG, "Append to %s refused: %s", stream.value, reply->str ? reply->str : "");
        rc = -1;
    }
    redis_print_reply(reply);
    free(node);
    return rc;
}

QB_API int redis_client_get_info(Redis_Client client) {
    auto* h = static_cast<redis_stream_handle*>(client);
    if (!h) {
        LOGE(TAG, "Null handle");
        return -1;
    }
    const char* argv[] = {"info"};
    std::lock_guard<std::mutex> lock(h->io);
    redis_print_reply(command(h, 1, argv));
    return 0;
}

QB_API void redis_print_reply(struct redisReply* reply) {
    if (reply) freeReplyObject(reply);
}

}  // extern "C"
