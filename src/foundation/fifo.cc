#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "foundation/fifo_internal.h"
#include "sdk_fifo.h"
#include "sdk_logger.h"

namespace {
constexpr const char* TAG = "SDK_FIFO";

bool null_fifo(SDK_FiFo f, const char* op) {
    if (f) return false;
    LOGE(TAG, "%s Operation on null fifo", op);
    return true;
}

size_t advance(const fifo_descriptor* f, size_t offset) {
    offset += f->itemsize;
    return offset >= f->allocatedbytes ? 0 : offset;
}
}  // namespace

extern "C" {

QB_API SDK_FiFo sdk_fifo_create(int count, int size) {
    if (count < 1 || size < 1) return nullptr;
    // The product must fit the interface's int: sdk_fifo_info reports it as
    // one, and a ring beyond 2 GiB is a caller's overflow, not a real queue.
    int total = 0;
    if (__builtin_mul_overflow(count, size, &total)) return nullptr;
    const size_t bytes = static_cast<size_t>(total);
    auto* f = static_cast<fifo_descriptor*>(calloc(1, sizeof(fifo_descriptor)));
    if (!f) return nullptr;
    f->itemspace = malloc(bytes);
    if (!f->itemspace) {
        free(f);
        return nullptr;
    }
    f->itemsize = static_cast<size_t>(size);
    f->allocatedbytes = bytes;
    return f;
}

QB_API int sdk_fifo_add(SDK_FiFo f, const void* item) {
    if (null_fifo(f, "sdk_fifo_add")) return -1;
    if (f->storedbytes >= f->allocatedbytes) return -1;
    memcpy(static_cast<char*>(f->itemspace) + f->writeoffset, item, f->itemsize);
    f->writeoffset = advance(f, f->writeoffset);
    f->storedbytes += f->itemsize;
    return 0;
}

QB_API int sdk_fifo_get(SDK_FiFo f, void* item) {
    if (null_fifo(f, "sdk_fifo_get")) return -1;
    if (f->storedbytes == 0) return -1;
    memcpy(item, static_cast<char*>(f->itemspace) + f->readoffset, f->itemsize);
    f->readoffset = advance(f, f->readoffset);
    f->storedbytes -= f->itemsize;
    return 0;
}

QB_API int sdk_fifo_is_full(SDK_FiFo f) {
    if (null_fifo(f, "sdk_fifo_is_full")) return -1;
    return f->storedbytes >= f->allocatedbytes ? 1 : 0;
}

QB_API int sdk_fifo_is_empty(SDK_FiFo f) {
    if (null_fifo(f, "sdk_fifo_is_empty")) return -1;
    return f->storedbytes == 0 ? 1 : 0;
}

QB_API int sdk_fifo_discard(fifo_t f, u16 count, enum fifo_side side) {
    if (null_fifo(f, "sdk_fifo_discard")) return -1;
    // Exact byte count: a 16-bit product would silently discard the wrong amount.
    size_t bytes = static_cast<size_t>(count) * f->itemsize;
    if (bytes > f->storedbytes) return -1;
    if (bytes == 0) return 0;
    if (side == E_FIFO_FRONT) {
        f->readoffset = (f->readoffset + bytes) % f->allocatedbytes;
    } else {
        f->writeoffset = (f->writeoffset + f->allocatedbytes - bytes) % f->allocatedbytes;
    }
    f->storedbytes -= bytes;
    return 0;
}

QB_API SDK_FiFo sdk_fifo_copy(SDK_FiFo f) {
    if (null_fifo(f, "sdk_fifo_copy")) return nullptr;
    auto* copy = static_cast<fifo_descriptor*>(malloc(sizeof(fifo_descriptor)));
    if (!copy) return nullptr;
    *copy = *f;
    copy->itemspace = malloc(f->allocatedbytes);
    if (!copy->itemspace) {
        free(copy);
        return nullptr;
    }
    memcpy(copy->itemspace, f->itemspace, f->allocatedbytes);
    return copy;
}

QB_API void sdk_fifo_info(SDK_FiFo f) {
    if (null_fifo(f, "sdk_fifo_info")) return;
    LOGD(TAG, "Addr=%x, Total Bytes=%d, Total Items=%d, Stored Items=%d",
         static_cast<unsigned>(reinterpret_cast<uintptr_t>(f)), static_cast<int>(f->allocatedbytes),
         static_cast<int>(f->allocatedbytes / f->itemsize), static_cast<int>(f->storedbytes / f->itemsize));
}

QB_API int sdk_fifo_destroy(SDK_FiFo f) {
    if (null_fifo(f, "sdk_fifo_destroy")) return -1;
    free(f->itemspace);
    memset(f, 0, sizeof(*f));
    free(f);
    return 0;
}

}  // extern "C"
