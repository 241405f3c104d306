#include "config_file.h"

#include <fcntl.h>
#include <ini.h>
#include <json-c/json.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "sdk_logger.h"

namespace {
constexpr const char* TAG = "CONFIG_FILE";

config_handle* handle_of(void* handle) {
    if (!handle) LOGE(TAG, "Config file handle error");
    return static_cast<config_handle*>(handle);
}

// Null names used to crash in strlen; they are refused with the operation's failure value.
bool refuse_null(const char* op, bool any_null) {
    if (any_null) LOGE(TAG, "%s: null argument", op);
    return any_null;
}

class Guard {
public:
    explicit Guard(config_handle* h) : mutex_(&h->mutex) { os_mutex_lock(mutex_); }
    ~Guard() { os_mutex_unlock(mutex_); }
    Guard(const Guard&) = delete;
    Guard& operator=(const Guard&) = delete;

private:
    os_mutex* mutex_;
};

char* copy_string(const char* s) {
    size_t len = strlen(s);
    if (len >= static_cast<size_t>(INT_MAX)) return nullptr;
    auto* copy = static_cast<char*>(os_zalloc(static_cast<int>(len + 1)));
    if (copy) memcpy(copy, s, len);
    return copy;
}

// The finders below expect the caller to hold the handle's mutex.
config_section* find_section(config_handle* h, const char* key) {
    config_section* s;
    list_for_each_entry(s, &h->section_list, node) {
        if (strcmp(s->key, key) == 0) return s;
    }
    return nullptr;
}

config_entry* find_entry(config_section* s, const char* key) {
    config_entry* e;
    list_for_each_entry(e, &s->entry_list, node) {
        if (strcmp(e->key, key) == 0) return e;
    }
    return nullptr;
}

config_entry* find_entry(config_handle* h, const char* section_key, const char* key) {
    config_section* s = find_section(h, section_key);
    return s ? find_entry(s, key) : nullptr;
}

void free_entry(config_entry* e) {
    list_del(&e->node);
    free(e->key);
    free(e->val);
    free(e);
}

void free_section(config_section* s) {
    config_entry *e, *next;
    list_for_each_entry_safe(e, next, &s->entry_list, node) free_entry(e);
    list_del(&s->node);
    free(s->key);
    free(s);
}

config_entry* new_entry(const char* key, const char* val) {
    auto* e = static_cast<config_entry*>(os_zalloc(sizeof(config_entry)));
    if (!e) return nullptr;
    e->key = copy_string(key);
    e->val = copy_string(val);
    if (!e->key || !e->val) {
        free(e->key);
        free(e->val);
        free(e);
        return nullptr;
    }
    return e;
}

config_section* new_section(const char* key) {
    auto* s = static_cast<config_section*>(os_zalloc(sizeof(config_section)));
    if (!s) return nullptr;
    s->key = copy_string(key);
    if (!s->key) {
        free(s);
        return nullptr;
    }
    INIT_LIST_HEAD(&s->entry_list);
    return s;
}

int ini_handle(void* user, const char* section, const char* name, const char* value) {
    Config_Add(user, const_cast<char*>(section), const_cast<char*>(name), const_cast<char*>(value));
    return 0;
}

// Clears the store and parses text into it; no I/O, so it can be fed raw bytes.
int parse_text(void* handle, const char* text) {
    Config_Delete_All(handle);
    if (ini_parse_string(text, ini_handle, handle) < 0) {
        LOGE(TAG, "Config file parse error");
        return -1;
    }
    return 0;
}

// The INI text of the whole store; false only when memory runs out.
bool render(config_handle* h, std::string& out) {
    try {
        Guard g(h);
        config_section* s;
        list_for_each_entry(s, &h->section_list, node) {
            out += '[';
            out += s->key;
            out += "]\n";
            config_entry* e;
            list_for_each_entry(e, &s->entry_list, node) {
                if (e->key[0] == '\0') continue;
                out += e->key;
                out += '=';
                out += e->val;
                out += '\n';
            }
        }
        return true;
    } catch (...) {
        return false;
    }
}

int take_json(json_object* doc, char** json) {
    if (!doc) return -1;
    char* text = strdup(json_object_to_json_string(doc));
    json_object_put(doc);
    if (!text) return -1;
    *json = text;
    return 0;
}

json_object* add_string(json_object* arr_or_obj, const char* key, const char* val) {
    json_object* s = json_object_new_string(val);
    if (!s) return nullptr;
    int rc = key ? json_object_object_add(arr_or_obj, key, s) : json_object_array_add(arr_or_obj, s);
    if (rc != 0) {
        json_object_put(s);
        return nullptr;
    }
    return s;
}

// Where a file write goes: a regular file (or a link to one) is replaced by a
// finished temp file so that a failed write leaves the old text in place.
// The replace is taken only where it changes nothing else; devices, fifos,
// files with further names and files the write could not keep as they are
// are written in place.
struct WritePlan {
    bool replace = false;
    std::string target;  // the path that is renamed over
    struct stat old {};
    bool had_old = false;
};

WritePlan plan_write(const char* file_name) {
    WritePlan plan;
    struct stat st;
    if (lstat(file_name, &st) != 0) {
        if (errno != ENOENT) return plan;
        plan.replace = true;
        plan.target = file_name;
        return plan;
    }
    plan.target = file_name;
    if (S_ISLNK(st.st_mode)) {
        // Keep the link: replace the file it points to.
        char* real = realpath(file_name, nullptr);
        if (!real) return plan;
        plan.target = real;
        free(real);
        if (stat(plan.target.c_str(), &st) != 0) return plan;
    }
    if (!S_ISREG(st.st_mode)) return plan;
    // A writable directory is no leave to write a read-only file: the file
    // itself must accept the open that writing in place would make.
    int fd = open(plan.target.c_str(), O_RDWR | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) return plan;
    bool usable = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    close(fd);
    // Other names of a hard-linked file would keep the old text.
    if (!usable || st.st_nlink != 1) return plan;
    plan.replace = true;
    plan.old = st;
    plan.had_old = true;
    return plan;
}

// The temp file must end up with the old file's owner, group and mode; an
// ordinary user cannot give a file away, so someone else's file is written
// in place instead.
bool keeps_owner_and_mode(int fd, const struct stat& old) {
    struct stat now;
    if (fchown(fd, old.st_uid, old.st_gid) != 0 || fchmod(fd, old.st_mode & 07777) != 0 || fstat(fd, &now) != 0)
        return false;
    return now.st_uid == old.st_uid && now.st_gid == old.st_gid && (now.st_mode & 07777) == (old.st_mode & 07777);
}

// Opens a fresh file next to the target; -1 when the directory refuses one
// or the file could not be given the old one's owner and mode.
int create_temp(const WritePlan& plan, std::string& temp_name) {
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 16; ++attempt) {
        char suffix[64];
        snprintf(suffix, sizeof suffix, ".tmp.%ld.%u", static_cast<long>(getpid()), counter.fetch_add(1));
        temp_name = plan.target + suffix;
        // 0666 lets the umask decide, as fopen would for a new file.
        int fd = open(temp_name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            if (plan.had_old && !keeps_owner_and_mode(fd, plan.old)) {
                close(fd);
                unlink(temp_name.c_str());
                return -1;
            }
            return fd;
        }
        if (errno != EEXIST) return -1;
    }
    return -1;
}

