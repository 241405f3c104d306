// Socket.IO session: one WebSocket client at a time, a ping clock of its own
// and, when enabled, a reconnection thread. Both threads are joined by Close.
// A replaced client is stopped before its successor starts, and hooks from a
// client that is no longer the session's current one are ignored.
#include <pthread.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <new>

#include "net/socketio/socketio_internal.h"
#include "sdk_logger.h"
#include "sdk_os.h"

namespace {
constexpr const char* TAG = "SOCKETIO_CLIENT";
constexpr int kDefaultPingInterval = 10000;
constexpr int kAttemptWaitMs = 1000;
constexpr int kDelayStep = 1000;

// The session whose application hook runs on this thread, if any.
thread_local const sio_context* t_hook_session = nullptr;

struct HookScope {
    const sio_context* outer;
    explicit HookScope(const sio_context* ctx) : outer(t_hook_session) { t_hook_session = ctx; }
    ~HookScope() { t_hook_session = outer; }
};

// Caller holds mu. Until start_client records a new client, its hooks are the only ones that can run.
bool is_current(sio_context* ctx, WS_Handle client) {
    return ctx->client == client || (ctx->starting && !ctx->client);
}

void on_data(WS_Handle client, int is_binary, char* data, int length, void* user) {
    auto* ctx = static_cast<sio_context*>(user);
    {
        std::lock_guard<std::mutex> lock(ctx->mu);
        if (!is_current(ctx, client)) return;
    }
    if (is_binary) {
        LOGD(TAG, "[SIoC] get binary length: %u\n", static_cast<unsigned>(length));
        return;
    }
    LOGD(TAG, "---> websocket received message:%s", data);
    engine_io_process(ctx, reinterpret_cast<engine_io_packet*>(data), length);
}

void on_open(WS_Handle client, void* user) {
    auto* ctx = static_cast<sio_context*>(user);
    LOGD(TAG, "WS Open");
    std::lock_guard<std::mutex> lock(ctx->mu);
    if (!is_current(ctx, client)) return;
    ctx->ws = client;
    ctx->websocket_connected = 1;
    ctx->cur_time = os_time_now_ms();  // the first ping is due one interval after opening
}

void on_close(WS_Handle client, void* user) {
    auto* ctx = static_cast<sio_context*>(user);
    LOGD(TAG, "WS Close");
    {
        std::lock_guard<std::mutex> lock(ctx->mu);
        if (!is_current(ctx, client)) return;
        ctx->websocket_connected = 0;
        ctx->ws = nullptr;
    }
    qb::sio::disconnected(ctx);
}

// Not under mu: resolving the host may block, and emits and pings must not wait for it.
bool start_client(sio_context* ctx) {
    auto& b = ctx->reconnect.backup;
    {
        std::lock_guard<std::mutex> lock(ctx->mu);
        ctx->starting = true;
    }
    WS_Handle client = WS_Client_Start(b.host, b.port, b.url, b.header_json, b.param, ctx);
    std::lock_guard<std::mutex> lock(ctx->mu);
    ctx->client = client;
    ctx->starting = false;
    return client != nullptr;
}

// Detached first, so hooks it still runs while stopping are ignored.
void stop_client(sio_context* ctx) {
    WS_Handle old;
    {
        std::lock_guard<std::mutex> lock(ctx->mu);
        old = ctx->client;
        ctx->client = nullptr;
        ctx->ws = nullptr;
        ctx->websocket_connected = 0;
    }
    if (old) WS_Client_Stop(old);
}

void ping_clock(sio_context* ctx) {
    pthread_setname_np(pthread_self(), "socketio ping");
    std::unique_lock<std::mutex> lock(ctx->mu);
    while (!ctx->closing) {
        const unsigned elapsed = os_time_now_ms() - ctx->cur_time;
        const unsigned interval = static_cast<unsigned>(ctx->ping_interval);
        if (elapsed > interval) {
            if (ctx->websocket_connected && ctx->ws) {
                LOGD(TAG, "Send PING");
                WS_Client_Send_String(ctx->ws, const_cast<char*>("2"));
            }
            ctx->cur_time = os_time_now_ms();
            continue;
        }
        ctx->wake.wait_for(lock, std::chrono::milliseconds(interval - elapsed + 1));
    }
}

// Sleeps ms unless Close ends the thread first; false then.
bool pause(sio_context* ctx, std::unique_lock<std::mutex>& lock, int ms) {
    ctx->wake.wait_for(lock, std::chrono::milliseconds(std::max(ms, 0)),
                       [&] { return !ctx->reconnect.thread_running; });
    return ctx->reconnect.thread_running;
}

void reconnect_loop(sio_context* ctx) {
    pthread_setname_np(pthread_self(), "socketio reconn");
    auto& r = ctx->reconnect;
    const sio_reconnect& s = r.settings;
    bool gave_up = false;
    std::unique_lock<std::mutex> lock(ctx->mu);
    r.cur_delay = s.delay;
    r.cur_attempts = 0;
    r.cur_times = 0;
    while (r.thread_running) {
        ctx->wake.wait(lock, [&] { return r.trigger || !r.thread_running; });
        if (!r.thread_running) break;
        r.trigger = 0;
        lock.unlock();
        LOGD(TAG, "SocketIO Start reconnect process");
        qb::sio::report(ctx, nullptr, "reconnecting", nullptr, 0);
        stop_client(ctx);
        start_client(ctx);
        lock.lock();
        if (!pause(ctx, lock, kAttemptWaitMs)) break;
        if (ctx->websocket_connected) {
            r.cur_delay = s.delay;
            r.cur_attempts = 0;
            r.cur_times = 0;
            continue;
        }
        LOGD(TAG, "retry after: %d ms", r.cur_delay);
        if (!pause(ctx, lock, r.cur_delay)) break;
        r.cur_times = static_cast<int>(std::min<long long>(INT_MAX, 1LL * r.cur_times + std::max(r.cur_delay, 0)));
        if (1LL * r.cur_delay + kDelayStep <= s.delay_max) r.cur_delay += kDelayStep;
        if (r.cur_attempts++ > s.attempts || r.cur_times > s.timeout) {
            gave_up = true;
            break;
        }
        if (ctx->websocket_connected) continue;  // counts go on if this connection drops again
        r.trigger = 1;
    }
    lock.unlock();
    if (!gave_up) {
        LOGD(TAG, "Exit socketio reconnect thread");
        SIO_Client_Stop(ctx);
        return;
    }
    LOGE(TAG, "SocketIO Client On Websocket connect failed");
    // Stopped first, so an emit from the "connect_error" hook on is refused.
    SIO_Client_Stop(ctx);
    qb::sio::report(ctx, nullptr, "reconnect_failed", nullptr, 0);
    qb::sio::report(ctx, nullptr, "connect_error", nullptr, 0);
}

bool copy_text(const char* text, char** out) {
    *out = text ? strdup(text) : nullptr;
    return !text || *out;
}

void free_session(sio_context* ctx) {
    for (auto& level : ctx->buffer)
        for (auto& slot : level) free(slot.buffer);
    auto& b = ctx->reconnect.backup;
    free(b.host);
    free(b.url);
    free(b.header_json);
    delete b.param;
    free(ctx->namespace_);
    delete ctx;
}

}  // namespace

