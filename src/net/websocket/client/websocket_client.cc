// WebSocket client on libwebsockets: one context and one service thread per
// connection. `established` changes only under tx_mutex, and senders request
// writes through lws_cancel_service while holding it, so a send can never
// touch a connection that the service thread is tearing down.
#include "websocket_client.h"

#include <json-c/json.h>
#include <libwebsockets.h>
#include <pthread.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <thread>

#include "foundation/thread_name.h"
#include "net/websocket/server/ws_common.h"
#include "sdk_logger.h"
#include "sdk_os.h"
#include "websocket_server.h"

namespace {
constexpr const char* TAG = "WEBSOCKET_CLIENT";
constexpr size_t RX_BUFFER_SIZE = 100000;
constexpr size_t RX_GROW_STEP = 1000000;
constexpr size_t kMinHeaderSpace = 500;

struct ws_context {
    lws* web_socket;
    lws_context* lws_ctx;
    std::atomic<int> disconnected;
    int established;  // guarded by tx_mutex
    bool want_write;  // guarded by tx_mutex
    size_t queued;    // payload bytes in tx_list, guarded by tx_mutex
    bool overflowed;  // guarded by tx_mutex: closing for a full queue
    char* header_json;
    ws_client_cb_param* callback;
    os_mutex tx_mutex;
    list_head tx_list;
    void* user_data;
    lws_protocols* protocols;
    std::atomic<int> stop;
    std::thread thread;
    std::atomic<std::thread::id> service_id;
};

struct ws_context_per_session_data {
    qb::ws::rx_info rx;
};

bool has_crlf(const char* s) { return strpbrk(s, "\r\n") != nullptr; }

int append_headers(ws_context* ctx, char** p, size_t space) {
    if (space < kMinHeaderSpace) {
        LOGE(TAG, "HS Length too small");
        return 1;
    }
    if (!ctx->header_json) return 0;
    LOGV(TAG, "Add headers");
    json_object* root = json_tokener_parse(ctx->header_json);
    if (!root) return 0;
    if (json_object_is_type(root, json_type_object)) {
        json_object_object_foreach(root, key, val) {
            const char* text = val ? json_object_get_string(val) : "";
            if (!text || has_crlf(key) || has_crlf(text)) continue;
            LOGV(TAG, "key=%s val=%s", key, text);
            int n = snprintf(*p, space, "%s: %s\r\n", key, text);
            if (n < 0 || static_cast<size_t>(n) >= space) {
                **p = 0;  // did not fit: leave it out
                continue;
            }
            *p += n;
            space -= static_cast<size_t>(n);
        }
    }
    json_object_put(root);
    return 0;
}

int client_receive(lws* wsi, ws_context* ctx, ws_context_per_session_data* pss, void* in, size_t len) {
    auto res = qb::ws::rx_append(&pss->rx, in, len, lws_is_first_fragment(wsi), len + RX_BUFFER_SIZE, RX_GROW_STEP);
    if (res != qb::ws::RxResult::ok) {
        LOGE(TAG, "Message larger than %d bytes or out of memory, closing connection", WS_Get_Max_Message_Size());
        static const char reason[] = "message too large";
        lws_close_reason(wsi, LWS_CLOSE_STATUS_MESSAGE_TOO_LARGE, (unsigned char*)reason, sizeof reason - 1);
        return -1;
    }
    if (!lws_is_final_fragment(wsi)) return 0;
    ctx->callback->callback(ctx, lws_frame_is_binary(wsi) ? 1 : 0, pss->rx.buffer, static_cast<int>(pss->rx.cur_len),
                            ctx->user_data);
    qb::ws::rx_reset(&pss->rx);
    return 0;
}

int client_writable(lws* wsi, ws_context* ctx) {
    int rc = 0;
    os_mutex_lock(&ctx->tx_mutex);
    if (!list_empty(&ctx->tx_list)) {
        auto* tx = list_first_entry(&ctx->tx_list, qb::ws::tx_data, node);
        list_del(&tx->node);
        ctx->queued -= static_cast<size_t>(tx->length);
        int n = lws_write(wsi, tx->data + LWS_PRE, static_cast<size_t>(tx->length),
                          tx->binary ? LWS_WRITE_BINARY : LWS_WRITE_TEXT);
        qb::ws::tx_free(tx);
        if (n < 0) rc = -1;
        else if (!list_empty(&ctx->tx_list)) lws_callback_on_writable(wsi);
    }
    os_mutex_unlock(&ctx->tx_mutex);
    return rc;
}

void connection_ended(ws_context* ctx, ws_context_per_session_data* pss, bool destroyed) {
    os_mutex_lock(&ctx->tx_mutex);
    ctx->established = 0;
    if (destroyed) ctx->web_socket = nullptr;
    os_mutex_unlock(&ctx->tx_mutex);
    if (pss) qb::ws::rx_reset(&pss->rx);
    if (ctx->disconnected.exchange(1) == 0 && ctx->callback->onclose) ctx->callback->onclose(ctx, ctx->user_data);
}

int client_event(lws* wsi, lws_callback_reasons reason, void* user, void* in, size_t len) {
    auto* ctx = static_cast<ws_context*>(lws_context_user(lws_get_context(wsi)));
    if (!ctx) return -1;
    auto* pss = static_cast<ws_context_per_session_data*>(user);
    switch (reason) {
    case LWS_CALLBACK_CLIENT_ESTABLISHED:
        LOGV(TAG, "LWS_CALLBACK_CLIENT_ESTABLISHED");
        os_mutex_lock(&ctx->tx_mutex);
        ctx->established = 1;
        os_mutex_unlock(&ctx->tx_mutex);
        if (ctx->callback->onopen) ctx->callback->onopen(ctx, ctx->user_data);
        break;
    case LWS_CALLBACK_CLIENT_APPEND_HANDSHAKE_HEADER:
        return append_headers(ctx, static_cast<char**>(in), len);
    case LWS_CALLBACK_CLIENT_RECEIVE:
        if (pss) return client_receive(wsi, ctx, pss, in, len);
        break;
    case LWS_CALLBACK_CLIENT_WRITEABLE:
        return client_writable(wsi, ctx);
    case LWS_CALLBACK_EVENT_WAIT_CANCELLED:
        os_mutex_lock(&ctx->tx_mutex);
        if (ctx->overflowed && ctx->established && ctx->web_socket) qb::ws::kill_connection(ctx->web_socket);
        else if (ctx->want_write && ctx->established && ctx->web_socket) lws_callback_on_writable(ctx->web_socket);
        ctx->want_write = false;
        os_mutex_unlock(&ctx->tx_mutex);
        break;
    case LWS_CALLBACK_CLIENT_CLOSED:
        LOGV(TAG, "LWS_CALLBACK_CLOSED");
        [[fallthrough]];
    case LWS_CALLBACK_CLIENT_CONNECTION_ERROR:
        LOGV(TAG, "LWS_CALLBACK_CLIENT_CONNECTION_ERROR");
        [[fallthrough]];
    case LWS_CALLBACK_WSI_DESTROY:
        LOGV(TAG, "LWS_CALLBACK_WSI_DESTROY");
        connection_ended(ctx, pss, reason == LWS_CALLBACK_WSI_DESTROY);
        break;
    default:
        break;
    }
    return 0;
}

void service_thread(ws_context* ctx) {
    qb::name_thread(pthread_self(), "websocket_client_thread");
    ctx->service_id = std::this_thread::get_id();
    while (!ctx->disconnected) {
        lws_service(ctx->lws_ctx, 1000);
        if (!ctx->disconnected && ctx->callback->onloop) ctx->callback->onloop(ctx->user_data);
    }
    // Unpublished first, so no sender or Stop wakes a context being destroyed.
    os_mutex_lock(&ctx->tx_mutex);
    lws_context* lc = ctx->lws_ctx;
    ctx->lws_ctx = nullptr;
    os_mutex_unlock(&ctx->tx_mutex);
    lws_context_destroy(lc);
    LOGV(TAG, "WS Client Thread exit.");
    os_mutex_lock(&ctx->tx_mutex);
    qb::ws::tx_free_all(&ctx->tx_list);
    os_mutex_unlock(&ctx->tx_mutex);
    ctx->stop = 1;
}

// Under tx_mutex, connection open: false when the client is closing for a
// full queue or length more bytes would overfill it; then the queue is
// dropped and the close set in motion.
bool queue_admits(ws_context* ctx, size_t length) {
    const auto admit = qb::ws::tx_admit(&ctx->tx_list, &ctx->queued, &ctx->overflowed, length);
    if (admit != qb::ws::Admit::overflowed) return admit == qb::ws::Admit::ok;
    LOGE(TAG, "Send queue over %zu bytes (peer not reading), closing the connection", qb::ws::max_send_queue());
    if (std::this_thread::get_id() == ctx->service_id.load()) {
        qb::ws::kill_connection(ctx->web_socket);
    } else {
        ctx->want_write = true;
        lws_cancel_service(ctx->lws_ctx);
    }
    return false;
}

void free_client(ws_context* ctx) {
    os_free(ctx->protocols);
    os_mutex_deinit(&ctx->tx_mutex);
    delete ctx;
}

}  // namespace

