/*
 * CSV tables in C++ (sdk_csv.h); conventions in qb_result.hpp. Fields come
 * back as copies. A table shared between threads is a BasicLockable:
 * std::lock_guard g(table) brackets calls with csv_lock/csv_unlock.
 */
#ifndef QB_CSV_HPP
#define QB_CSV_HPP

#include "sdk_config.h"
#ifdef ENABLE_CSV

#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "qb_result.hpp"
#include "sdk_csv.h"

namespace qb {

class CsvTable {
public:
    static Result<CsvTable> create() { return adopt(csv_create_buffer(), "csv_create_buffer"); }
    // A copy of every row, with the default delimiters.
    Result<CsvTable> copy() const { return adopt(csv_dup_buffer(t_.get()), "csv_dup_buffer"); }

    // Appends the file's rows. Error code 1: cannot open; 2: out of memory
    // (the rows read so far stay).
    Result<void> load(std::string_view path) { return detail::check(csv_load(t_.get(), detail::CStr(path)), "csv_load"); }
    Result<void> save(std::string_view path) const {
        return detail::check(csv_save(detail::CStr(path), t_.get()), "csv_save");
    }

    size_t height() const { return size_t(csv_get_height(t_.get())); }
    size_t width(size_t row) const { return size_t(csv_get_width(t_.get(), row)); }
    // nullopt for a missing position.
    std::optional<std::string> field(size_t row, size_t col) const {
        const char* p = csv_get_field_ptr(t_.get(), row, col);
        if (!p) return std::nullopt;
        return std::string(p);
    }
    // Positions that do not exist yet are created.
    Result<void> set(size_t row, size_t col, std::string_view text) {
        return detail::check(csv_set_field(t_.get(), row, col, detail::CStr(text)), "csv_set_field");
    }
    Result<void> insert(size_t row, size_t col, std::string_view text) {
        return detail::check(csv_insert_field(t_.get(), row, col, detail::CStr(text)), "csv_insert_field");
    }
    Result<void> clear_field(size_t row, size_t col) {
        return detail::check(csv_clear_field(t_.get(), row, col), "csv_clear_field");
    }
    Result<void> clear_row(size_t row) { return detail::check(csv_clear_row(t_.get(), row), "csv_clear_row"); }
    Result<void> remove_row(size_t row) { return detail::check(csv_remove_row(t_.get(), row), "csv_remove_row"); }
    Result<void> remove_all_rows() { return detail::check(csv_remove_all_row(t_.get()), "csv_remove_all_row"); }
    Result<void> remove_field(size_t row, size_t col) {
        return detail::check(csv_remove_field(t_.get(), row, col), "csv_remove_field");
    }
    // The first row whose field col holds text.
    std::optional<size_t> find_row(int col, std::string_view text) const {
        int row = csv_find_row_by_field(t_.get(), col, detail::CStr(text));
        if (row < 0) return std::nullopt;
        return size_t(row);
    }
    void set_field_delim(char d) { csv_set_field_delim(t_.get(), d); }
    void set_text_delim(char d) { csv_set_text_delim(t_.get(), d); }

    void lock() { csv_lock(t_.get()); }
    void unlock() { csv_unlock(t_.get()); }
    CSV_BUFFER* native() const { return t_.get(); }

private:
    explicit CsvTable(CSV_BUFFER* t) : t_(t) {}
    static Result<CsvTable> adopt(CSV_BUFFER* t, const char* function) {
        if (!t) return Error{-1, function};
        return CsvTable(t);
    }
    detail::Handle<CSV_BUFFER*, csv_destroy_buffer> t_;
};

}  // namespace qb

#endif /* ENABLE_CSV */
#endif /* QB_CSV_HPP */
