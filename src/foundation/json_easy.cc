#include "json_easy.h"

#include <cstdlib>
#include <cstring>

#include "sdk_logger.h"

namespace {
constexpr const char* TAG = "JSON_EASY";
// Longest name in front of "[": array members are looked up by a bounded copy.
constexpr size_t kMaxIndexedName = 49;

json_object* resolve(json_object* cur, const char* path);

json_object* member(json_object* cur, const char* name) {
    json_object* out = nullptr;
    if (!json_object_is_type(cur, json_type_object)) return nullptr;
    if (!json_object_object_get_ex(cur, name, &out)) return nullptr;
    return out;
}

// Decimal text between "[" and "]", optionally negative; anything else is no index.
bool parse_index(const char* p, const char* end, long long* out) {
    bool negative = false;
    if (p < end && *p == '-') {
        negative = true;
        ++p;
    }
    if (p == end) return false;
    long long value = 0;
    for (; p < end; ++p) {
        if (*p < '0' || *p > '9') return false;
        // Anything this large is beyond every array; stop before it overflows.
        if (value > (1LL << 40)) return false;
        value = value * 10 + (*p - '0');
    }
    *out = negative ? -value : value;
    return true;
}

json_object* indexed(json_object* cur, const char* comp, const char* open) {
    const char* close = strchr(open + 1, ']');
    if (!close) return nullptr;
    size_t name_len = static_cast<size_t>(open - comp);
    if (name_len > kMaxIndexedName) return nullptr;
    long long index = 0;
    if (!parse_index(open + 1, close, &index)) return nullptr;
    char name[kMaxIndexedName + 1];
    memcpy(name, comp, name_len);
    name[name_len] = '\0';
    // An empty name is an empty path, so "[0]" indexes the current node.
    json_object* array = resolve(cur, name);
    if (!json_object_is_type(array, json_type_array)) return nullptr;
    if (index < 0 || static_cast<unsigned long long>(index) >= json_object_array_length(array)) return nullptr;
    return json_object_array_get_idx(array, static_cast<size_t>(index));
}

json_object* resolve(json_object* cur, const char* path) {
    char* copy = strdup(path);
    if (!copy) return nullptr;
    char* save = nullptr;
    for (char* comp = strtok_r(copy, ".", &save); comp; comp = strtok_r(nullptr, ".", &save)) {
        const char* open = strchr(comp, '[');
        cur = open ? indexed(cur, comp, open) : member(cur, comp);
        if (!cur) {
            LOGV(TAG, "GET %s FAIL", comp);
            break;
        }
    }
    free(copy);
    return cur;
}

int add_member(json_object* o, const char* key, json_object* val) {
    if (!val) return -1;
    int rc = json_object_object_add(o, key, val);
    if (rc != 0) json_object_put(val);
    return rc;
}

bool refuse_add(json_object* o, const char* key) {
    if (!o) return true;
    if (!key || !json_object_is_type(o, json_type_object)) {
        LOGE(TAG, "Add %s failed", key ? key : "(null)");
        return true;
    }
    return false;
}
}  // namespace

extern "C" {

QB_API struct json_object* Json_get_obj(struct json_object* o, char* sub_path) {
    if (!o || !sub_path) return nullptr;
    return resolve(o, sub_path);
}

QB_API char* Json_get_str(struct json_object* o, char* sub_path) {
    json_object* node = Json_get_obj(o, sub_path);
    if (!node) {
        LOGV(TAG, "Get Str %s failed", sub_path ? sub_path : "(null)");
        return nullptr;
    }
    return const_cast<char*>(json_object_get_string(node));
}

QB_API int Json_get_int(struct json_object* o, char* sub_path) {
    json_object* node = Json_get_obj(o, sub_path);
    if (!node) {
        LOGV(TAG, "Get Str %s failed", sub_path ? sub_path : "(null)");
        return -1;
    }
    return json_object_get_int(node);
}

QB_API int Json_add_str(struct json_object* o, char* key, char* str) {
    if (refuse_add(o, key)) return -1;
    // json-c would strdup(NULL); a missing value adds nothing.
    if (!str) {
        LOGE(TAG, "Add %s failed", key);
        return -1;
    }
    return add_member(o, key, json_object_new_string(str));
}

QB_API int Json_add_int(struct json_object* o, char* key, int val) {
    if (refuse_add(o, key)) return -1;
    return add_member(o, key, json_object_new_int(val));
}

}  // extern "C"