extern "C" {

QB_API WS_Handle WS_Client_Start(char* host, int port, char* url, char* header_json, ws_client_cb_param* param,
                                 void* user_data) {
    if (!host || !param || !param->callback || port <= 0 || port > 65535) {
        LOGE(TAG, "websocket Create Failed");
        return nullptr;
    }
    auto* ctx = new (std::nothrow) ws_context();
    if (!ctx) return nullptr;
    ctx->callback = param;
    ctx->user_data = user_data;
    ctx->header_json = header_json;
    os_mutex_init(&ctx->tx_mutex);
    INIT_LIST_HEAD(&ctx->tx_list);
    ctx->protocols = qb::ws::make_protocols(client_event, ctx, sizeof(ws_context_per_session_data), RX_BUFFER_SIZE);
    if (!ctx->protocols) {
        free_client(ctx);
        return nullptr;
    }
    ctx->lws_ctx = qb::ws::create_context(ctx->protocols, CONTEXT_PORT_NO_LISTEN, ctx);

    if (ctx->lws_ctx) {
        lws_client_connect_info ci;
        memset(&ci, 0, sizeof ci);
        ci.context = ctx->lws_ctx;
        ci.address = host;
        ci.port = port;
        ci.path = url && *url ? url : "/";
        ci.host = host;
        ci.origin = "origin";
        ci.protocol = "data_trans";
        ci.pwsi = &ctx->web_socket;
        if (!lws_client_connect_via_info(&ci)) ctx->web_socket = nullptr;
    }
    if (!ctx->lws_ctx || !ctx->web_socket) {
        LOGE(TAG, "websocket Create Failed");
        if (ctx->lws_ctx) lws_context_destroy(ctx->lws_ctx);
        free_client(ctx);
        return nullptr;
    }
    LOGV(TAG, "websocket inited.");
    try {
        ctx->thread = std::thread(service_thread, ctx);
    } catch (...) {
        LOGE(TAG, "Thread Create failed");
        ctx->disconnected = 1;
        lws_context_destroy(ctx->lws_ctx);
        free_client(ctx);
        return nullptr;
    }
    return ctx;
}

QB_API int WS_Client_Stop(WS_Handle client) {
    auto* ctx = static_cast<ws_context*>(client);
    if (!ctx) {
        LOGE(TAG, "No ctx parameter!");
        return -1;
    }
    if (std::this_thread::get_id() == ctx->service_id.load()) {
        LOGE(TAG, "WS_Client_Stop called from a client hook");
        return -1;
    }
    ctx->disconnected = 1;
    os_mutex_lock(&ctx->tx_mutex);
    if (ctx->lws_ctx) lws_cancel_service(ctx->lws_ctx);
    os_mutex_unlock(&ctx->tx_mutex);
    if (ctx->thread.joinable()) ctx->thread.join();
    free_client(ctx);
    LOGV(TAG, "websocket freed.");
    return 0;
}

QB_API int WS_Client_Connected(WS_Handle client) {
    auto* ctx = static_cast<ws_context*>(client);
    if (!ctx) {
        LOGE(TAG, "No ctx");
        return -1;
    }
    os_mutex_lock(&ctx->tx_mutex);
    int up = ctx->established;
    os_mutex_unlock(&ctx->tx_mutex);
    return up;
}

QB_API int WS_Client_Send(WS_Handle client, char* data, int length, int flag, int block) {
    (void)block;
    auto* ctx = static_cast<ws_context*>(client);
    if (!ctx) {
        LOGE(TAG, "No ctx parameter!, send=%.*s", data && length > 0 ? length : 0, data ? data : "");
        return -1;
    }
    if (length < 0 || (length > 0 && !data)) {
        LOGE(TAG, "Send of %d bytes refused", length);
        return -1;
    }
    // Checked before copying, so a peer that stopped reading costs nothing more.
    os_mutex_lock(&ctx->tx_mutex);
    const bool open = ctx->established && ctx->lws_ctx;
    const bool admitted = open && queue_admits(ctx, static_cast<size_t>(length));
    os_mutex_unlock(&ctx->tx_mutex);
    if (!open) {
        LOGE(TAG, "Client not connected");
        return -1;
    }
    if (!admitted) return -1;
    qb::ws::tx_data* tx = qb::ws::tx_new(data, length, flag);
    if (!tx) {
        LOGE(TAG, "Send of %d bytes refused", length);
        return -1;
    }
    os_mutex_lock(&ctx->tx_mutex);
    if (!ctx->established || !ctx->lws_ctx || !queue_admits(ctx, static_cast<size_t>(tx->length))) {
        const bool closed = !ctx->established || !ctx->lws_ctx;
        os_mutex_unlock(&ctx->tx_mutex);
        qb::ws::tx_free(tx);
        if (closed) LOGE(TAG, "Client not connected");
        return -1;
    }
    list_add_tail(&tx->node, &ctx->tx_list);
    ctx->queued += static_cast<size_t>(tx->length);
    if (std::this_thread::get_id() == ctx->service_id.load()) {
        lws_callback_on_writable(ctx->web_socket);  // from a hook: no wake-up needed
    } else if (!ctx->want_write) {
        ctx->want_write = true;  // one wake-up serves every send queued before it runs
        lws_cancel_service(ctx->lws_ctx);
    }
    os_mutex_unlock(&ctx->tx_mutex);
    return 0;
}

QB_API int WS_Client_Send_Binary(WS_Handle client, char* data, int length) {
    return WS_Client_Send(client, data, length, 1, 0);
}

QB_API int WS_Client_Send_String(WS_Handle client, char* str) {
    if (!str) return WS_Client_Send(client, str, -1, 0, 0);
    return WS_Client_Send(client, str, static_cast<int>(strnlen(str, INT32_MAX)), 0, 0);
}

}  // extern "C"
