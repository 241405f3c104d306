#include "runtime/object_keys.h"

#include <cstdlib>

#include "qb_env.h"
#include "sdk_logger.h"
#include "uuid4.h"

namespace qb::storage {

bool config_key(const char* tag, const object_owner& o, const char* prefix, const char* port_id,
                const char* file_name, char (&key)[kPathSize]) {
    if (!check_component(tag, "port id", port_id, true) || !check_component(tag, "file name", file_name, false))
        return false;
    if (port_id)
        return build_path(tag, key, sizeof key, "%sstudio/%s/configs/%s/%s/%s/%s", prefix, o.user, o.app, o.node,
                          port_id, file_name);
    return build_path(tag, key, sizeof key, "%sstudio/%s/configs/%s/%s/%s", prefix, o.user, o.app, o.node,
                      file_name);
}

bool tmp_key(const char* tag, const object_owner& o, const char* request_id, const char* port_id,
             const char* file_name, char (&key)[kPathSize]) {
    char uuid[UUID4_LEN];
    const char* request = save_request(tag, request_id, port_id, file_name, uuid);
    if (!request) return false;
    if (port_id)
        return build_path(tag, key, sizeof key, "studio/%s/tmp/%s/%s/%s/%s/%s", o.user, o.app, request, o.node,
                          port_id, file_name);
    return build_path(tag, key, sizeof key, "studio/%s/tmp/%s/%s/%s/%s", o.user, o.app, request, o.node, file_name);
}

bool tmp_object(const char* tag, const char* url, const char* filename, char (&key)[kPathSize]) {
    if (!check_location(tag, url) || !check_component(tag, "file name", filename, false)) return false;
    return build_path(tag, key, sizeof key, "%s/%s", url, filename);
}

bool read_params(const char* tag, const wanted_param* wanted, size_t n, char** out) {
    bool ok = true;
    for (size_t i = 0; i < n; ++i) {
        out[i] = qb_get_env(const_cast<char*>(wanted[i].key));
        if (!out[i]) {
            LOGE(tag, "Missing parameter %s", wanted[i].key);
            ok = false;
        } else if (wanted[i].component && !check_component(tag, wanted[i].key, out[i], false)) {
            ok = false;
        }
    }
    if (!ok)
        for (size_t i = 0; i < n; ++i) {
            free(out[i]);
            out[i] = nullptr;
        }
    return ok;
}

}  // namespace qb::storage
