/* Component parameters in C++ (qb_env.h); conventions in qb_result.hpp. */
#ifndef QB_ENV_HPP
#define QB_ENV_HPP

#include <optional>
#include <string>
#include <string_view>

#include "qb_env.h"
#include "qb_result.hpp"

namespace qb {

// A parameter such as "--node-id": from the platform's environment, or
// stand-alone from qb_env.ini; nullopt when it is not set.
inline std::optional<std::string> get_env(std::string_view key) {
    char* v = qb_get_env(detail::CStr(key));
    if (!v) return std::nullopt;
    return detail::take(v);
}

// True when the component runs on the platform ("--mq-type" is set).
inline bool on_platform() { return quorbit_valid() != 0; }

}  // namespace qb

#endif /* QB_ENV_HPP */
