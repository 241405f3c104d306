// The "websocket_client" data channel. It connects at init: "url" is
// ws://host[:port][/path] (scheme optional); "port" applies when the url has
// none; the path defaults to "/". Init waits up to 5 s for the connection and
// reports no transport (DC_Init fails) when it is not up by then.
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>
#include <mutex>
#include <string>
#include <vector>

#include "data_channel_impl.h"
#include "net/dc_config.h"
#include "sdk_logger.h"
#include "sdk_os.h"
#include "websocket_client.h"

namespace {
constexpr const char* TAG = "WS_CLIENT_DC";
constexpr int kConnectWaitMs = 5000;

struct ws_client_dc {
    dc_callback* cb;
    ws_client_cb_param param;
    WS_Handle client;
    std::atomic<int> state;  // 0 connecting, 1 open, 2 ended
};

// Channels are never closed; kept here so they stay owned for the process's life.
std::mutex g_lock;
std::vector<ws_client_dc*>& channels() {
    static auto* v = new std::vector<ws_client_dc*>();
    return *v;
}

void forward(WS_Handle, int, char* data, int length, void* user) {
    auto* ch = static_cast<ws_client_dc*>(user);
    if (ch && ch->cb && ch->cb->callback) ch->cb->callback(ch->cb->handle, data, length, ch->cb->param);
}

}  // namespace

namespace qb::dc {

// Splits url into host, port and path; false when no host is left.
bool split_ws_url(const char* url, int default_port, std::string* host, int* port, std::string* path) {
    if (!url) return false;
    std::string rest(url);
    if (rest.rfind("ws://", 0) == 0) rest.erase(0, 5);
    size_t slash = rest.find('/');
    *path = slash == std::string::npos ? "/" : rest.substr(slash);
    std::string hostport = rest.substr(0, slash);
    *port = default_port;
    size_t colon = hostport.rfind(':');
    if (colon != std::string::npos && hostport.find(']') == std::string::npos) {
        char* end = nullptr;
        long p = strtol(hostport.c_str() + colon + 1, &end, 10);
        if (*end != 0 || p <= 0 || p > 65535) return false;
        *port = static_cast<int>(p);
        hostport.erase(colon);
    }
    *host = hostport;
    return !host->empty();
}

}  // namespace qb::dc

namespace {

int dc_init(void** handle, dc_callback* cb, char* config_file) {
    qb::dc::config conf;
    qb::dc::read_config(config_file, TAG, "WS Config does not exist", &conf);
    std::string host, path;
    int port = 0;
    bool ok = qb::dc::split_ws_url(conf.url, conf.port, &host, &port, &path);
    qb::dc::free_config(&conf);
    if (!ok) {
        LOGE(TAG, "No usable url in the configuration");
        return 0;
    }
    auto* ch = new (std::nothrow) ws_client_dc{};
    if (!ch) return 0;
    ch->cb = cb;
    ch->param.callback = forward;
    ch->param.onopen = [](WS_Handle, void* user) { static_cast<ws_client_dc*>(user)->state = 1; };
    ch->param.onclose = [](WS_Handle, void* user) { static_cast<ws_client_dc*>(user)->state = 2; };
    ch->client = WS_Client_Start(const_cast<char*>(host.c_str()), port, const_cast<char*>(path.c_str()), nullptr,
                                 &ch->param, ch);
    for (int waited = 0; ch->client && ch->state == 0 && waited < kConnectWaitMs; waited += 10) os_msleep(10);
    if (!ch->client || ch->state != 1) {
        LOGE(TAG, "Connection to %s:%d%s failed", host.c_str(), port, path.c_str());
        if (ch->client) WS_Client_Stop(ch->client);
        delete ch;
        return 0;
    }
    {
        std::lock_guard<std::mutex> lock(g_lock);
        channels().push_back(ch);
    }
    *handle = ch;
    return 0;
}

int dc_send(void* handle, char* data, int size) {
    auto* ch = static_cast<ws_client_dc*>(handle);
    return WS_Client_Send_Binary(ch ? ch->client : nullptr, data, size);
}

dc_impl_t websocket_client_dc = {"websocket_client", dc_init, nullptr, dc_send};
}  // namespace

extern "C" {

QB_API void DC_module_register_websocket_client(void) { DC_module_register(&websocket_client_dc); }

}  // extern "C"
