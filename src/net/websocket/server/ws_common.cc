#include "net/websocket/server/ws_common.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

#include "sdk_os.h"
#include "websocket_server.h"

namespace qb::ws {
namespace {
std::atomic<int> g_max_message{WS_DEFAULT_MAX_MESSAGE_SIZE};
std::atomic<int> g_max_send_queue{WS_DEFAULT_MAX_SEND_QUEUE};
}

size_t max_message_size() { return static_cast<size_t>(g_max_message.load()); }
size_t max_send_queue() { return static_cast<size_t>(g_max_send_queue.load()); }

void kill_connection(lws* wsi) { lws_set_timeout(wsi, PENDING_TIMEOUT_USER_OK, LWS_TO_KILL_ASYNC); }

tx_data* tx_new(const void* payload, int length, int binary) {
    if (length < 0 || (length > 0 && !payload)) return nullptr;
    if (static_cast<size_t>(length) > static_cast<size_t>(INT32_MAX) - kHeadroom - 1) return nullptr;
    auto* tx = static_cast<tx_data*>(os_zalloc(sizeof(tx_data)));
    if (!tx) return nullptr;
    tx->data = static_cast<unsigned char*>(os_zalloc(static_cast<int>(length + kHeadroom + 1)));
    if (!tx->data) {
        os_free(tx);
        return nullptr;
    }
    if (length > 0) memcpy(tx->data + kHeadroom, payload, static_cast<size_t>(length));
    tx->length = length;
    tx->binary = binary ? 1 : 0;
    return tx;
}

void tx_free(tx_data* tx) {
    if (!tx) return;
    os_free(tx->data);
    os_free(tx);
}

void tx_free_all(list_head* list) {
    list_head *pos, *n;
    list_for_each_safe(pos, n, list) {
        list_del(pos);
        tx_free(list_entry(pos, tx_data, node));
    }
}

Admit tx_admit(list_head* list, size_t* queued, bool* closing, size_t length) {
    if (*closing) return Admit::refused;
    const size_t limit = max_send_queue();
    if (length <= limit && *queued <= limit - length) return Admit::ok;
    *closing = true;
    tx_free_all(list);
    *queued = 0;
    return Admit::overflowed;
}

void rx_reset(rx_info* rx) {
    free(rx->buffer);
    rx->buffer = nullptr;
    rx->total_length = 0;
    rx->cur_len = 0;
}

RxResult rx_append(rx_info* rx, const void* chunk, size_t len, bool first, size_t first_capacity, size_t step) {
    const size_t limit = max_message_size();
    if (first) rx_reset(rx);
    const size_t held = rx->buffer ? rx->cur_len : 0;
    if (len > limit || held > limit - len) {
        rx_reset(rx);
        return RxResult::too_large;
    }
    const size_t need = held + len;
    if (!rx->buffer || need > rx->total_length) {
        size_t cap = rx->buffer ? rx->total_length + len + step : (first_capacity > len ? first_capacity : len);
        if (cap > limit) cap = limit;
        if (cap < need) cap = need;
        auto* grown = static_cast<char*>(realloc(rx->buffer, cap + 1));
        if (!grown) {
            rx_reset(rx);
            return RxResult::no_memory;
        }
        if (!rx->buffer) grown[0] = 0;
        rx->buffer = grown;
        rx->total_length = cap;
        rx->cur_len = held;
    }
    if (len > 0) memcpy(rx->buffer + held, chunk, len);
    rx->cur_len = need;
    rx->buffer[need] = 0;
    return RxResult::ok;
}

lws_protocols* make_protocols(lws_callback_function* callback, void* user, size_t per_session_size,
                              size_t rx_buffer_size) {
    lws_set_log_level(LLL_ERR | LLL_WARN, nullptr);
    auto* protocols = static_cast<lws_protocols*>(os_zalloc(2 * sizeof(lws_protocols)));
    if (!protocols) return nullptr;
    protocols[0].name = "data_trans";
    protocols[0].callback = callback;
    protocols[0].per_session_data_size = per_session_size;
    protocols[0].rx_buffer_size = rx_buffer_size;
    protocols[0].user = user;
    return protocols;
}

lws_context* create_context(lws_protocols* protocols, int port, void* user) {
    lws_context_creation_info info;
    memset(&info, 0, sizeof info);
    info.port = port;
    info.protocols = protocols;
    info.gid = -1;
    info.uid = -1;
    info.user = user;
    return lws_create_context(&info);
}

}  // namespace qb::ws

extern "C" {

QB_API void WS_Set_Max_Message_Size(int bytes) {
    qb::ws::g_max_message.store(bytes > 0 ? bytes : WS_DEFAULT_MAX_MESSAGE_SIZE);
}

QB_API int WS_Get_Max_Message_Size(void) { return qb::ws::g_max_message.load(); }

QB_API void WS_Set_Max_Send_Queue(int bytes) {
    qb::ws::g_max_send_queue.store(bytes > 0 ? bytes : WS_DEFAULT_MAX_SEND_QUEUE);
}

QB_API int WS_Get_Max_Send_Queue(void) { return qb::ws::g_max_send_queue.load(); }

}  // extern "C"
