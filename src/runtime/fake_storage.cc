#include <cstdlib>
#include <cstring>

#include "fake_storage.h"
#include "qb_storage_impl.h"
#include "runtime/storage_paths.h"
#include "sdk_file_ops.h"
#include "sdk_logger.h"
#include "uuid4.h"

namespace {
constexpr const char* TAG = "FAKE_STORAGE";
using qb::storage::build_path;
using qb::storage::check_component;
using qb::storage::kPathSize;

// configs[/port]/file below the working directory.
bool config_path(const char* port_id, const char* file_name, char (&path)[kPathSize]) {
    if (!check_component(TAG, "port id", port_id, true) || !check_component(TAG, "file name", file_name, false))
        return false;
    if (port_id) return build_path(TAG, path, sizeof path, "configs/%s/%s", port_id, file_name);
    return build_path(TAG, path, sizeof path, "configs/%s", file_name);
}

bool tmp_path(const char* url, const char* filename, char (&path)[kPathSize]) {
    if (!qb::storage::check_location(TAG, url) || !check_component(TAG, "file name", filename, false)) return false;
    return build_path(TAG, path, sizeof path, "%s/%s", url, filename);
}

const qb_storage_impl_t fake_storage_impl = {
    fake_storage_init,     fake_storage_deinit,    fake_storage_save_config, fake_storage_load_config,
    fake_storage_delete_config, fake_storage_save_file, fake_storage_load_file, fake_storage_delete_file};
}  // namespace

extern "C" {

QB_API qb_storage_impl_t* qb_storage_get_fake(void) { return const_cast<qb_storage_impl_t*>(&fake_storage_impl); }

QB_API void* fake_storage_init(void) { return nullptr; }

QB_API int fake_storage_deinit(void* hdl) { return 0; }

QB_API int fake_storage_save_config(void* hdl, char* port_id, char* file_name, char* buffer, int size) {
    char path[kPathSize];
    if (!config_path(port_id, file_name, path)) return -1;
    if (!File_Exists(path)) File_Mkdir(path, 0755);
    return File_Write(path, buffer, size);
}

QB_API int fake_storage_load_config(void* hdl, char* port_id, char* file_name, char** buffer, int* size) {
    char path[kPathSize];
    if (!buffer || !size || !config_path(port_id, file_name, path) || !File_Exists(path)) return -1;
    char* text = File_Read_String(path);
    if (!text) return -1;
    *buffer = text;
    *size = static_cast<int>(strlen(text));
    return 0;
}

QB_API int fake_storage_delete_config(void* hdl, char* port_id, char* file_name) {
    char path[kPathSize];
    if (!config_path(port_id, file_name, path) || !File_Exists(path)) return -1;
    return File_Delete(path);
}

QB_API char* fake_storage_save_file(void* hdl, char* request_id, char* port_id, char* file_name, char* buffer,
                                    int size) {
    char uuid[UUID4_LEN];
    const char* request = qb::storage::save_request(TAG, request_id, port_id, file_name, uuid);
    if (!request) return nullptr;
    char path[kPathSize];
    bool built = port_id ? build_path(TAG, path, sizeof path, "studio/%s/%s/%s", request, port_id, file_name)
                         : build_path(TAG, path, sizeof path, "studio/%s/%s", request, file_name);
    if (!built) return nullptr;
    if (File_Exists(path))
        LOGE(TAG, "Already exists %s", path);
    else
        File_Mkdir(path, 0755);
    // A location that points at nothing would be a failure reported as success.
    if (File_Write(path, buffer, size) < 0) return nullptr;
    return qb::storage::location_of(path);
}

QB_API int fake_storage_load_file(void* hdl, char* url, char* filename, char** outbuffer, int* bufferlen) {
    char path[kPathSize];
    if (!tmp_path(url, filename, path)) return -1;
    return File_Read_Binary(path, outbuffer, bufferlen);
}

QB_API int fake_storage_delete_file(void* hdl, char* url, char* filename) {
    char path[kPathSize];
    if (!tmp_path(url, filename, path)) return -1;
    return File_Delete(path);
}

}  // extern "C"
