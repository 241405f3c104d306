// WebSocket server on libwebsockets: one context, one service thread.
// Sessions live in a process-wide set so that WS_Server_Send (which gets only
// the session) can refuse one that has closed; writable requests are made on
// the service thread after lws_cancel_service, as libwebsockets requires.
#include "websocket_server.h"

#include <libwebsockets.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <thread>
#include <unordered_set>

#include "net/websocket/server/websocket_server_internal.h"
#include "net/websocket/server/ws_common.h"
#include "sdk_logger.h"
#include "sdk_os.h"

namespace {
constexpr const char* TAG = "WEBSOCKET_SERVER";
constexpr size_t RX_BUFFER_SIZE = 4 * 1024;
constexpr size_t RX_GROW_STEP = 0x80000;
constexpr int kNameLen = 100;
static_assert(LWS_PRE == qb::ws::kHeadroom, "libwebsockets headroom changed");

struct ws_context {
    ws_server_cb_param* callback;
    lws_context* lws;
    lws_protocols* protocols;
    std::atomic<int> thread_running;
    std::atomic<int> thread_stopped;
    std::thread thread;
    std::atomic<std::thread::id> service_id;
    std::mutex lws_lock;  // guards lws between Stop and the end of the service loop, and thread at Start
    int port;
    // A stop asked for from a hook: the service thread finishes it and frees the server.
    bool release_on_exit = false;  // service thread only
    void (*on_stopped)(void*) = nullptr;
    void* on_stopped_arg = nullptr;
};

struct ws_context_per_session_data {
    lws* web_socket;
    ws_context* server;
    int established;
    bool want_write;  // guarded by g_sessions_lock
    bool want_close;  // guarded by g_sessions_lock
    qb::ws::rx_info rx;
    os_mutex tx_mutex;
    list_head tx_list;
    size_t queued;    // payload bytes in tx_list, guarded by tx_mutex
    bool overflowed;  // guarded by tx_mutex: closing for a full queue
};

// Live sessions of every server; guards membership and want_write.
os_mutex g_sessions_lock = {PTHREAD_MUTEX_INITIALIZER};
std::unordered_set<ws_context_per_session_data*>& live_sessions() {
    static auto* set = new std::unordered_set<ws_context_per_session_data*>();
    return *set;
}

void session_open(lws* wsi, ws_context* ctx, ws_context_per_session_data* pss) {
    pss->established = 1;
    pss->web_socket = wsi;
    pss->server = ctx;
    INIT_LIST_HEAD(&pss->tx_list);
    os_mutex_init(&pss->tx_mutex);
    pss->queued = 0;
    pss->overflowed = false;
    pss->want_close = false;
    // No reverse DNS here: it would stall every session on the service thread.
    char ip[kNameLen] = {0};
    lws_get_peer_simple(wsi, ip, sizeof ip);
    LOGD(TAG, "Connection established from name=%s IP=%s", ip, ip);
    os_mutex_lock(&g_sessions_lock);
    live_sessions().insert(pss);
    os_mutex_unlock(&g_sessions_lock);
    if (ctx->callback->onopen) ctx->callback->onopen(pss);
}

void session_destroy(ws_context* ctx, ws_context_per_session_data* pss) {
    os_mutex_lock(&g_sessions_lock);
    live_sessions().erase(pss);
    os_mutex_unlock(&g_sessions_lock);
    pss->established = 0;
    pss->web_socket = nullptr;
    os_mutex_lock(&pss->tx_mutex);
    qb::ws::tx_free_all(&pss->tx_list);
    os_mutex_unlock(&pss->tx_mutex);
    // A message cut off by the close is dropped without a callback.
    qb::ws::rx_reset(&pss->rx);
    if (ctx->callback->onclose) ctx->callback->onclose(pss);
    os_mutex_deinit(&pss->tx_mutex);
    LOGD(TAG, "Server Session close");
}

int session_receive(lws* wsi, ws_context* ctx, ws_context_per_session_data* pss, void* in, size_t len) {
    auto res = qb::ws::rx_append(&pss->rx, in, len, lws_is_first_fragment(wsi), RX_BUFFER_SIZE, RX_GROW_STEP);
    if (res != qb::ws::RxResult::ok) {
        LOGE(TAG, "Message larger than %d bytes or out of memory, closing session", WS_Get_Max_Message_Size());
        static const char reason[] = "message too large";
        lws_close_reason(wsi, LWS_CLOSE_STATUS_MESSAGE_TOO_LARGE, (unsigned char*)reason, sizeof reason - 1);
        return -1;
    }
    if (!lws_is_final_fragment(wsi) || lws_remaining_packet_payload(wsi) > 0) return 0;
    ws_callback_type type = lws_frame_is_binary(wsi) ? WS_CB_BINARY : WS_CB_TEXT;
    ctx->callback->callback(pss, type, pss->rx.buffer, static_cast<int>(pss->rx.cur_len), ctx->callback->user);
    qb::ws::rx_reset(&pss->rx);
    return 0;
}

int session_writable(lws* wsi, ws_context_per_session_data* pss) {
    os_mutex_lock(&pss->tx_mutex);
    int rc = 0;
    if (!list_empty(&pss->tx_list)) {
        auto* tx = list_first_entry(&pss->tx_list, qb::ws::tx_data, node);
        list_del(&tx->node);
        pss->queued -= static_cast<size_t>(tx->length);
        int n = lws_write(wsi, tx->data + LWS_PRE, static_cast<size_t>(tx->length),
                          tx->binary ? LWS_WRITE_BINARY : LWS_WRITE_TEXT);
        qb::ws::tx_free(tx);
        if (n < 0) rc = -1;
        else if (!list_empty(&pss->tx_list)) lws_callback_on_writable(wsi);
    }
    os_mutex_unlock(&pss->tx_mutex);
    return rc;
}

// Wakes the service thread from another thread. A session can still be live
// while Stop has the context destroyed, so only a published context is woken.
void wake_service(ws_context_per_session_data* pss) {
    std::lock_guard<std::mutex> lock(pss->server->lws_lock);
    if (pss->server->lws) lws_cancel_service(pss->server->lws);
}

// Under g_sessions_lock and the session's tx_mutex: false when the session
// is closing for a full queue, or when length more bytes would overfill it,
// in which case its queue is dropped and the close is set in motion.
bool queue_admits(ws_context_per_session_data* pss, size_t length) {
    const auto admit = qb::ws::tx_admit(&pss->tx_list, &pss->queued, &pss->overflowed, length);
    if (admit != qb::ws::Admit::overflowed) return admit == qb::ws::Admit::ok;
    LOGE(TAG, "Send queue of a session over %zu bytes (peer not reading), closing the session",
         qb::ws::max_send_queue());
    if (std::this_thread::get_id() == pss->server->service_id) {
        qb::ws::kill_connection(pss->web_socket);
    } else {
        pss->want_close = true;
        wake_service(pss);
    }
    return false;
}

// Under g_sessions_lock: whether the session may take length more bytes.
bool admit(ws_context_per_session_data* pss, size_t length) {
    os_mutex_lock(&pss->tx_mutex);
    const bool ok = queue_admits(pss, length);
    os_mutex_unlock(&pss->tx_mutex);
    return ok;
}

// Service thread: turn the senders' wake-ups into writable requests.
void request_pending_writes(ws_context* ctx) {
    os_mutex_lock(&g_sessions_lock);
    for (auto* pss : live_sessions()) {
        if (pss->server != ctx) continue;
        if (pss->want_close) {
            pss->want_close = false;
            qb::ws::kill_connection(pss->web_socket);
        } else if (pss->want_write) {
            pss->want_write = false;
            lws_callback_on_writable(pss->web_socket);
        }
    }
    os_mutex_unlock(&g_sessions_lock);
}

int server_event(lws* wsi, lws_callback_reasons reason, void* user, void* in, size_t len) {
    auto* ctx = static_cast<ws_context*>(lws_context_user(lws_get_context(wsi)));
    if (!ctx) return -1;
    auto* pss = static_cast<ws_context_per_session_data*>(user);
    switch (reason) {
    case LWS_CALLBACK_ESTABLISHED:
        if (pss) session_open(wsi, ctx, pss);
        break;
    case LWS_CALLBACK_RECEIVE:
        if (pss && pss->established) return session_receive(wsi, ctx, pss, in, len);
        break;
    case LWS_CALLBACK_SERVER_WRITEABLE:
        if (pss && pss->established) return session_writable(wsi, pss);
        break;
    case LWS_CALLBACK_EVENT_WAIT_CANCELLED:
        request_pending_writes(ctx);
        break;
    case LWS_CALLBACK_WSI_DESTROY:
        if (pss && pss->established) session_destroy(ctx, pss);
        break;
    case LWS_CALLBACK_PROTOCOL_DESTROY:
        ctx->thread_stopped = 1;
        ctx->thread_running = 0;
        LOGD(TAG, "Server close");
        break;
    default:
        break;
    }
    return 0;
}

void service_loop(ws_context* ctx) {
    {
        // Waits until Start has stored the thread, which a stop from a hook detaches.
        std::lock_guard<std::mutex> lock(ctx->lws_lock);
        ctx->service_id = std::this_thread::get_id();
    }
    while (ctx->thread_running) lws_service(ctx->lws, 1000);
    // Unpublished first, so Stop never wakes a context being destroyed.
    lws_context* lc;
    {
        std::lock_guard<std::mutex> lock(ctx->lws_lock);
        lc = ctx->lws;
        ctx->lws = nullptr;
    }
    lws_context_destroy(lc);
    ctx->thread_stopped = 1;
    if (ctx->release_on_exit) {
        ctx->thread.detach();
        if (ctx->on_stopped) ctx->on_stopped(ctx->on_stopped_arg);
        os_free(ctx->protocols);
        delete ctx;
    }
}

}  // namespace

