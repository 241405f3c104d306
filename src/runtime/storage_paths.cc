#include "runtime/storage_paths.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "sdk_logger.h"
#include "uuid4.h"

namespace qb::storage {

namespace {
bool is_dot_entry(const char* s, size_t n) { return (n == 1 && s[0] == '.') || (n == 2 && s[0] == '.' && s[1] == '.'); }

bool has_line_break(const char* s) { return strpbrk(s, "\r\n") != nullptr; }

// Every "/"-separated piece is a component; empty pieces allowed only when asked.
bool components_ok(const char* path, bool allow_empty) {
    bool any = false;
    for (const char* p = path;;) {
        const char* end = strchr(p, '/');
        size_t n = end ? static_cast<size_t>(end - p) : strlen(p);
        if (n == 0) {
            if (!allow_empty) return false;
        } else {
            if (is_dot_entry(p, n)) return false;
            any = true;
        }
        if (!end) break;
        p = end + 1;
    }
    return any;
}
}  // namespace

bool is_component(const char* s) {
    return s && *s && !strchr(s, '/') && !has_line_break(s) && !is_dot_entry(s, strlen(s));
}

bool is_location(const char* url) {
    static constexpr char kPrefix[] = "studio/";
    if (!url || strncmp(url, kPrefix, sizeof kPrefix - 1) != 0 || has_line_break(url)) return false;
    return components_ok(url, false);
}

bool is_relative(const char* path) { return path && !has_line_break(path) && components_ok(path, true); }

const char* save_request(const char* tag, const char* request_id, const char* port_id, const char* file_name,
                         char* uuid) {
    if (!request_id) {
        uuid4_init();
        uuid4_generate(uuid);
    }
    const char* request = request_id ? request_id : uuid;
    if (!check_component(tag, "request id", request, false) || !check_component(tag, "port id", port_id, true) ||
        !check_component(tag, "file name", file_name, false))
        return nullptr;
    return request;
}

bool check_component(const char* tag, const char* what, const char* s, bool may_be_null) {
    if ((!s && may_be_null) || is_component(s)) return true;
    LOGE(tag, "Invalid %s: not a single path component", what);
    return false;
}

bool check_location(const char* tag, const char* url) {
    if (is_location(url)) return true;
    LOGE(tag, "Invalid url: not a studio/ location");
    return false;
}

bool check_relative(const char* tag, const char* path) {
    if (is_relative(path)) return true;
    LOGE(tag, "Invalid path: not below the storage root");
    return false;
}

bool build_path(const char* tag, char* buf, size_t size, const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    int n = vsnprintf(buf, size, fmt, ap);
    va_end(ap);
    if (n >= 0 && static_cast<size_t>(n) < size) return true;
    LOGE(tag, "Path too long (limit %zu bytes)", size - 1);
    buf[0] = '\0';
    return false;
}

char* location_of(const char* studio_path) {
    for (size_t i = strlen(studio_path); i-- > 1;)
        if (studio_path[i] == '/') return strndup(studio_path, i);
    return strdup(studio_path);
}

}  // namespace qb::storage
