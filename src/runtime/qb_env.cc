#include <cstdlib>
#include <cstring>
#include <mutex>

#include "base64.h"
#include "config_file.h"
#include "foundation/env_lock.h"
#include "foundation/parse_argv_internal.h"
#include "qb_env.h"

extern char** environ;

namespace {
constexpr size_t kNameSize = 100;
constexpr char kParamVar[] = "QB_PARAM=";

// "--mq-type" -> "QB_MQ_TYPE=". False when the name would not fit.
bool derive_name(const char* key, char (&name)[kNameSize]) {
    size_t len = strlen(key);
    const char* rest = key + (len < 2 ? len : 2);
    size_t rest_len = strlen(rest);
    if (3 + rest_len + 1 + 1 > kNameSize) return false;
    memcpy(name, "QB_", 3);
    memcpy(name + 3, rest, rest_len);
    name[3 + rest_len] = '=';
    name[4 + rest_len] = '\0';
    str_stransform(name);
    return true;
}

// The value of key in the Base64 argument line text, or null.
char* lookup_param_line(const char* encoded, char* key) {
    size_t len = strlen(encoded);
    // The decoder yields at most 3 bytes per 4 characters plus 2 for a short
    // tail, then a NUL; this covers that and is never 0 bytes.
    unsigned char* line = static_cast<unsigned char*>(calloc(len / 4 * 3 + 4, 1));
    if (!line) return nullptr;
    sdk_base64_decode(encoded, line);
    char* word = parse_args(reinterpret_cast<char*>(line), key);
    char* value = nullptr;
    if (word) {
        // Each value word carries one delimiter at each end (a quote).
        size_t wlen = strlen(word);
        value = wlen >= 2 ? strndup(word + 1, wlen - 2) : strdup("");
    }
    free(line);
    return value;
}
}  // namespace

extern "C" {

QB_API void str_stransform(char* target) {
    if (!target) return;
    for (char* p = target; *p; ++p) {
        if (*p == '-')
            *p = '_';
        else if (*p >= 'a' && *p <= 'z')
            *p = static_cast<char>(*p - 'a' + 'A');
    }
}

QB_API char* qb_get_env_real(char* config_name) {
    if (!config_name) return nullptr;
    char name[kNameSize];
    if (!derive_name(config_name, name)) return nullptr;
    const size_t name_len = strlen(name);
    const size_t param_len = sizeof kParamVar - 1;

    // setenv elsewhere in the library may reallocate environ during the walk.
    std::lock_guard<std::mutex> lock(qb::env_mutex());
    for (char** e = environ; e && *e; ++e) {
        const char* entry = *e;
        if (strncmp(entry, kParamVar, param_len) == 0) {
            if (char* value = lookup_param_line(entry + param_len, config_name)) return value;
        }
        if (strncmp(entry, name, name_len) == 0) return strdup(entry + name_len);
    }
    return nullptr;
}

QB_API int quorbit_valid(void) {
    char key[] = "--mq-type";
    char* value = qb_get_env_real(key);
    if (!value) return 0;
    free(value);
    return 1;
}

QB_API char* qb_get_fake_env(char* config_name) {
    if (!config_name) return nullptr;
    void* store = Config_Init();
    if (!store) return nullptr;
    // The store's interface takes mutable strings.
    char file[] = "qb_env.ini";
    char section[] = "env";
    Config_File_Load(store, file);
    char* result = nullptr;
    char* value = nullptr;
    if (Config_Section_Exists(store, section) && Config_Get(store, section, config_name, &value) == 0 && value)
        result = strdup(value);
    Config_Close(store);
    return result;
}

QB_API char* qb_get_env(char* config_name) {
    return quorbit_valid() ? qb_get_env_real(config_name) : qb_get_fake_env(config_name);
}

}  // extern "C"
