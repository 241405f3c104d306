/*
 * The C++ API over the C functions: header-only, C++20, namespace qb.
 * Conventions shared by every qb_*.hpp header:
 *
 * - Owners (qb::MessageQueue, qb::Storage, qb::ConfigStore, ...) hold one C
 *   handle, release it in their destructor (or earlier with close()/stop())
 *   and are move-only. A moved-from owner holds nothing: its destructor and
 *   close() do nothing, its other calls fail like the C call with a null
 *   handle.
 * - Callbacks are callables (lambdas); the C "user" pointer is used inside to
 *   reach them, and they live exactly as long as their owner. They run on the
 *   library's threads like the C callbacks, so they must not destroy the
 *   owner that calls them, and must not throw: an exception leaving one ends
 *   the process (the trampolines are noexcept, nothing unwinds through C).
 * - Texts and byte blocks go in as std::string_view (copied where the C call
 *   needs a terminated string), arrays as std::span; what the library hands
 *   out is returned as std::string or a container, the C heap block freed.
 * - Failures come back as qb::Result<T>: a value or a qb::Error carrying the
 *   C function's result code and name. Results rather than exceptions because
 *   the library itself never throws, most calls happen on its threads inside
 *   callbacks where an exception could not go anywhere, components are often
 *   built with -fno-exceptions for small boards, and a result is as cheap as
 *   the C code it wraps. Shaped like std::expected (not in g++ 12).
 */
#ifndef QB_RESULT_HPP
#define QB_RESULT_HPP

#include <climits>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <variant>

namespace qb {

struct Error {
    int code = -1;                // the C function's result (-1 for a null result or refused argument)
    const char* function = "";   // the C function that failed
};

// A value or an Error. value() and operator* on an Error end the process
// (std::abort): check ok() first, or use value_or.
template <typename T>
class [[nodiscard]] Result {
public:
    Result(T value) : v_(std::in_place_index<0>, std::move(value)) {}
    Result(Error e) : v_(std::in_place_index<1>, e) {}

    bool ok() const noexcept { return v_.index() == 0; }
    explicit operator bool() const noexcept { return ok(); }
    T& value() & { return *checked(); }
    const T& value() const& { return *const_cast<Result*>(this)->checked(); }
    T&& value() && { return std::move(*checked()); }
    T& operator*() & { return value(); }
    const T& operator*() const& { return value(); }
    T&& operator*() && { return std::move(*checked()); }
    T* operator->() { return checked(); }
    const T* operator->() const { return const_cast<Result*>(this)->checked(); }
    template <typename U>
    T value_or(U&& fallback) const& {
        return ok() ? std::get<0>(v_) : static_cast<T>(std::forward<U>(fallback));
    }
    // Meaningful only when !ok().
    Error error() const noexcept { return ok() ? Error{0, ""} : std::get<1>(v_); }

private:
    T* checked() {
        T* p = std::get_if<0>(&v_);
        if (!p) std::abort();
        return p;
    }
    std::variant<T, Error> v_;
};

template <>
class [[nodiscard]] Result<void> {
public:
    Result() = default;
    Result(Error e) : e_(e) {}
    bool ok() const noexcept { return !e_; }
    explicit operator bool() const noexcept { return ok(); }
    void value() const {
        if (e_) std::abort();
    }
    Error error() const noexcept { return e_.value_or(Error{0, ""}); }

private:
    std::optional<Error> e_;
};

namespace detail {

// 0 is success; anything else is the C function's failure code.
inline Result<void> check(int rc, const char* function) {
    if (rc == 0) return {};
    return Error{rc, function};
}

// Non-negative results are counts or values; negative ones are failures.
inline Result<int> count(int rc, const char* function) {
    if (rc >= 0) return rc;
    return Error{rc, function};
}

inline Result<void> not_negative(int rc, const char* function) {
    if (rc >= 0) return {};
    return Error{rc, function};
}

// Takes a heap string from the library and frees it.
inline std::string take(char* p) {
    std::string s = p ? p : "";
    std::free(p);
    return s;
}

inline std::string take(char* p, int size) {
    std::string s = p && size > 0 ? std::string(p, static_cast<size_t>(size)) : std::string();
    std::free(p);
    return s;
}

// A view of a string the library passes in (NULL reads as empty).
inline std::string_view view(const char* p) { return p ? std::string_view(p) : std::string_view(); }
inline std::string_view view(const char* p, int size) {
    return p && size > 0 ? std::string_view(p, static_cast<size_t>(size)) : std::string_view();
}

// A NUL-terminated copy for the C side, which takes char* it does not change;
// an absent optional passes NULL.
class CStr {
public:
    CStr(std::string_view v) : s_(v), null_(false) {}
    CStr(std::optional<std::string_view> v) : s_(v.value_or("")), null_(!v) {}
    char* get() { return null_ ? nullptr : s_.data(); }
    operator char*() { return get(); }

private:
    std::string s_;
    bool null_;
};

// One C handle and the call that releases it, for the owners: move-only,
// released on destruction. A release that fails leaves the handle held.
template <typename H, auto Release>
class Handle {
public:
    Handle() = default;
    explicit Handle(H h) : h_(h) {}
    Handle(Handle&& o) noexcept : h_(std::exchange(o.h_, nullptr)) {}
    Handle& operator=(Handle&& o) noexcept {
        if (this != &o) {
            (void)reset();
            h_ = std::exchange(o.h_, nullptr);
        }
        return *this;
    }
    ~Handle() { (void)reset(); }

    H get() const { return h_; }
    H release() { return std::exchange(h_, nullptr); }
    // The release's result; 0 when nothing was held.
    int reset() {
        if (!h_) return 0;
        int rc = 0;
        if constexpr (std::is_void_v<decltype(Release(h_))>)
            Release(h_);
        else
            rc = Release(h_);
        if (rc == 0) h_ = nullptr;
        return rc;
    }

private:
    H h_ = nullptr;
};

// Block sizes cross the C boundary as int.
inline bool fits_int(size_t n) { return n <= static_cast<size_t>(INT_MAX); }

// The C side takes char* for blocks it only reads.
inline char* bytes(std::string_view v) { return const_cast<char*>(v.data()); }

}  // namespace detail
}  // namespace qb

#endif /* QB_RESULT_HPP */