namespace qb::ws {

bool server_stop_after_hook(WS_Server_Handle server, void (*on_stopped)(void*), void* arg) {
    auto* ctx = static_cast<ws_context*>(server);
    if (!ctx || std::this_thread::get_id() != ctx->service_id.load()) return false;
    ctx->on_stopped = on_stopped;
    ctx->on_stopped_arg = arg;
    ctx->release_on_exit = true;
    ctx->thread_running = 0;
    return true;
}

}  // namespace qb::ws

extern "C" {

QB_API WS_Server_Handle WS_Server_Start(int port, ws_server_cb_param* param) {
    if (!param || !param->callback || port < 0 || port > 65535) {
        LOGE(TAG, "Websocket context create error");
        return nullptr;
    }
    auto* ctx = new (std::nothrow) ws_context();
    if (!ctx) return nullptr;
    ctx->callback = param;
    ctx->protocols = qb::ws::make_protocols(server_event, ctx, sizeof(ws_context_per_session_data), RX_BUFFER_SIZE);
    if (!ctx->protocols) {
        delete ctx;
        return nullptr;
    }
    ctx->lws = qb::ws::create_context(ctx->protocols, port, ctx);
    if (!ctx->lws) {
        LOGE(TAG, "Websocket context create error");
        os_free(ctx->protocols);
        delete ctx;
        return nullptr;
    }
    LOGD(TAG, "Websocket context create success");
    lws_vhost* vh = lws_get_vhost_by_name(ctx->lws, "default");
    ctx->port = vh ? lws_get_vhost_listen_port(vh) : port;
    ctx->thread_running = 1;
    ctx->thread_stopped = 0;
    try {
        std::lock_guard<std::mutex> lock(ctx->lws_lock);
        ctx->thread = std::thread(service_loop, ctx);
    } catch (...) {
        LOGE(TAG, "Thread Create failed");
        lws_context_destroy(ctx->lws);
        os_free(ctx->protocols);
        delete ctx;
        return nullptr;
    }
    return ctx;
}

QB_API int WS_Server_Stop(WS_Server_Handle server) {
    auto* ctx = static_cast<ws_context*>(server);
    if (!ctx) {
        LOGE(TAG, "No ctx parameter!");
        return -1;
    }
    if (std::this_thread::get_id() == ctx->service_id.load()) {
        LOGE(TAG, "WS_Server_Stop called from a server hook");
        return -1;
    }
    ctx->thread_running = 0;
    {
        std::lock_guard<std::mutex> lock(ctx->lws_lock);
        if (ctx->lws) lws_cancel_service(ctx->lws);
    }
    if (ctx->thread.joinable()) ctx->thread.join();
    os_free(ctx->protocols);
    delete ctx;
    return 0;
}

QB_API int WS_Server_Port(WS_Server_Handle server) {
    auto* ctx = static_cast<ws_context*>(server);
    return ctx ? ctx->port : -1;
}

QB_API int WS_Server_Send(void* session, char* data, int length, int flag, int block) {
    (void)block;
    auto* pss = static_cast<ws_context_per_session_data*>(session);
    if (!pss) {
        LOGE(TAG, "No ctx parameter!");
        return -1;
    }
    if (length < 0 || (length > 0 && !data)) {
        LOGE(TAG, "Send of %d bytes refused", length);
        return -1;
    }
    // Checked before copying, so a peer that stopped reading costs nothing more.
    os_mutex_lock(&g_sessions_lock);
    const bool live = live_sessions().count(pss) != 0;
    const bool admitted = live && admit(pss, static_cast<size_t>(length));
    os_mutex_unlock(&g_sessions_lock);
    if (!live) {
        LOGE(TAG, "Session is closed");
        return -1;
    }
    if (!admitted) return -1;
    qb::ws::tx_data* tx = qb::ws::tx_new(data, length, flag);
    if (!tx) {
        LOGE(TAG, "Send of %d bytes refused", length);
        return -1;
    }
    os_mutex_lock(&g_sessions_lock);
    if (!live_sessions().count(pss)) {
        os_mutex_unlock(&g_sessions_lock);
        qb::ws::tx_free(tx);
        LOGE(TAG, "Session is closed");
        return -1;
    }
    os_mutex_lock(&pss->tx_mutex);
    const bool fits = queue_admits(pss, static_cast<size_t>(tx->length));
    if (fits) {
        list_add_tail(&tx->node, &pss->tx_list);
        pss->queued += static_cast<size_t>(tx->length);
    }
    os_mutex_unlock(&pss->tx_mutex);
    if (!fits) {
        os_mutex_unlock(&g_sessions_lock);
        qb::ws::tx_free(tx);
        return -1;
    }
    if (std::this_thread::get_id() == pss->server->service_id) {
        // From a hook: already on the service thread, no wake-up needed.
        lws_callback_on_writable(pss->web_socket);
    } else if (!pss->want_write) {
        pss->want_write = true;  // one wake-up serves every send queued before it runs
        wake_service(pss);
    }
    os_mutex_unlock(&g_sessions_lock);
    return 0;
}

QB_API int WS_Server_Send_Binary(void* session, char* data, int length) {
    return WS_Server_Send(session, data, length, 1, 0);
}

QB_API int WS_Server_Send_String(void* session, char* str) {
    if (!str) return WS_Server_Send(session, str, -1, 0, 0);
    return WS_Server_Send(session, str, static_cast<int>(strnlen(str, INT32_MAX)), 0, 0);
}

}  // extern "C"
