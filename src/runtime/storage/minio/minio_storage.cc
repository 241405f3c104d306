#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <tuple>

#include "minio_storage.h"
#include "runtime/object_keys.h"
#include "sdk_file_ops.h"
#include "sdk_logger.h"
#include "sdk_os.h"

namespace {
constexpr const char* TAG = "MINIO_STORAGE";
using qb::storage::build_path;
using qb::storage::kPathSize;

struct minio_storage {
    char* user_id;
    char* app_id;
    char* node_id;
    char* bucket;
    char* endpoint;
    char* accessKey;
    char* secretKey;
};

minio_storage* record(Minio_Handle h) {
    if (!h) LOGE(TAG, "Null handle");
    return static_cast<minio_storage*>(h);
}

qb::storage::object_owner owner(const minio_storage* m) { return {m->user_id, m->app_id, m->node_id}; }

// Names arrive from upstream messages: each argument becomes one shell word
// whatever it holds (' is written as '\'').
std::string sh_quote(const char* s) {
    std::string q = "'";
    for (; *s; ++s) {
        if (*s == '\'')
            q += "'\\''";
        else
            q += *s;
    }
    return q + "'";
}

// The command line of fmt with every argument quoted.
template <typename... Args>
std::string mc_line(const char* fmt, const Args*... args) {
    return std::apply(
        [fmt](const auto&... q) {
            int n = snprintf(nullptr, 0, fmt, q.c_str()...);
            std::string line(n > 0 ? static_cast<size_t>(n) : 0, '\0');
            snprintf(line.data(), line.size() + 1, fmt, q.c_str()...);
            return line;
        },
        std::make_tuple(sh_quote(args)...));
}

// Runs the line and applies the outcome test: no output (the command failed)
// or output that reports an ERROR is a failure.
bool run_mc(const std::string& line) {
    const char* out = exec_cmd_with_result(const_cast<char*>(line.c_str()));
    if (!out) {
        LOGE(TAG, "No result");
        return false;
    }
    if (strstr(out, "ERROR")) {
        LOGE(TAG, "Error:%s", out);
        return false;
    }
    return true;
}

// The local go-between file: a fresh name in the temporary directory (never
// the caller's file name), removed when the operation ends.
class local_file {
public:
    local_file() {
        std::string tmpl = std::string(os_temp_dir()) + "/qb-minio-XXXXXX";
        int fd = mkostemp(tmpl.data(), O_CLOEXEC);
        if (fd < 0) {
            LOGE(TAG, "Cannot create a local file in %s: errno=%d", os_temp_dir(), errno);
            return;
        }
        close(fd);
        path_ = tmpl;
    }
    ~local_file() {
        if (!path_.empty()) unlink(path_.c_str());
    }
    local_file(const local_file&) = delete;
    local_file& operator=(const local_file&) = delete;

    const char* path() const { return path_.empty() ? nullptr : path_.c_str(); }
    bool write(char* buffer, int size) { return path() && File_Write(path_.data(), buffer, size) == size; }
    // The whole file with a zero byte after it (File_Read_Binary).
    int read(char** out, int* size) { return path() ? File_Read_Binary(path_.data(), out, size) : -1; }

private:
    std::string path_;
};

bool valid_buffer(const char* buffer, int size) {
    if (size >= 0 && (buffer || size == 0)) return true;
    LOGE(TAG, "Invalid buffer (size %d)", size);
    return false;
}

// fmt takes the local file, then the remote object's pieces.
template <typename... Args>
int upload(char* buffer, int size, const char* fmt, const Args*... remote) {
    local_file f;
    if (!f.write(buffer, size)) return -1;
    return run_mc(mc_line(fmt, f.path(), remote...)) ? 0 : -1;
}

// fmt takes the remote object's pieces, then the local file.
template <typename... Args>
int download(char** out, int* size, const char* fmt, const Args*... remote) {
    if (!out || !size) return -1;
    local_file f;
    if (!f.path() || !run_mc(mc_line(fmt, remote..., f.path()))) return -1;
    return f.read(out, size);
}

bool remote_config(const minio_storage* m, const char* port_id, const char* file_name, char (&remote)[kPathSize]) {
    char prefix[kPathSize];
    return build_path(TAG, prefix, sizeof prefix, "%s/quorbit/", m->bucket) &&
           qb::storage::config_key(TAG, owner(m), prefix, port_id, file_name, remote);
}

const qb_storage_impl_t minio_storage_impl = {minio_init,          minio_deinit,    minio_save_config,
                                              minio_load_config,   minio_delete_config, minio_save_file,
                                              minio_load_file,     minio_delete_file};
}  // namespace