namespace qb::sio {

void disconnected(sio_context* ctx) {
    report(ctx, nullptr, "disconnect", nullptr, 0);
    {
        std::lock_guard<std::mutex> lock(ctx->mu);
        ctx->reconnect.trigger = 1;
    }
    ctx->wake.notify_all();
}

int send_text(sio_context* ctx, const char* text) {
    std::lock_guard<std::mutex> lock(ctx->mu);
    return WS_Client_Send_String(ctx->ws, const_cast<char*>(text));
}

void set_ping_interval(sio_context* ctx, int ms) {
    {
        std::lock_guard<std::mutex> lock(ctx->mu);
        ctx->ping_interval = ms;
    }
    ctx->wake.notify_all();
}

void report(sio_context* ctx, char* namespace_, const char* event, sio_payload* payloads, int count) {
    if (!ctx->callback || !ctx->callback->onevent) return;
    HookScope scope(ctx);
    ctx->callback->onevent(ctx, namespace_, const_cast<char*>(event), payloads, count, ctx->callback->user);
}

void report_ack(sio_context* ctx, char* namespace_, char* event, sio_payload* payloads, int count, int id) {
    if (!ctx->callback || !ctx->callback->onack) return;
    HookScope scope(ctx);
    ctx->callback->onack(ctx, namespace_, event, payloads, count, id, ctx->callback->user);
}

}  // namespace qb::sio

