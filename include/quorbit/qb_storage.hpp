/*
 * The component's storage in C++ (qb_storage.h); conventions in
 * qb_result.hpp. Ports and request ids that may be absent are
 * std::optional; loads return the bytes as a std::string.
 */
#ifndef QB_STORAGE_HPP
#define QB_STORAGE_HPP

#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "qb_result.hpp"
#include "qb_storage.h"

namespace qb {

class Storage {
public:
    using Opt = std::optional<std::string_view>;

    // qb_storage_init: the backend the parameters name, or the stand-alone one.
    static Result<Storage> open() {
        QB_Storage h = qb_storage_init();
        if (!h) return Error{-1, "qb_storage_init"};
        return Storage(h);
    }

    Result<void> close() { return detail::check(h_.reset(), "qb_storage_deinit"); }

    Result<void> save_config(Opt port_id, std::string_view file_name, std::string_view data) {
        if (!detail::fits_int(data.size())) return Error{-1, "qb_config_save"};
        // Backends answer with the count of bytes written.
        return detail::not_negative(qb_config_save(h_.get(), detail::CStr(port_id), detail::CStr(file_name),
                                                   detail::bytes(data), static_cast<int>(data.size())),
                                    "qb_config_save");
    }
    Result<std::string> load_config(Opt port_id, std::string_view file_name) {
        char* buf = nullptr;
        int size = 0;
        int rc = qb_config_load(h_.get(), detail::CStr(port_id), detail::CStr(file_name), &buf, &size);
        if (rc != 0) return Error{rc, "qb_config_load"};
        return detail::take(buf, size);
    }
    Result<void> delete_config(Opt port_id, std::string_view file_name) {
        return detail::check(qb_config_delete(h_.get(), detail::CStr(port_id), detail::CStr(file_name)),
                             "qb_config_delete");
    }

    // The location text to hand to the next node; request_id nullopt means a fresh id.
    Result<std::string> save_tmp_file(Opt request_id, Opt port_id, std::string_view file_name,
                                      std::string_view data) {
        if (!detail::fits_int(data.size())) return Error{-1, "qb_tmp_file_save"};
        char* url = qb_tmp_file_save(h_.get(), detail::CStr(request_id), detail::CStr(port_id), detail::CStr(file_name),
                                     detail::bytes(data), static_cast<int>(data.size()));
        if (!url) return Error{-1, "qb_tmp_file_save"};
        return detail::take(url);
    }
    Result<std::string> load_tmp_file(std::string_view url, std::string_view file_name) {
        char* buf = nullptr;
        int size = 0;
        int rc = qb_tmp_file_load(h_.get(), detail::CStr(url), detail::CStr(file_name), &buf, &size);
        if (rc != 0) return Error{rc, "qb_tmp_file_load"};
        return detail::take(buf, size);
    }
    Result<void> delete_tmp_file(std::string_view url, std::string_view file_name) {
        return detail::check(qb_tmp_file_delete(h_.get(), detail::CStr(url), detail::CStr(file_name)),
                             "qb_tmp_file_delete");
    }

    QB_Storage native() const { return h_.get(); }

private:
    explicit Storage(QB_Storage h) : h_(h) {}
    detail::Handle<QB_Storage, qb_storage_deinit> h_;
};

}  // namespace qb

#endif /* QB_STORAGE_HPP */
