// Transmit path: event packets built from texts, JSON objects and binary
// arguments, sent on the open WebSocket or kept in the resend buffer until
// the server confirms their namespace again. Everything that takes a slot or
// a message id or writes to the WebSocket holds the session lock, so a packet
// and its binary attachments always leave together.
#include <climits>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "net/socketio/socketio_internal.h"
#include "sdk_logger.h"

namespace {
constexpr const char* TAG = "SOCKETIO_TX";

bool namespace_ok(const char* nsp) { return !nsp || strnlen(nsp, SIO_NAMESPACE_MAX + 1) <= SIO_NAMESPACE_MAX; }

// A text beginning with "{" is a JSON object; any other goes in quotes.
void append_value(std::string& out, const char* text) {
    if (text[0] == '{') {
        out += text;
    } else {
        out += '"';
        out += text;
        out += '"';
    }
}

std::string build_packet(const char* event, const sio_payload* payload, int count, const char* nsp, int id) {
    int binaries = 0;
    for (int k = 0; k < count; k++) binaries += payload[k].length > 0;
    std::string text = binaries ? "45" : "42";
    if (binaries) text += std::to_string(binaries) + "-";
    if (nsp) {
        text += nsp;
        text += ',';
    }
    if (id >= 0) text += std::to_string(id);
    text += '[';
    append_value(text, event);
    for (int k = 0, num = 0; k < count; k++) {
        text += ',';
        if (payload[k].length > 0)
            text += "{\"_placeholder\":true,\"num\":" + std::to_string(num++) + "}";
        else
            append_value(text, payload[k].message);
    }
    text += ']';
    return text;
}

// Caller holds mu. Takes ownership of text.
int store_packet(sio_context* ctx, int qos, const char* event, char* text, const char* nsp,
                 std::vector<std::string>&& attachments) {
    LOGE(TAG, "SocketIO buffered [%s]", event ? event : "");
    for (auto& slot : ctx->buffer[qos]) {
        if (slot.buffer) continue;
        slot.buffer = text;
        snprintf(slot.namespace_, sizeof slot.namespace_, "%s", nsp ? nsp : "");
        slot.attachments = std::move(attachments);
        return 0;
    }
    LOGE(TAG, "tx buffer full!");
    free(text);
    return -1;
}

// Caller holds mu.
bool send_packet(sio_context* ctx, char* text, std::vector<std::string>& attachments) {
    if (WS_Client_Send_String(ctx->ws, text) != 0) return false;
    for (auto& a : attachments)
        if (WS_Client_Send_Binary(ctx->ws, a.data(), static_cast<int>(a.size())) != 0) return false;
    return true;
}

bool arguments_ok(const sio_payload* payload, int count) {
    if (count < 0 || (count > 0 && !payload)) return false;
    for (int k = 0; k < count; k++)
        if (!payload[k].message || payload[k].length == INT_MAX) return false;
    return true;
}

}  // namespace

int SocketIO_Buffer_Data(sio_context* ctx, int qos, char* event, char* text, char* namespace_) {
    if (!ctx || !text || qos < SIO_QOS_HIGH || qos > SIO_QOS_LOW || !namespace_ok(namespace_)) return -1;
    char* copy = strdup(text);
    if (!copy) return -1;
    std::lock_guard<std::mutex> lock(ctx->mu);
    return store_packet(ctx, qos, event, copy, namespace_, {});
}

int SocketIO_TX_Buffered_Data(sio_context* ctx, char* namespace_) {
    std::lock_guard<std::mutex> lock(ctx->mu);
    for (int level = SIO_QOS_HIGH; level <= SIO_QOS_LOW; level++) {
        for (auto& slot : ctx->buffer[level]) {
            if (!slot.buffer) continue;
            if (namespace_ ? !slot.namespace_[0] || strcmp(slot.namespace_, namespace_) != 0 : slot.namespace_[0] != 0)
                continue;
            if (namespace_)
                LOGD(TAG, "Resend namespace buffered Qos=[%d] data=[%s]", level, slot.buffer);
            else
                LOGD(TAG, "Resend buffered Qos=[%d] Buf=[%s]", level, slot.buffer);
            if (!send_packet(ctx, slot.buffer, slot.attachments)) {
                LOGE(TAG, "Websocket send data failed");
                if (level == SIO_QOS_HIGH) {
                    // Kept where it is: moving it could lose it when the level is full.
                    LOGE(TAG, "SocketIO buffered [%s]", "retry_qos");
                    continue;
                }
            }
            free(slot.buffer);
            slot.buffer = nullptr;
            slot.namespace_[0] = 0;
            slot.attachments.clear();
        }
    }
    return 0;
}

extern "C" {

QB_API int SIO_Client_Emit_Ex(SIO_Handle session, char* event, sio_payload* payload, int payload_num, int qos,
                              int need_callback, int* message_id, char* namespace_) {
    auto* ctx = static_cast<sio_context*>(session);
    if (!ctx) {
        LOGE(TAG, "Null handle");
        return -1;
    }
    if (!event || !ctx->reconnect.thread_running || ctx->stopped) {
        LOGE(TAG, "SIO send [%s] failed, Close this object and Try another one", event ? event : "");
        return -1;
    }
    if (qos < SIO_QOS_HIGH || qos > SIO_QOS_LOW || !arguments_ok(payload, payload_num)) {
        LOGE(TAG, "SIO send [%s]: invalid qos %d or arguments", event, qos);
        return -1;
    }
    if (!namespace_ok(namespace_)) {
        LOGE(TAG, "SIO send [%s]: namespace longer than %d characters", event, SIO_NAMESPACE_MAX);
        return -1;
    }
    try {
        std::lock_guard<std::mutex> lock(ctx->mu);
        int id = -1;
        if (need_callback) {
            id = ctx->tx_message_id;
            ctx->tx_message_id = id == INT_MAX ? 0 : id + 1;
            if (message_id) *message_id = id;
        }
        std::string text = build_packet(event, payload, payload_num, namespace_, id);
        if (text.size() >= INT_MAX) return -1;
        LOGD(TAG, "----> websocket TX=%s", text.c_str());
        std::vector<std::string> attachments;
        for (int k = 0; k < payload_num; k++) {
            if (payload[k].length <= 0) continue;
            attachments.emplace_back(1, '\x04');
            attachments.back().append(payload[k].message, static_cast<size_t>(payload[k].length));
        }
        if (ctx->websocket_connected && ctx->ws) return send_packet(ctx, text.data(), attachments) ? 0 : -1;
        char* copy = strdup(text.c_str());
        if (!copy) return -1;
        return store_packet(ctx, qos, event, copy, namespace_, std::move(attachments));
    } catch (const std::exception&) {
        LOGE(TAG, "SIO send [%s]: out of memory", event);
        return -1;
    }
}

QB_API int SIO_Client_Emit(SIO_Handle session, char* event, char* data, int qos, int need_callback, int* message_id,
                           char* namespace_) {
    sio_payload one{data, 0};
    return SIO_Client_Emit_Ex(session, event, data ? &one : nullptr, data ? 1 : 0, qos, need_callback, message_id,
                              namespace_);
}

}  // extern "C"
