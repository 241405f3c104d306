/*
 * The INI configuration store in C++ (config_file.h); conventions in
 * qb_result.hpp. Values are returned as copies, so they stay valid whatever
 * happens to the store afterwards.
 */
#ifndef QB_CONFIG_HPP
#define QB_CONFIG_HPP

#include <string>
#include <string_view>
#include <utility>

#include "config_file.h"
#include "qb_result.hpp"

namespace qb {

class ConfigStore {
public:
    static Result<ConfigStore> create() {
        void* h = Config_Init();
        if (!h) return Error{-1, "Config_Init"};
        return ConfigStore(h);
    }

    Result<void> close() { return detail::check(h_.reset(), "Config_Close"); }

    // Loading replaces the contents.
    Result<void> load_text(std::string_view ini) {
        return detail::check(Config_Buffer_Load(h_.get(), detail::CStr(ini)), "Config_Buffer_Load");
    }
    Result<void> load_file(std::string_view path) {
        return detail::check(Config_File_Load(h_.get(), detail::CStr(path)), "Config_File_Load");
    }
    Result<void> write_file(std::string_view path) {
        return detail::check(Config_File_Write(h_.get(), detail::CStr(path)), "Config_File_Write");
    }
    bool has_section(std::string_view section) {
        return Config_Section_Exists(h_.get(), detail::CStr(section)) != 0;
    }
    bool has(std::string_view section, std::string_view key) {
        return Config_Exists(h_.get(), detail::CStr(section), detail::CStr(key)) != 0;
    }
    Result<std::string> get(std::string_view section, std::string_view key) {
        char* v = nullptr;
        int rc = Config_Get(h_.get(), detail::CStr(section), detail::CStr(key), &v);
        if (rc != 0 || !v) return Error{rc ? rc : -1, "Config_Get"};
        return std::string(v);
    }
    Result<void> add_section(std::string_view section) {
        return detail::check(Config_Add_Section(h_.get(), detail::CStr(section)), "Config_Add_Section");
    }
    Result<void> add(std::string_view section, std::string_view key, std::string_view value) {
        return detail::check(Config_Add(h_.get(), detail::CStr(section), detail::CStr(key), detail::CStr(value)),
                             "Config_Add");
    }
    Result<void> update(std::string_view section, std::string_view key, std::string_view value) {
        return detail::check(Config_Update(h_.get(), detail::CStr(section), detail::CStr(key), detail::CStr(value)),
                             "Config_Update");
    }
    Result<void> erase_section(std::string_view section) {
        return detail::check(Config_Delete_Section(h_.get(), detail::CStr(section)), "Config_Delete_Section");
    }
    Result<void> erase(std::string_view section, std::string_view key) {
        return detail::check(Config_Delete_Entry(h_.get(), detail::CStr(section), detail::CStr(key)),
                             "Config_Delete_Entry");
    }
    Result<void> clear() { return detail::check(Config_Delete_All(h_.get()), "Config_Delete_All"); }

    int section_count() { return Config_Section_Get_Count(h_.get()); }
    Result<std::string> section_at(int index) { return copy(Config_Section_Get_At(h_.get(), index), "Config_Section_Get_At"); }
    int item_count(std::string_view section) { return Config_Item_Get_Count(h_.get(), detail::CStr(section)); }
    Result<std::string> key_at(std::string_view section, int index) {
        return copy(Config_Item_Get_Key_At(h_.get(), detail::CStr(section), index), "Config_Item_Get_Key_At");
    }
    Result<std::string> value_at(std::string_view section, int index) {
        return copy(Config_Item_Get_Val_At(h_.get(), detail::CStr(section), index), "Config_Item_Get_Val_At");
    }

    // The section names, or one section's entries, as a JSON text.
    Result<std::string> sections_json() {
        char* json = nullptr;
        if (int rc = Config_Dump_Section_Json(h_.get(), &json); rc != 0) return Error{rc, "Config_Dump_Section_Json"};
        return detail::take(json);
    }
    Result<std::string> entries_json(std::string_view section) {
        char* json = nullptr;
        if (int rc = Config_Dump_Entry_Json(h_.get(), detail::CStr(section), &json); rc != 0)
            return Error{rc, "Config_Dump_Entry_Json"};
        return detail::take(json);
    }

    void* native() const { return h_.get(); }

private:
    explicit ConfigStore(void* h) : h_(h) {}
    static Result<std::string> copy(const char* p, const char* function) {
        if (!p) return Error{-1, function};
        return std::string(p);
    }
    detail::Handle<void*, Config_Close> h_;
};

}  // namespace qb

#endif /* QB_CONFIG_HPP */
