// Stand-alone queue backend over the WebSocket server. The output session is
// guarded by one mutex held across store, clear and the whole send, so a send
// from another thread cannot address a session that is being destroyed.
#include "qb_mq_fake.h"

#include <json-c/json.h>

#include <algorithm>
#include <chrono>
#include <mutex>
#include <new>

#include "json_easy.h"
#include "net/websocket/server/websocket_server_internal.h"
#include "qb_mq_impl.h"
#include "runtime/mq_counters.h"
#include "sdk_logger.h"
#include "sdk_os.h"
#include "websocket_server.h"

namespace {
constexpr const char* TAG = "QUORBIT_MQ_FAKE";

struct quorbit_mq_fake_handle {
    qb_mq_callback cb = nullptr;
    void* parent = nullptr;
    void* user = nullptr;
    WS_Server_Handle ws_server = nullptr;
    ws_server_cb_param* param = nullptr;
    // cb, parent, user and stopping are read by the server's thread while
    // the component may be registering or stopping.
    std::mutex cb_lock;
    bool stopping = false;
    qb::MqCounters counters;
};

std::mutex g_ws_lock;
void* g_ws_handle = nullptr;  // guarded by g_ws_lock

void ws_open(void* handle) {
    LOGD(TAG, "Client Open with fd=%x", static_cast<unsigned>(reinterpret_cast<uintptr_t>(handle)));
    std::lock_guard<std::mutex> lock(g_ws_lock);
    g_ws_handle = handle;
}

void ws_close(void* handle) {
    LOGD(TAG, "Client Close with fd=%x", static_cast<unsigned>(reinterpret_cast<uintptr_t>(handle)));
    std::lock_guard<std::mutex> lock(g_ws_lock);
    // An older client leaving must not cut off the one that is still connected.
    if (g_ws_handle == handle) g_ws_handle = nullptr;
}

void ws_server_callback(void*, ws_callback_type type, char* data, int, void* user) {
    if (type != WS_CB_TEXT) return;
    auto* mq = static_cast<quorbit_mq_fake_handle*>(user);
    qb_mq_callback cb;
    void* parent;
    void* cb_user;
    {
        std::lock_guard<std::mutex> lock(mq->cb_lock);
        // Messages of the pass in which the callback deinited the queue.
        if (mq->stopping) return;
        cb = mq->cb;
        parent = mq->parent;
        cb_user = mq->user;
    }
    json_object* root = data ? json_tokener_parse(data) : nullptr;
    // A member that is not a string is passed on as its JSON text.
    char* port = root ? Json_get_str(root, const_cast<char*>("port")) : nullptr;
    char* message = root ? Json_get_str(root, const_cast<char*>("message")) : nullptr;
    if (port && message && cb) {
        char request_id[] = "test_uuid";
        mq->counters.requests.fetch_add(1);
        const auto t0 = std::chrono::steady_clock::now();
        cb(parent, port, message, request_id, cb_user);
        const auto us = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - t0);
        mq->counters.record_callback_us(static_cast<uint32_t>(std::min<long long>(us.count(), UINT32_MAX)));
    } else {
        LOGE(TAG, "Received [port NULL] or [message NULL] or [no Callback]");
    }
    if (root) json_object_put(root);
}

void release(void* handle) {
    auto* mq = static_cast<quorbit_mq_fake_handle*>(handle);
    mq->counters.stop_logging();
    os_free(mq->param);
    delete mq;
}

}  // namespace

namespace qb {
bool fake_backend_stats(void* handle, qb_mq_stats* out) {
    auto* mq = static_cast<quorbit_mq_fake_handle*>(handle);
    if (!mq) return false;
    mq->counters.snapshot(out, 0);
    return true;
}
}  // namespace qb

namespace {
const qb_mq_impl_t mq_fake_impl = {qb_mq_fake_init, qb_mq_fake_register_callback, qb_mq_fake_send,
                                   qb_mq_fake_deinit};
}  // namespace

extern "C" {

QB_API Qb_mq_impl qb_mq_fake_init(void) {
    auto* mq = new (std::nothrow) quorbit_mq_fake_handle;
    auto* param = static_cast<ws_server_cb_param*>(os_zalloc(sizeof(ws_server_cb_param)));
    if (!mq || !param) {
        delete mq;
        os_free(param);
        return nullptr;
    }
    param->callback = ws_server_callback;
    param->onopen = ws_open;
    param->onclose = ws_close;
    param->user = mq;
    mq->param = param;
    LOGD(TAG, "QUORBIT wait on Websocket port 10000, please connect to me");
    mq->ws_server = WS_Server_Start(QB_MQ_FAKE_PORT, param);
    if (!mq->ws_server) LOGE(TAG, "WebSocket server on port %d did not start", QB_MQ_FAKE_PORT);
    mq->counters.start_logging(static_cast<int>(qb::param_long("--mq-stats-interval", 0, 0)), "QB_MQ", nullptr,
                               nullptr);
    return mq;
}

QB_API int qb_mq_fake_register_callback(Qb_mq handle, qb_mq_callback cb, void* user, void* parent) {
    auto* mq = static_cast<quorbit_mq_fake_handle*>(handle);
    if (!mq) {
        LOGE(TAG, "Null handle");
        return -1;
    }
    std::lock_guard<std::mutex> lock(mq->cb_lock);
    mq->cb = cb;
    mq->user = user;
    mq->parent = parent;
    return 0;
}

QB_API int qb_mq_fake_send(Qb_mq_fake handle, char* output_port_name, char* output_data, char* uuid) {
    if (!handle) {
        LOGE(TAG, "Null handle");
        return -1;
    }
    auto* mq = static_cast<quorbit_mq_fake_handle*>(handle);
    std::lock_guard<std::mutex> lock(g_ws_lock);
    if (!g_ws_handle) return 0;  // no client: dropped, as documented
    json_object* obj = json_object_new_object();
    if (!obj) return 0;
    Json_add_str(obj, const_cast<char*>("port"), output_port_name ? output_port_name : const_cast<char*>(""));
    Json_add_str(obj, const_cast<char*>("message"), output_data ? output_data : const_cast<char*>(""));
    Json_add_str(obj, const_cast<char*>("type"), const_cast<char*>(uuid ? "call" : "trigger"));
    // A session over its send-queue limit is being closed: say so.
    int rc = WS_Server_Send_String(g_ws_handle, const_cast<char*>(json_object_to_json_string_ext(obj, 0)));
    json_object_put(obj);
    if (rc == 0) rc = WS_Server_Send_String(g_ws_handle, const_cast<char*>(QB_MQ_FAKE_SEPARATOR));
    mq->counters.count_send(uuid != nullptr, rc);
    return rc;
}

QB_API int qb_mq_fake_deinit(Qb_mq_fake handle) {
    auto* mq = static_cast<quorbit_mq_fake_handle*>(handle);
    if (!mq) {
        LOGE(TAG, "Null handle");
        return -1;
    }
    LOGD(TAG, "Fake MQ Deinit");
    {
        std::lock_guard<std::mutex> lock(mq->cb_lock);
        mq->stopping = true;
    }
    // From the callback the server cannot stop yet: it stops, and the handle
    // goes, once the callback has returned.
    if (mq->ws_server && qb::ws::server_stop_after_hook(mq->ws_server, release, mq)) return 0;
    if (mq->ws_server) WS_Server_Stop(mq->ws_server);
    release(mq);
    return 0;
}

QB_API qb_mq_impl_t* qb_mq_get_fake(void) { return const_cast<qb_mq_impl_t*>(&mq_fake_impl); }

}  // extern "C"
