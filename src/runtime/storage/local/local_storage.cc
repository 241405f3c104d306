#include <sys/stat.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "local_storage.h"
#include "qb_env.h"
#include "qb_storage_impl.h"
#include "runtime/storage/local/local_storage_internal.h"
#include "runtime/storage_paths.h"
#include "sdk_file_ops.h"
#include "sdk_logger.h"
#include "sdk_md5.h"
#include "uuid4.h"

namespace {
constexpr const char* TAG = "LOCAL_STORAGE";
constexpr const char* kDefaultConfigRoot = "/global/configs";
using qb::storage::build_path;
using qb::storage::check_component;
using qb::storage::kPathSize;

struct local_storage {
    char* user_id;
    char* app_id;
    char* node_id;
};

// The root is filled once; readers that see g_root_set need no lock.
std::mutex g_root_mutex;
std::atomic<bool> g_root_set{false};
char g_temp_path[kPathSize];
char g_config_root[kPathSize] = "/global/configs";

char* param(const char* key) { return qb_get_env(const_cast<char*>(key)); }

// The local root, or null (logged) when the parameters do not give one. A
// failed attempt is not remembered, so a later call can still succeed.
const char* get_temp_dir() {
    if (g_root_set.load(std::memory_order_acquire)) return g_temp_path;
    std::lock_guard<std::mutex> lock(g_root_mutex);
    if (g_root_set.load(std::memory_order_relaxed)) return g_temp_path;
    char* type = param("--storage-type");
    if (!type) {
        LOGE(TAG, "No storage type");
        return nullptr;
    }
    bool local = strcmp(type, "local") == 0;
    free(type);
    if (!local) {
        LOGE(TAG, "Storage type only support local");
        return nullptr;
    }
    char* root = param("--storage-local-temp-store");
    if (!root || !*root) {
        LOGE(TAG, "No local root: --storage-local-temp-store is not set");
        free(root);
        return nullptr;
    }
    size_t len = strlen(root);
    if (len >= kPathSize) {
        LOGE(TAG, "Local root too long (%zu bytes)", len);
        free(root);
        return nullptr;
    }
    memcpy(g_temp_path, root, len + 1);
    free(root);
    LOGD(TAG, "Using path=%s", g_temp_path);
    g_root_set.store(true, std::memory_order_release);
    return g_temp_path;
}

local_storage* record(LS_Handle hdl) {
    if (!hdl) LOGE(TAG, "Nul handle");
    return static_cast<local_storage*>(hdl);
}

// /global/configs/user/app/node[/port]/file
bool config_path(const local_storage* ls, const char* port_id, const char* file_name, char (&path)[kPathSize]) {
    if (!check_component(TAG, "port id", port_id, true) || !check_component(TAG, "file name", file_name, false))
        return false;
    char root[kPathSize];
    {
        std::lock_guard<std::mutex> lock(g_root_mutex);
        memcpy(root, g_config_root, sizeof root);
    }
    if (port_id)
        return build_path(TAG, path, sizeof path, "%s/%s/%s/%s/%s/%s", root, ls->user_id, ls->app_id, ls->node_id,
                          port_id, file_name);
    return build_path(TAG, path, sizeof path, "%s/%s/%s/%s/%s", root, ls->user_id, ls->app_id, ls->node_id, file_name);
}

// root/url/filename of a temporary file.
bool tmp_path(const char* url, const char* filename, char (&path)[kPathSize]) {
    const char* root = get_temp_dir();
    if (!root || !qb::storage::check_location(TAG, url) || !check_component(TAG, "file name", filename, false))
        return false;
    return build_path(TAG, path, sizeof path, "%s/%s/%s", root, url, filename);
}

// root + "/" + path for the extra file operations. "" names the root itself,
// which the queries accept and the operations that change things refuse.
bool rooted(const char* rel, char (&path)[kPathSize], bool root_itself_ok = false) {
    const char* root = get_temp_dir();
    if (!root) return false;
    if (!(root_itself_ok && rel && !*rel) && !qb::storage::check_relative(TAG, rel)) return false;
    return build_path(TAG, path, sizeof path, "%s/%s", root, rel);
}

bool is_type(const char* rel, mode_t type) {
    char path[kPathSize];
    struct stat st;
    return rooted(rel, path, true) && stat(path, &st) == 0 && (st.st_mode & S_IFMT) == type;
}

// ls_copy joins without a separator; that join must not name a sibling of
// the root ("/data/r" + "x" is "/data/rx").
bool copy_path(const char* root, const char* rel, char (&path)[kPathSize]) {
    if (!qb::storage::check_relative(TAG, rel)) return false;
    size_t n = strlen(root);
    if (rel[0] != '/' && root[n - 1] != '/') {
        LOGE(TAG, "Invalid path: not below the storage root");
        return false;
    }
    return build_path(TAG, path, sizeof path, "%s%s", root, rel);
}

// Constant: the front end holds it through a non-const pointer but never writes.
const qb_storage_impl_t local_storage_impl = {ls_init,          ls_deinit,    ls_save_config, ls_load_config,
                                        ls_delete_config, ls_save_file, ls_load_file,   ls_delete_file};
}  // namespace

namespace qb {

void local_storage_set_config_root(const char* dir) {
    std::lock_guard<std::mutex> lock(g_root_mutex);
    snprintf(g_config_root, sizeof g_config_root, "%s", dir ? dir : kDefaultConfigRoot);
}

void local_storage_forget_root() {
    std::lock_guard<std::mutex> lock(g_root_mutex);
    g_root_set.store(false, std::memory_order_release);
    g_temp_path[0] = '\0';
}

}  // namespace qb

