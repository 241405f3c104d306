// Receive path: every text frame of the session's WebSocket, on its service
// thread. Engine.IO packets first, then the Socket.IO packet inside a message.
#include <json-c/json.h>

#include <cstdio>

#include "json_easy.h"
#include "net/socketio/socketio_internal.h"
#include "net/socketio/socketio_parse.h"
#include "sdk_logger.h"
#include "sdk_os.h"

namespace {
constexpr const char* TAG = "SOCKETIO_RX";

void open_packet(sio_context* ctx, const char* text, int length) {
    LOGV(TAG, "Received EIO Open");
    json_tokener* tok = json_tokener_new();
    json_object* root = tok ? json_tokener_parse_ex(tok, text, length) : nullptr;
    if (root && json_tokener_get_error(tok) != json_tokener_success) {
        json_object_put(root);
        root = nullptr;
    }
    if (tok) json_tokener_free(tok);
    if (!root) {
        LOGE(TAG, "Init json format failed");
        return;
    }
    const char* sid = Json_get_str(root, const_cast<char*>("sid"));
    const int interval = Json_get_int(root, const_cast<char*>("pingInterval"));
    const int timeout = Json_get_int(root, const_cast<char*>("pingTimeout"));
    if (interval > 0) qb::sio::set_ping_interval(ctx, interval);
    LOGV(TAG, "EIO Parameters: sid=%s, ping=[%d %d]", sid ? sid : "", interval, timeout);
    json_object_put(root);
}

void namespace_connected(sio_context* ctx, char* rest, int length) {
    if (length == 0) {
        if (ctx->namespace_) {
            char text[8 + SIO_NAMESPACE_MAX];
            snprintf(text, sizeof text, "40%s", ctx->namespace_);
            LOGV(TAG, "Send SIO Connect To namespace %s", text);
            qb::sio::send_text(ctx, text);
        }
        qb::sio::report(ctx, nullptr, "connect", nullptr, 0);
        SocketIO_TX_Buffered_Data(ctx, nullptr);
        return;
    }
    rest[length - 1] = 0;  // the separator after the namespace
    if (ctx->callback && ctx->callback->onevent) {
        os_msleep(300);
        qb::sio::report(ctx, rest, "connect", nullptr, 0);
    }
    // Resent whether or not the application listens for "connect".
    SocketIO_TX_Buffered_Data(ctx, rest);
    LOGV(TAG, "Namespace Connected=%s", rest);
}

}  // namespace

void engine_io_process(sio_context* ctx, engine_io_packet* packet, int length) {
    const char code = length > 0 ? packet->code : 0;
    switch (code) {
    case EIO_OPEN:
        open_packet(ctx, packet->message, length - 1);
        break;
    case EIO_CLOSE:
        LOGV(TAG, "Received EIO Close");
        qb::sio::disconnected(ctx);
        break;
    case EIO_PING:
        LOGV(TAG, "Received EIO Ping");
        qb::sio::send_text(ctx, "3");
        qb::sio::report(ctx, nullptr, "ping", nullptr, 0);
        break;
    case EIO_PONG:
        LOGV(TAG, "Received EIO Pong");
        qb::sio::report(ctx, nullptr, "pong", nullptr, 0);
        break;
    case EIO_MESSAGE:
        LOGV(TAG, "Received EIO message");
        socket_io_process(ctx, reinterpret_cast<socket_io_packet*>(packet->message), length - 1);
        break;
    default:
        LOGE(TAG, "Unknown EIO message code=0x%02x", static_cast<unsigned char>(code));
        break;
    }
}

void socket_io_process(sio_context* ctx, socket_io_packet* packet, int length) {
    const char code = length > 0 ? packet->code : 0;
    char* rest = packet->message;
    switch (code) {
    case SIO_CONNECT:
        namespace_connected(ctx, rest, length - 1);
        break;
    case SIO_DISCONNECT:
        LOGV(TAG, "Received SIO Disconnect");
        qb::sio::disconnected(ctx);
        break;
    case SIO_EVENT:
        LOGV(TAG, "Received SIO Event msg=%s", rest);
        socket_io_user_data_process(ctx, rest, length - 1);
        break;
    case SIO_ACK:
        LOGD(TAG, "Received SIO ACK");
        socket_io_user_data_process(ctx, rest, length - 1);
        break;
    case SIO_ERROR:
        LOGE(TAG, "Received SIO ERROR");
        qb::sio::report(ctx, nullptr, "error", nullptr, 0);
        break;
    case SIO_BINARY_EVENT:
        LOGE(TAG, "Not support binary");
        break;
    default:
        LOGE(TAG, "Unknown SIO message code=0x%02x", static_cast<unsigned char>(code));
        break;
    }
}

void socket_io_user_data_process(sio_context* ctx, char* text, int length) {
    qb::sio::parsed_packet p;
    if (length < 0 || !qb::sio::parse_user_data(text, static_cast<size_t>(length), &p)) return;
    if (p.message_id >= 0)
        qb::sio::report_ack(ctx, p.namespace_, p.event, p.payloads, p.count, p.message_id);
    else
        qb::sio::report(ctx, p.namespace_, p.event, p.payloads, p.count);
}