extern "C" {

QB_API SIO_Handle SIO_Client_Init(char* host, int port, char* url, char* header_json, char* namespace_,
                                  sio_reconnect reconnect) {
    if (!host || (namespace_ && strnlen(namespace_, SIO_NAMESPACE_MAX + 1) > SIO_NAMESPACE_MAX)) {
        LOGE(TAG, "SIO init failed: no host, or a namespace longer than %d characters", SIO_NAMESPACE_MAX);
        return nullptr;
    }
    auto* ctx = new (std::nothrow) sio_context();
    if (!ctx) return nullptr;
    auto& b = ctx->reconnect.backup;
    b.param = new (std::nothrow) ws_client_cb_param{on_data, on_open, on_close, nullptr, nullptr, ctx};
    b.port = port;
    ctx->reconnect.settings = reconnect;
    ctx->ping_interval = kDefaultPingInterval;
    if (!b.param || !copy_text(host, &b.host) || !copy_text(url ? url : DEFAULT_URL, &b.url) ||
        !copy_text(header_json, &b.header_json) || !copy_text(namespace_, &ctx->namespace_)) {
        LOGE(TAG, "SIO init failed: out of memory");
        free_session(ctx);
        return nullptr;
    }
    return ctx;
}

QB_API int SIO_Client_Start(SIO_Handle session, sio_client_cb_param* callback) {
    auto* ctx = static_cast<sio_context*>(session);
    if (!ctx) {
        LOGE(TAG, "Null handle");
        return -1;
    }
    if (ctx->started) {
        LOGE(TAG, "SIO client already started");
        return -1;
    }
    ctx->started = true;
    auto& b = ctx->reconnect.backup;
    ctx->callback = callback;
    LOGD(TAG, "Start socketio client with: %s%s:%d header:%s", b.host, b.url, b.port,
         b.header_json ? b.header_json : "");
    {
        std::lock_guard<std::mutex> lock(ctx->mu);
        ctx->ping_interval = kDefaultPingInterval;
        ctx->cur_time = os_time_now_ms();
    }
    if (!start_client(ctx)) {
        // A first client that could not even be created reports no close: ask for a reconnection here.
        std::lock_guard<std::mutex> lock(ctx->mu);
        ctx->reconnect.trigger = 1;
    }
    try {
        ctx->ping_thread = std::thread(ping_clock, ctx);
        if (ctx->reconnect.settings.enable) {
            ctx->reconnect.thread_running = 1;
            ctx->reconnect_thread = std::thread(reconnect_loop, ctx);
            return 0;
        }
    } catch (const std::exception&) {
        ctx->reconnect.thread_running = 0;
        LOGE(TAG, "Thread Create failed");
        return -1;
    }
    return ctx->websocket_connected ? 0 : -1;
}

QB_API int SIO_Client_Stop(SIO_Handle session) {
    auto* ctx = static_cast<sio_context*>(session);
    if (!ctx) {
        LOGE(TAG, "Null handle");
        return -1;
    }
    LOGD(TAG, "Stop sio client");
    ctx->stopped = 1;
    return 0;
}

QB_API int SIO_Client_Close(SIO_Handle session) {
    auto* ctx = static_cast<sio_context*>(session);
    if (!ctx) {
        LOGE(TAG, "Null handle");
        return -1;
    }
    if (t_hook_session == ctx) {
        LOGE(TAG, "SIO_Client_Close called from a session hook");
        return -1;
    }
    {
        std::lock_guard<std::mutex> lock(ctx->mu);
        ctx->reconnect.thread_running = 0;
        ctx->closing = true;
    }
    ctx->wake.notify_all();
    if (ctx->reconnect_thread.joinable())
        ctx->reconnect_thread.join();  // it stops the session as it ends
    else
        SIO_Client_Stop(ctx);
    if (ctx->ping_thread.joinable()) ctx->ping_thread.join();
    stop_client(ctx);
    free_session(ctx);
    LOGD(TAG, "SIO Exited.");
    return 0;
}

}  // extern "C"