extern "C" {

QB_API qb_storage_impl_t* qb_storage_get_minio(void) { return const_cast<qb_storage_impl_t*>(&minio_storage_impl); }

QB_API Minio_Handle minio_init(void) {
    // The bucket is an mc alias and the first component of every object.
    static const qb::storage::wanted_param params[7] = {
        {"--user-id", true},           {"--app-id", true},
        {"--node-id", true},           {"--storage-minio-bucket-name", true},
        {"--storage-minio-endpoint", false}, {"--storage-minio-access-key", false},
        {"--storage-minio-secret-key", false}};
    char* v[7];
    if (!qb::storage::read_params(TAG, params, 7, v)) return nullptr;
    // A leading "-" would make mc read the alias as an option, quoted or not.
    minio_storage* m = v[3][0] == '-' ? nullptr : static_cast<minio_storage*>(calloc(1, sizeof(minio_storage)));
    if (!m) {
        if (v[3][0] == '-') LOGE(TAG, "Invalid --storage-minio-bucket-name: starts with '-'");
        for (char* s : v) free(s);
        return nullptr;
    }
    *m = {v[0], v[1], v[2], v[3], v[4], v[5], v[6]};
    const char* out = exec_cmd_with_result(const_cast<char*>(
        mc_line("mc config host add %s %s %s %s ", m->bucket, m->endpoint, m->accessKey, m->secretKey).c_str()));
    if (out && strstr(out, "successfully")) return m;
    if (!out)
        LOGE(TAG, "No result");
    else
        LOGE(TAG, "Error:%s", out);
    minio_deinit(m);
    return nullptr;
}

QB_API int minio_deinit(Minio_Handle h) {
    minio_storage* m = static_cast<minio_storage*>(h);
    if (!m) return 0;
    for (char* s : {m->user_id, m->app_id, m->node_id, m->bucket, m->endpoint, m->accessKey, m->secretKey}) free(s);
    free(m);
    return 0;
}

QB_API int minio_save_config(Minio_Handle h, char* port_id, char* file_name, char* buffer, int size) {
    minio_storage* m = record(h);
    char remote[kPathSize];
    if (!m || !valid_buffer(buffer, size) || !remote_config(m, port_id, file_name, remote)) return -1;
    return upload(buffer, size, "mc cp -a %s %s", remote);
}

QB_API int minio_load_config(Minio_Handle h, char* port_id, char* file_name, char** buffer, int* size) {
    minio_storage* m = record(h);
    char remote[kPathSize];
    if (!m || !remote_config(m, port_id, file_name, remote)) return -1;
    return download(buffer, size, "mc cp  %s %s", remote);
}

QB_API int minio_delete_config(Minio_Handle h, char* port_id, char* file_name) {
    minio_storage* m = record(h);
    char remote[kPathSize];
    if (!m || !remote_config(m, port_id, file_name, remote)) return -1;
    return run_mc(mc_line("mc rm  %s", remote)) ? 0 : -1;
}

QB_API char* minio_save_file(Minio_Handle h, char* request_id, char* port_id, char* file_name, char* buffer,
                             int size) {
    minio_storage* m = record(h);
    char key[kPathSize];
    if (!m || !valid_buffer(buffer, size) || !qb::storage::tmp_key(TAG, owner(m), request_id, port_id, file_name, key))
        return nullptr;
    if (upload(buffer, size, "mc cp -a %s %s/quorbit/%s", m->bucket, key) != 0) return nullptr;
    return qb::storage::location_of(key);
}

QB_API int minio_load_file(Minio_Handle h, char* url, char* filename, char** outbuffer, int* bufferlen) {
    minio_storage* m = record(h);
    char key[kPathSize];
    if (!m || !qb::storage::tmp_object(TAG, url, filename, key)) return -1;
    return download(outbuffer, bufferlen, "mc cp  %s/quorbit/%s/%s %s", m->bucket, url, filename);
}

QB_API int minio_delete_file(Minio_Handle h, char* url, char* filename) {
    minio_storage* m = record(h);
    char key[kPathSize];
    if (!m || !qb::storage::tmp_object(TAG, url, filename, key)) return -1;
    return run_mc(mc_line("mc rm  %s/quorbit/%s/%s", m->bucket, url, filename)) ? 0 : -1;
}

}  // extern "C"
