/*
 * NumPy arrays and NPZ archives in C++ (npy_array.h); conventions in
 * qb_result.hpp. The C loaders and savers report their reasons on standard
 * error; npy_array_save reports nothing back, so NpyArray::save cannot
 * either.
 */
#ifndef QB_NPY_HPP
#define QB_NPY_HPP

#include "sdk_config.h"
#ifdef ENABLE_NPY

#include <cstdlib>
#include <cstring>
#include <span>
#include <string>
#include <string_view>
#include <utility>

#include "npy_array.h"
#include "qb_result.hpp"

namespace qb {

// An array the caller does not own.
class NpyView {
public:
    explicit NpyView(const npy_array_t* a = nullptr) : a_(a) {}
    std::span<const size_t> shape() const { return {a_->shape, size_t(a_->ndim)}; }
    char typechar() const { return a_->typechar; }
    char endianness() const { return a_->endianness; }
    size_t elem_size() const { return a_->elem_size; }
    bool fortran_order() const { return a_->fortran_order != 0; }
    size_t count() const {
        size_t n = 1;
        for (size_t e : shape()) n *= e;
        return n;
    }
    // The element bytes.
    std::string_view bytes() const { return {a_->data, count() * a_->elem_size}; }
    const npy_array_t* native() const { return a_; }

protected:
    const npy_array_t* a_;
};

class NpyArray : public NpyView {
public:
    static Result<NpyArray> load(std::string_view path) {
        npy_array_t* a = npy_array_load(detail::CStr(path).get());
        if (!a) return Error{-1, "npy_array_load"};
        return NpyArray(a);
    }
    // A new array holding a copy of data, which must be exactly the
    // elements' bytes (count of shape times elem_size).
    static Result<NpyArray> create(char typechar, size_t elem_size, std::span<const size_t> shape,
                                   std::string_view data, char endianness = '<', bool fortran_order = false) {
        size_t n = elem_size;
        for (size_t e : shape) n = e && n > SIZE_MAX / e ? SIZE_MAX : n * e;
        if (shape.size() > NPY_ARRAY_MAX_DIMENSIONS || elem_size == 0 || n != data.size())
            return Error{-1, "npy_array_t"};
        auto* a = static_cast<npy_array_t*>(std::calloc(1, sizeof(npy_array_t)));
        char* bytes = static_cast<char*>(std::malloc(data.empty() ? 1 : data.size()));
        if (!a || !bytes) {
            std::free(a);
            std::free(bytes);
            return Error{-1, "npy_array_t"};
        }
        if (!data.empty()) std::memcpy(bytes, data.data(), data.size());
        a->data = bytes;
        for (size_t i = 0; i < shape.size(); i++) a->shape[i] = shape[i];
        a->ndim = int32_t(shape.size());
        a->endianness = endianness;
        a->typechar = typechar;
        a->elem_size = elem_size;
        a->fortran_order = fortran_order ? 1 : 0;
        return NpyArray(a);
    }

    NpyArray(NpyArray&& o) noexcept : NpyView(std::exchange(o.a_, nullptr)) {}
    NpyArray& operator=(NpyArray&& o) noexcept {
        if (this != &o) {
            reset();
            a_ = std::exchange(o.a_, nullptr);
        }
        return *this;
    }
    ~NpyArray() { reset(); }

    void save(std::string_view path) const { npy_array_save(detail::CStr(path).get(), a_); }
    std::span<char> mutable_bytes() { return {a_->data, count() * a_->elem_size}; }
    // Hands the array over (to npy_array_list_append, say).
    npy_array_t* release() { return const_cast<npy_array_t*>(std::exchange(a_, nullptr)); }

private:
    friend class NpyList;
    explicit NpyArray(npy_array_t* a) : NpyView(a) {}
    void reset() {
        if (a_) npy_array_free(const_cast<npy_array_t*>(std::exchange(a_, nullptr)));
    }
};

// Named arrays, saved as and loaded from an uncompressed NPZ archive.
class NpyList {
public:
    struct Entry {
        std::string_view name;  // empty until saved when unnamed
        NpyView array;
    };
    class Iterator {
    public:
        explicit Iterator(const npy_array_list_t* n) : n_(n) {}
        Entry operator*() const { return {detail::view(n_->filename), NpyView(n_->array)}; }
        Iterator& operator++() {
            n_ = n_->next;
            return *this;
        }
        bool operator==(const Iterator&) const = default;

    private:
        const npy_array_list_t* n_;
    };

    NpyList() = default;
    static Result<NpyList> load(std::string_view path) {
        npy_array_list_t* l = npy_array_list_load(detail::CStr(path).get());
        if (!l) return Error{-1, "npy_array_list_load"};
        NpyList list;
        list.l_ = List(l);
        return list;
    }

    // Takes the array; a refused one (name over MAX_FILENAME_LEN characters,
    // say) stays with the caller.
    Result<void> append(NpyArray& array, std::string_view name) {
        size_t before = size();
        npy_array_t* a = array.release();
        npy_array_list_t* l = npy_array_list_append(l_.get(), a, "%s", detail::CStr(name).get());
        if ((l ? npy_array_list_length(l) : 0) == before) {
            array = NpyArray(a);
            return Error{-1, "npy_array_list_append"};
        }
        l_.release();
        l_ = List(l);
        return {};
    }
    size_t size() const { return l_.get() ? npy_array_list_length(l_.get()) : 0; }
    // The number of entries written.
    Result<int> save(std::string_view path) {
        return detail::count(npy_array_list_save(detail::CStr(path).get(), l_.get()), "npy_array_list_save");
    }
    Iterator begin() const { return Iterator(l_.get()); }
    Iterator end() const { return Iterator(nullptr); }
    npy_array_list_t* native() const { return l_.get(); }

private:
    using List = detail::Handle<npy_array_list_t*, npy_array_list_free>;
    List l_;
};

}  // namespace qb

#endif /* ENABLE_NPY */
#endif /* QB_NPY_HPP */