extern "C" {

QB_API qb_storage_impl_t* qb_storage_get_local(void) { return const_cast<qb_storage_impl_t*>(&local_storage_impl); }

QB_API LS_Handle ls_init(void) {
    static const char* const keys[3] = {"--user-id", "--app-id", "--node-id"};
    char* values[3] = {};
    bool ok = true;
    for (int i = 0; i < 3; ++i) {
        values[i] = param(keys[i]);
        if (!values[i]) {
            LOGE(TAG, "Missing parameter %s", keys[i]);
            ok = false;
        } else if (!check_component(TAG, keys[i], values[i], false)) {
            ok = false;
        }
    }
    local_storage* ls = ok ? static_cast<local_storage*>(calloc(1, sizeof(local_storage))) : nullptr;
    if (!ls) {
        for (char* v : values) free(v);
        return nullptr;
    }
    ls->user_id = values[0];
    ls->app_id = values[1];
    ls->node_id = values[2];
    return ls;
}

QB_API int ls_deinit(LS_Handle hdl) {
    local_storage* ls = record(hdl);
    if (!ls) return -1;
    free(ls->user_id);
    free(ls->app_id);
    free(ls->node_id);
    free(ls);
    return 0;
}

QB_API int ls_save_config(LS_Handle hdl, char* port_id, char* file_name, char* buffer, int size) {
    local_storage* ls = record(hdl);
    char path[kPathSize];
    if (!ls || !config_path(ls, port_id, file_name, path)) return -1;
    struct stat st;
    if (stat(path, &st) != 0) File_Mkdir(path, 0755);
    return File_Write(path, buffer, size);
}

QB_API int ls_load_config(LS_Handle hdl, char* port_id, char* file_name, char** buffer, int* size) {
    local_storage* ls = record(hdl);
    char path[kPathSize];
    if (!ls || !buffer || !size || !config_path(ls, port_id, file_name, path) || !File_Exists(path)) return -1;
    char* text = File_Read_String(path);
    if (!text) return -1;
    *buffer = text;
    *size = static_cast<int>(strlen(text));
    return 0;
}

QB_API int ls_delete_config(LS_Handle hdl, char* port_id, char* file_name) {
    local_storage* ls = record(hdl);
    char path[kPathSize];
    if (!ls || !config_path(ls, port_id, file_name, path) || !File_Exists(path)) return -1;
    return File_Delete(path);
}

QB_API char* ls_save_file(LS_Handle hdl, char* request_id, char* port_id, char* file_name, char* buffer, int size) {
    local_storage* ls = record(hdl);
    if (!ls) return nullptr;
    const char* root = get_temp_dir();
    if (!root) return nullptr;
    char uuid[UUID4_LEN];
    const char* request = qb::storage::save_request(TAG, request_id, port_id, file_name, uuid);
    if (!request) return nullptr;

    char studio[kPathSize];
    char full[kPathSize];
    bool built = port_id ? build_path(TAG, studio, sizeof studio, "studio/%s/%s/%s/%s/%s/%s", ls->user_id,
                                      ls->app_id, request, ls->node_id, port_id, file_name)
                         : build_path(TAG, studio, sizeof studio, "studio/%s/%s/%s/%s/%s", ls->user_id, ls->app_id,
                                      request, ls->node_id, file_name);
    if (!built || !build_path(TAG, full, sizeof full, "%s/%s", root, studio)) return nullptr;

    struct stat st;
    if (stat(full, &st) == 0)
        LOGE(TAG, "Already exists %s", full);
    else
        File_Mkdir(full, 0755);
    // A location that points at nothing would be a failure reported as success.
    if (File_Write(full, buffer, size) < 0) return nullptr;
    return qb::storage::location_of(studio);
}

QB_API int ls_load_file(LS_Handle hdl, char* url, char* filename, char** outbuffer, int* bufferlen) {
    char path[kPathSize];
    if (!record(hdl) || !tmp_path(url, filename, path)) return -1;
    LOGD(TAG, "Load from %s", path);
    return File_Read_Binary(path, outbuffer, bufferlen);
}

QB_API int ls_delete_file(LS_Handle hdl, char* url, char* filename) {
    char path[kPathSize];
    if (!record(hdl) || !tmp_path(url, filename, path)) return -1;
    LOGD(TAG, "delete from %s", path);
    return File_Delete(path);
}

QB_API int ls_copy(LS_Handle hdl, char* from_path, char* to_path) {
    const char* root = get_temp_dir();
    char from[kPathSize];
    char to[kPathSize];
    if (!root || !copy_path(root, from_path, from) || !copy_path(root, to_path, to)) return -1;
    LOGD(TAG, "Copy %s -> %s", from, to);
    return File_Copy(from, to);
}

QB_API int ls_remove(LS_Handle hdl, char* path) {
    char full[kPathSize];
    if (!rooted(path, full)) return -1;
    if (remove(full) != 0) {
        LOGE(TAG, "Remove failed: errno=%d", errno);
        return -1;
    }
    LOGD(TAG, "Removed %s.", path);
    return 0;
}

QB_API int ls_is_folder(LS_Handle hdl, char* path) { return is_type(path, S_IFDIR) ? 0 : -1; }

QB_API int ls_is_file(LS_Handle hdl, char* path) { return is_type(path, S_IFREG) ? 0 : -1; }

QB_API int ls_get_storage_md5(LS_Handle hdl, char* path, char* digest) {
    char full[kPathSize];
    if (!digest || !rooted(path, full)) return -1;
    return SDK_MD5File(full, reinterpret_cast<unsigned char*>(digest));
}

QB_API int ls_get_storage_size(LS_Handle hdl, char* path, int* size) {
    char full[kPathSize];
    if (!size || !rooted(path, full, true)) return -1;
    *size = File_Len(full);
    return 0;
}

}  // extern "C"
