#include "qb_rpc.h"

#include <json-c/json.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "foundation/env_lock.h"
#include "http_client.h"
#include "json_easy.h"
#include "qb_env.h"
#include "sdk_logger.h"

extern char** environ;

namespace {
constexpr const char* TAG = "QB_RPC";
constexpr size_t kHostSize = 1024;
constexpr char kNodeConfig[] = "NODE_CONFIG=";

// The namespace ends up inside a URL: anything but a DNS name could change
// which host or path the request goes to.
bool valid_namespace(const char* ns) {
    if (!*ns) return false;
    for (const char* p = ns; *p; ++p) {
        char c = *p;
        bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '.';
        if (!ok) return false;
    }
    return true;
}

// The first "%s" of format replaced by ns (the format is never handed to printf).
bool format_host(const char* format, const char* ns, char (&host)[kHostSize]) {
    const char* slot = strstr(format, "%s");
    int n = slot ? snprintf(host, sizeof host, "%.*s%s%s", static_cast<int>(slot - format), format, ns, slot + 2)
                 : snprintf(host, sizeof host, "%s", format);
    return n >= 0 && static_cast<size_t>(n) < sizeof host;
}

// A stream parameter, or "" (logged) when the environment lacks it.
char* stream_param(const char* key) {
    char name[64];
    snprintf(name, sizeof name, "%s", key);
    if (char* v = qb_get_env(name)) return v;
    LOGW(TAG, "Parameter %s missing, sending \"\"", key);
    return strdup("");
}

}  // namespace

extern "C" {

QB_API char* qb_get_namespace(void) {
    char* result = nullptr;
    std::lock_guard<std::mutex> lock(qb::env_mutex());
    for (char** e = environ; e && *e; ++e) {
        if (strncmp(*e, kNodeConfig, sizeof kNodeConfig - 1) != 0) continue;
        json_object* doc = json_tokener_parse(*e + sizeof kNodeConfig - 1);
        json_object* node = Json_get_obj(doc, const_cast<char*>("app.cs.masterNamespace"));
        if (json_object_is_type(node, json_type_string)) {
            char* copy = strdup(json_object_get_string(node));
            if (copy) {
                free(result);
                result = copy;
            }
        }
        json_object_put(doc);
    }
    return result;
}

QB_API void qb_rpc_start_dll(char* oss_package_path, char* function_name) {
    if (!oss_package_path || !function_name) {
        LOGE(TAG, "Null package path or function name, nothing sent");
        return;
    }
    char* ns = qb_get_namespace();
    if (!ns) {
        LOGE(TAG, "quorbit namespace get failed");
        return;
    }
    char* format = qb_get_env(const_cast<char*>(QB_RPC_HOST_PARAM));
    char host[kHostSize];
    bool ok = valid_namespace(ns);
    if (!ok)
        LOGE(TAG, "Namespace %s is not a host name part, nothing sent", ns);
    else if (!(ok = format_host(format ? format : QB_RPC_HOST_FORMAT, ns, host)))
        LOGE(TAG, "RPC host for namespace %s longer than %zu bytes, nothing sent", ns, kHostSize - 1);
    free(format);
    if (!ok) {
        free(ns);
        return;
    }
    char* user_id = stream_param("--stream-user-id");
    char* app_id = stream_param("--stream-app-id");
    char* node_id = stream_param("--stream-node-id");
    json_object* body = json_object_new_object();
    json_object* context = json_object_new_object();
    if (body && context && user_id && app_id && node_id) {
        Json_add_str(body, const_cast<char*>("RPCServerId"), const_cast<char*>("windows-rpc-server-1"));
        Json_add_str(body, const_cast<char*>("Function"), function_name);
        Json_add_str(context, const_cast<char*>("UserId"), user_id);
        Json_add_str(context, const_cast<char*>("AppId"), app_id);
        Json_add_str(context, const_cast<char*>("NodeId"), node_id);
        Json_add_str(context, const_cast<char*>("RPCPackageOSSPath"), oss_package_path);
        json_object_object_add(body, "Context", context);
        context = nullptr;  // owned by body now
        const char* text = json_object_to_json_string_ext(body, 0);
        free(SDK_HTTP_Client_Post(host, QB_RPC_PORT, const_cast<char*>(QB_RPC_PATH), const_cast<char*>(text)));
    } else {
        LOGE(TAG, "Out of memory building the request, nothing sent");
    }
    json_object_put(context);
    json_object_put(body);
    free(user_id);
    free(app_id);
    free(node_id);
    free(ns);
}

}  // extern "C"