bool write_and_close(FILE* f, const std::string& text, bool sync) {
    bool ok = fwrite(text.data(), 1, text.size(), f) == text.size();
    ok = fflush(f) == 0 && ok;
    if (ok && sync && fsync(fileno(f)) != 0 && errno != EINVAL) ok = false;
    ok = fclose(f) == 0 && ok;
    return ok;
}

// 1 replaced, 0 not possible here (write in place), -1 the write failed.
int replace_file(const WritePlan& plan, const std::string& text) {
    std::string temp_name;
    int fd = create_temp(plan, temp_name);
    if (fd < 0) return 0;
    FILE* f = fdopen(fd, "wb");
    if (!f) {
        close(fd);
        unlink(temp_name.c_str());
        return 0;
    }
    if (!write_and_close(f, text, true)) {
        unlink(temp_name.c_str());
        return -1;
    }
    if (rename(temp_name.c_str(), plan.target.c_str()) == 0) return 1;
    unlink(temp_name.c_str());
    return 0;
}

int write_file(config_handle* h, const char* file_name) {
    const WritePlan plan = plan_write(file_name);
    std::string text;
    int rc = render(h, text) ? 0 : -1;
    if (rc == 0 && plan.replace) rc = replace_file(plan, text);
    if (rc == 0) {
        FILE* f = fopen(file_name, "wb+");
        if (!f) {
            LOGE(TAG, "Config file Open failed: %s", file_name);
            return -1;
        }
        rc = write_and_close(f, text, false) ? 1 : -1;
    }
    if (rc < 0) {
        LOGE(TAG, "Config file write failed: %s", file_name);
        return -1;
    }
    return 0;
}

