// The "websocket_server" data channel. A send goes to the session that last
// delivered data; the module tracks it itself (cleared on that session's
// close) so a send never reaches a placeholder or a freed session.
#include <mutex>
#include <vector>

#include "data_channel_impl.h"
#include "net/dc_config.h"
#include "sdk_logger.h"
#include "sdk_os.h"
#include "websocket_server.h"

namespace {
constexpr const char* TAG = "WS_SERVER_DC";

struct ws_server_dc {
    dc_callback* cb;
    ws_server_cb_param param;
    WS_Server_Handle server;
    void* last_session;  // guarded by g_lock
};

std::mutex g_lock;
std::vector<ws_server_dc*>& channels() {
    static auto* v = new std::vector<ws_server_dc*>();
    return *v;
}

void forward(void* session, ws_callback_type, char* data, int length, void* user) {
    auto* ch = static_cast<ws_server_dc*>(user);
    if (!ch || !ch->cb) return;
    {
        std::lock_guard<std::mutex> lock(g_lock);
        ch->last_session = session;
    }
    if (ch->cb->callback) ch->cb->callback(ch->cb->handle, data, length, ch->cb->param);
}

void on_close(void* session) {
    std::lock_guard<std::mutex> lock(g_lock);
    for (auto* ch : channels())
        if (ch->last_session == session) ch->last_session = nullptr;
}

int dc_init(void** handle, dc_callback* cb, char* config_file) {
    qb::dc::config conf;
    qb::dc::read_config(config_file, TAG, "WS Config does not exist", &conf);
    const int port = conf.port;
    qb::dc::free_config(&conf);
    auto* ch = new (std::nothrow) ws_server_dc{};
    if (!ch) return 0;
    ch->cb = cb;
    ch->param.callback = forward;
    ch->param.onclose = on_close;
    ch->param.user = ch;
    {
        std::lock_guard<std::mutex> lock(g_lock);
        channels().push_back(ch);
    }
    ch->server = WS_Server_Start(port, &ch->param);
    if (!ch->server) {
        std::lock_guard<std::mutex> lock(g_lock);
        std::erase(channels(), ch);
        delete ch;
        return 0;
    }
    *handle = ch;
    return 0;
}

int dc_send(void* handle, char* data, int size) {
    auto* ch = static_cast<ws_server_dc*>(handle);
    std::lock_guard<std::mutex> lock(g_lock);
    if (!ch || !ch->last_session) {
        LOGE(TAG, "No client session to send to");
        return -1;
    }
    return WS_Server_Send_Binary(ch->last_session, data, size);
}

dc_impl_t websocket_server_dc = {"websocket_server", dc_init, nullptr, dc_send};
}  // namespace

namespace qb::dc {
// Lets tests find the server a channel started (its port when 0 was asked).
WS_Server_Handle websocket_server_of(void* transport) {
    return transport ? static_cast<ws_server_dc*>(transport)->server : nullptr;
}
}  // namespace qb::dc

extern "C" {

QB_API void DC_module_register_websocket_server(void) { DC_module_register(&websocket_server_dc); }

}  // extern "C"
