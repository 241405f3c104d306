#include "data_channel.h"

#include <json-c/json.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "data_channel_impl.h"
#include "net/dc_config.h"
#include "sdk_file_ops.h"
#include "sdk_list.h"
#include "sdk_logger.h"
#include "sdk_os.h"

namespace {
constexpr const char* TAG = "DATA_CHANNEL";

struct channel_list {
    list_head node;
    dc_impl_t* impl;
};

list_head ch_list = {nullptr, nullptr};

// Channels live as long as the program; their callback bundles stay reachable
// here even for modules that keep none of their own.
std::vector<dc_callback*>& open_bundles() {
    static auto* v = new std::vector<dc_callback*>();
    return *v;
}

char* member_string(json_object* root, const char* key) {
    json_object* v = nullptr;
    if (!json_object_object_get_ex(root, key, &v) || !json_object_is_type(v, json_type_string)) return nullptr;
    return strdup(json_object_get_string(v));
}
}  // namespace

namespace qb::dc {

void read_config(const char* path, const char* tag, const char* missing_line, config* out) {
    memset(out, 0, sizeof *out);
    char* text = path ? File_Read_String(const_cast<char*>(path)) : nullptr;
    if (!text) {
        LOGE(tag, "%s", missing_line);
        return;
    }
    json_object* root = json_tokener_parse(text);
    free(text);
    if (!root) return;
    out->url = member_string(root, "url");
    out->username = member_string(root, "username");
    out->password = member_string(root, "password");
    json_object* v = nullptr;
    if (json_object_object_get_ex(root, "port", &v)) out->port = json_object_get_int(v);
    json_object_put(root);
}

void free_config(config* c) {
    free(c->url);
    free(c->username);
    free(c->password);
    memset(c, 0, sizeof *c);
}

void* start_from_config(const char* path, const char* tag, const char* missing_line, void* (*start)(char* url, int port)) {
    config conf;
    read_config(path, tag, missing_line, &conf);
    void* handle = conf.url ? start(conf.url, conf.port) : nullptr;
    free_config(&conf);
    return handle;
}

}  // namespace qb::dc

extern "C" {

QB_API void DC_module_Init(void) { INIT_LIST_HEAD(&ch_list); }

QB_API void DC_module_register(dc_impl_t* impl) {
    if (!impl) return;
    if (!ch_list.next) INIT_LIST_HEAD(&ch_list);
    auto* entry = static_cast<channel_list*>(os_zalloc(sizeof(channel_list)));
    if (!entry) return;
    entry->impl = impl;
    list_add_tail(&entry->node, &ch_list);
    LOGD(TAG, "Register module: %s", impl->name);
}

QB_API DC_Handle DC_Init(char* channel_name, DC_Callback_Func callback, void* user, char* config_file) {
    auto* ch = static_cast<dc_handle*>(os_zalloc(sizeof(dc_handle)));
    auto* cb = static_cast<dc_callback*>(os_zalloc(sizeof(dc_callback)));
    if (!ch || !cb) {
        os_free(ch);
        os_free(cb);
        return nullptr;
    }
    cb->callback = callback;
    cb->param = user;
    cb->handle = ch;
    dc_impl_t* found = nullptr;
    if (ch_list.next && channel_name) {
        list_head* pos;
        list_for_each(pos, &ch_list) {
            auto* e = list_entry(pos, channel_list, node);
            if (e->impl->name && strcmp(e->impl->name, channel_name) == 0) {
                found = e->impl;
                break;
            }
        }
    }
    if (!found) {
        LOGE(TAG, "module %s not found", channel_name ? channel_name : "(null)");
        os_free(ch);
        os_free(cb);
        return nullptr;
    }
    ch->impl = found;
    void* transport = nullptr;
    if (found->init) found->init(&transport, cb, config_file);
    if (transport) ch->handle = transport;
    if (!ch->handle) {
        LOGE(TAG, "module %s init failed", channel_name);
        os_free(ch);
        os_free(cb);
        return nullptr;
    }
    open_bundles().push_back(cb);
    return ch;
}

QB_API int DC_Transfer(DC_Handle handle, char* data, int size) {
    auto* ch = static_cast<dc_handle*>(handle);
    if (!ch) {
        LOGE(TAG, "Null handle");
        return -1;
    }
    if (!ch->impl->send) {
        LOGE(TAG, "module %s does not support send", ch->impl->name);
        return -1;
    }
    return ch->impl->send(ch->handle, data, size);
}

QB_API int DC_Receive(DC_Handle handle, char** data, int* size) {
    auto* ch = static_cast<dc_handle*>(handle);
    if (!ch) {
        LOGE(TAG, "Null handle");
        return -1;
    }
    if (!ch->impl->recv) {
        LOGE(TAG, "module %s does not support recv", ch->impl->name);
        return -1;
    }
    return ch->impl->recv(ch->handle, data, size);
}

QB_API void DC_Init_Fake(char* channel_name) { (void)channel_name; }

}  // extern "C"