// Index look-ups walk under the lock; the result points into the store.
char* item_at(void* handle, const char* op, char* section_key, int index, bool want_key) {
    config_handle* h = handle_of(handle);
    if (!h || refuse_null(op, !section_key) || index < 0) return nullptr;
    Guard g(h);
    config_section* s = find_section(h, section_key);
    if (!s) return nullptr;
    int i = 0;
    config_entry* e;
    list_for_each_entry(e, &s->entry_list, node) {
        if (i++ == index) return want_key ? e->key : e->val;
    }
    return nullptr;
}
}  // namespace

extern "C" {

QB_API void* Config_Init(void) {
    auto* h = static_cast<config_handle*>(os_zalloc(sizeof(config_handle)));
    if (!h) return nullptr;
    INIT_LIST_HEAD(&h->section_list);
    os_mutex_init(&h->mutex);
    return h;
}

QB_API int Config_Close(void* handle) {
    config_handle* h = handle_of(handle);
    if (!h) return -1;
    Config_Delete_All(h);
    os_mutex_deinit(&h->mutex);
    free(h);
    return 0;
}

QB_API int Config_Delete_All(void* handle) {
    config_handle* h = handle_of(handle);
    if (!h) return -1;
    Guard g(h);
    config_section *s, *next;
    list_for_each_entry_safe(s, next, &h->section_list, node) free_section(s);
    INIT_LIST_HEAD(&h->section_list);
    return 0;
}

QB_API int Config_Buffer_Load(void* handle, char* buffer) {
    if (!handle_of(handle) || refuse_null("Config_Buffer_Load", !buffer)) return -1;
    return parse_text(handle, buffer);
}

QB_API int Config_File_Load(void* handle, char* file_name) {
    if (!handle_of(handle) || refuse_null("Config_File_Load", !file_name)) return -1;
    FILE* f = fopen(file_name, "rb+");
    if (!f) {
        LOGE(TAG, "Config file Open failed: %s", file_name);
        return -1;
    }
    long size = -1;
    if (fseek(f, 0, SEEK_END) == 0) size = ftell(f);
    if (size < 0 || size >= INT_MAX || fseek(f, 0, SEEK_SET) != 0) {
        LOGE(TAG, "Reading config file failed\n");
        fclose(f);
        return -1;
    }
    auto* text = static_cast<char*>(os_zalloc(static_cast<int>(size) + 1));
    // Read before clearing, so a failed read leaves the store as it was.
    if (!text || fread(text, 1, static_cast<size_t>(size), f) != static_cast<size_t>(size)) {
        LOGE(TAG, "Reading config file failed\n");
        free(text);
        fclose(f);
        return -1;
    }
    int rc = parse_text(handle, text);
    free(text);
    fclose(f);
    return rc;
}

QB_API int Config_Buffer_Write(void* handle, char* buffer) {
    config_handle* h = handle_of(handle);
    if (!h || refuse_null("Config_Buffer_Write", !buffer)) return -1;
    std::string text;
    if (!render(h, text)) return -1;
    memcpy(buffer + strlen(buffer), text.c_str(), text.size() + 1);
    return 0;
}

QB_API int Config_Buffer_Write_N(void* handle, char* buffer, int size) {
    config_handle* h = handle_of(handle);
    if (!h || refuse_null("Config_Buffer_Write_N", !buffer)) return -1;
    if (size <= 0) {
        LOGE(TAG, "Config buffer too small: %d bytes", size);
        return -1;
    }
    std::string text;
    if (!render(h, text)) return -1;
    size_t used = strnlen(buffer, static_cast<size_t>(size));
    if (used == static_cast<size_t>(size) || text.size() >= static_cast<size_t>(size) - used) {
        LOGE(TAG, "Config buffer too small: %d bytes", size);
        return -1;
    }
    memcpy(buffer + used, text.c_str(), text.size() + 1);
    return 0;
}

QB_API int Config_File_Write(void* handle, char* file_name) {
    config_handle* h = handle_of(handle);
    if (!h || refuse_null("Config_File_Write", !file_name)) return -1;
    try {
        return write_file(h, file_name);
    } catch (...) {
        LOGE(TAG, "Config file write failed: %s", file_name);
        return -1;
    }
}

QB_API int Config_Section_Exists(void* handle, char* section_key) {
    config_handle* h = handle_of(handle);
    if (!h || refuse_null("Config_Section_Exists", !section_key)) return 0;
    Guard g(h);
    return find_section(h, section_key) ? 1 : 0;
}

QB_API int Config_Exists(void* handle, char* section_key, char* key) {
    config_handle* h = handle_of(handle);
    if (!h || refuse_null("Config_Exists", !section_key || !key)) return 0;
    Guard g(h);
    return find_entry(h, section_key, key) ? 1 : 0;
}

QB_API int Config_Get(void* handle, char* section_key, char* key, char** val) {
    config_handle* h = handle_of(handle);
    if (!h || refuse_null("Config_Get", !section_key || !key || !val)) return -1;
    {
        Guard g(h);
        if (config_entry* e = find_entry(h, section_key, key)) {
            *val = e->val;
            return 0;
        }
    }
    LOGE(TAG, "Read entry %s:%s fail not found", section_key, key);
    return -1;
}

QB_API char* Config_Get_Ptr(void* handle, char* section_key, char* key) {
    char* val = nullptr;
    Config_Get(handle, section_key, key, &val);
    return val;
}

QB_API int Config_Add_Section(void* handle, char* section_key) {
    config_handle* h = handle_of(handle);
    if (!h || refuse_null("Config_Add_Section", !section_key)) return -1;
    Guard g(h);
    if (find_section(h, section_key)) {
        LOGE(TAG, "Section %s Exists", section_key);
        return -1;
    }
    config_section* s = new_section(section_key);
    if (!s) return -1;
    list_add_tail(&s->node, &h->section_list);
    return 0;
}

QB_API int Config_Add(void* handle, char* section_key, char* key, char* val) {
    config_handle* h = handle_of(handle);
    if (!h || refuse_null("Config_Add", !section_key || !key)) return -1;
    // The existence test and the insertion are one critical section.
    Guard g(h);
    config_section* s = find_section(h, section_key);
    if (s && find_entry(s, key)) {
        LOGE(TAG, "Config %s:%s already exists", section_key, key);
        return -1;
    }
    if (s) {
        config_entry* e = new_entry(key, val ? val : "__undefined");
        if (!e) return -1;
        list_add_tail(&e->node, &s->entry_list);
        return 0;
    }
    s = new_section(section_key);
    config_entry* e = s ? new_entry(key, val ? val : "") : nullptr;
    if (!e) {
        if (s) {
            free(s->key);
            free(s);
        }
        return -1;
    }
    list_add_tail(&e->node, &s->entry_list);
    list_add_tail(&s->node, &h->section_list);
    return 0;
}

QB_API int Config_Update(void* handle, char* section_key, char* key, char* val) {
    config_handle* h = handle_of(handle);
    if (!h || refuse_null("Config_Update", !section_key || !key || !val)) return -1;
    {
        Guard g(h);
        if (config_entry* e = find_entry(h, section_key, key)) {
            char* copy = copy_string(val);
            if (!copy) return -1;
            free(e->val);
            e->val = copy;
            return 0;
        }
    }
    LOGE(TAG, "Update Entry fail not found");
    return -1;
}

QB_API int Config_Delete_Section(void* handle, char* section_key) {
    config_handle* h = handle_of(handle);
    if (!h || refuse_null("Config_Delete_Section", !section_key)) return -1;
    {
        Guard g(h);
        if (config_section* s = find_section(h, section_key)) {
            free_section(s);
            return 0;
        }
    }
    LOGE(TAG, "Delete Section not found");
    return -1;
}

QB_API int Config_Delete_Entry(void* handle, char* section_key, char* key) {
    config_handle* h = handle_of(handle);
    if (!h || refuse_null("Config_Delete_Entry", !section_key || !key)) return -1;
    {
        Guard g(h);
        if (config_entry* e = find_entry(h, section_key, key)) {
            free_entry(e);
            return 0;
        }
    }
    LOGE(TAG, "Delete Entry not found");
    return -1;
}

QB_API int Config_Section_Get_Count(void* handle) {
    config_handle* h = handle_of(handle);
    if (!h) return 0;
    Guard g(h);
    int count = 0;
    struct list_head* pos;
    list_for_each(pos, &h->section_list) ++count;
    return count;
}

QB_API char* Config_Section_Get_At(void* handle, int index) {
    config_handle* h = handle_of(handle);
    if (!h || index < 0) return nullptr;
    Guard g(h);
    int i = 0;
    config_section* s;
    list_for_each_entry(s, &h->section_list, node) {
        if (i++ == index) return s->key;
    }
    return nullptr;
}

QB_API int Config_Get_Count(void* handle, char* section_name) {
    config_handle* h = handle_of(handle);
    if (!h || refuse_null("Config_Get_Count", !section_name)) return -1;
    Guard g(h);
    config_section* s = find_section(h, section_name);
    if (!s) return 0;
    int count = 0;
    struct list_head* pos;
    list_for_each(pos, &s->entry_list) ++count;
    return count;
}

QB_API int Config_Item_Get_Count(void* handle, char* section_key) { return Config_Get_Count(handle, section_key); }

QB_API char* Config_Item_Get_Key_At(void* handle, char* section_key, int index) {
    return item_at(handle, "Config_Item_Get_Key_At", section_key, index, true);
}

QB_API char* Config_Item_Get_Val_At(void* handle, char* section_key, int index) {
    return item_at(handle, "Config_Item_Get_Val_At", section_key, index, false);
}

QB_API int Config_Dump(void* handle) {
    config_handle* h = handle_of(handle);
    if (!h) return -1;
    Guard g(h);
    printf("---------------------->\n");
    config_section* s;
    list_for_each_entry(s, &h->section_list, node) {
        printf("[%s]\n", s->key);
        config_entry* e;
        list_for_each_entry(e, &s->entry_list, node) printf("%s=%s\n", e->key, e->val);
    }
    printf("<----------------------\n");
    fflush(stdout);
    return 0;
}

QB_API int Config_Dump_Section_Json(void* handle, char** json) {
    config_handle* h = handle_of(handle);
    if (!h || refuse_null("Config_Dump_Section_Json", !json)) return -1;
    json_object* arr = json_object_new_array();
    if (!arr) return -1;
    {
        Guard g(h);
        config_section* s;
        list_for_each_entry(s, &h->section_list, node) {
            if (!add_string(arr, nullptr, s->key)) {
                json_object_put(arr);
                return -1;
            }
        }
    }
    return take_json(arr, json);
}

QB_API int Config_Dump_Entry_Json(void* handle, char* section_name, char** json) {
    config_handle* h = handle_of(handle);
    if (!h || refuse_null("Config_Dump_Entry_Json", !section_name || !json)) return -1;
    json_object* arr = json_object_new_array();
    if (!arr) return -1;
    {
        Guard g(h);
        config_section* s;
        list_for_each_entry(s, &h->section_list, node) {
            if (strcmp(s->key, section_name) != 0) continue;
            config_entry* e;
            list_for_each_entry(e, &s->entry_list, node) {
                json_object* item = json_object_new_object();
                bool ok = item && add_string(item, "key", e->key) && add_string(item, "val", e->val) &&
                          json_object_array_add(arr, item) == 0;
                if (!ok) {
                    json_object_put(item);
                    json_object_put(arr);
                    return -1;
                }
            }
        }
    }
    return take_json(arr, json);
}

}  // extern "C"
