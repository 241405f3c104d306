// Physical memory through a shared mapping of /dev/mem.
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>

#include "devices/periphery/periphery_internal.h"

namespace {

std::mutex g_path_mutex;
std::string g_device_path = "/dev/mem";

std::string device_path() {
    std::lock_guard<std::mutex> lock(g_path_mutex);
    return g_device_path;
}

constexpr auto& _mmio_error = qb::periphery::handle_error<mmio_t>;

// The address of base + offset when len bytes from there stay inside the
// mapping; written so that a huge offset or length cannot wrap past the check.
volatile uint8_t* at(mmio_t* mmio, uintptr_t offset, size_t len) {
    if (!mmio->ptr || offset > mmio->size || len > mmio->size - offset) {
        _mmio_error(mmio, MMIO_ERROR_ARG, 0, "Offset out of bounds");
        return nullptr;
    }
    return static_cast<volatile uint8_t*>(mmio->ptr) + (mmio->base - mmio->aligned_base) + offset;
}

template <typename T>
int read_value(mmio_t* mmio, uintptr_t offset, T* value) {
    volatile uint8_t* p = at(mmio, offset, sizeof(T));
    if (!p) return MMIO_ERROR_ARG;
    *value = *reinterpret_cast<volatile T*>(p);
    return 0;
}

template <typename T>
int write_value(mmio_t* mmio, uintptr_t offset, T value) {
    volatile uint8_t* p = at(mmio, offset, sizeof(T));
    if (!p) return MMIO_ERROR_ARG;
    *reinterpret_cast<volatile T*>(p) = value;
    return 0;
}

}  // namespace

namespace qb::periphery {

void mmio_set_device_path(const char* path) {
    std::lock_guard<std::mutex> lock(g_path_mutex);
    g_device_path = path ? path : "/dev/mem";
}

}  // namespace qb::periphery

extern "C" {

QB_API mmio_t* mmio_new(void) { return static_cast<mmio_t*>(calloc(1, sizeof(mmio_t))); }

QB_API void mmio_free(mmio_t* mmio) { free(mmio); }

QB_API int mmio_open(mmio_t* mmio, uintptr_t base, size_t size) {
    *mmio = mmio_t{};
    uintptr_t page = uintptr_t(sysconf(_SC_PAGESIZE));
    uintptr_t aligned_base = base - base % page;
    // A size that wraps with the alignment slack would map less than it covers.
    if (size > SIZE_MAX - (base - aligned_base)) return _mmio_error(mmio, MMIO_ERROR_ARG, 0, "Invalid size");
    mmio->base = base;
    mmio->size = size;
    mmio->aligned_base = aligned_base;
    mmio->aligned_size = size + (base - aligned_base);

    int fd = open(device_path().c_str(), O_RDWR | O_SYNC);
    if (fd < 0) return _mmio_error(mmio, MMIO_ERROR_OPEN, errno, "Opening /dev/mem");
    void* ptr = mmap(nullptr, mmio->aligned_size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, off_t(aligned_base));
    if (ptr == MAP_FAILED) {
        int err = errno;
        close(fd);
        return _mmio_error(mmio, MMIO_ERROR_OPEN, err, "Mapping memory");
    }
    if (close(fd) < 0) {
        int err = errno;
        munmap(ptr, mmio->aligned_size);
        return _mmio_error(mmio, MMIO_ERROR_OPEN, err, "Closing /dev/mem");
    }
    mmio->ptr = ptr;
    return 0;
}

QB_API void* mmio_ptr(mmio_t* mmio) {
    return mmio->ptr ? static_cast<uint8_t*>(mmio->ptr) + (mmio->base - mmio->aligned_base) : nullptr;
}

QB_API int mmio_read32(mmio_t* mmio, uintptr_t offset, uint32_t* value) { return read_value(mmio, offset, value); }
QB_API int mmio_read16(mmio_t* mmio, uintptr_t offset, uint16_t* value) { return read_value(mmio, offset, value); }
QB_API int mmio_read8(mmio_t* mmio, uintptr_t offset, uint8_t* value) { return read_value(mmio, offset, value); }
QB_API int mmio_write32(mmio_t* mmio, uintptr_t offset, uint32_t value) { return write_value(mmio, offset, value); }
QB_API int mmio_write16(mmio_t* mmio, uintptr_t offset, uint16_t value) { return write_value(mmio, offset, value); }
QB_API int mmio_write8(mmio_t* mmio, uintptr_t offset, uint8_t value) { return write_value(mmio, offset, value); }

QB_API int mmio_read(mmio_t* mmio, uintptr_t offset, uint8_t* buf, size_t len) {
    volatile uint8_t* p = at(mmio, offset, len);
    if (!p) return MMIO_ERROR_ARG;
    for (size_t i = 0; i < len; i++) buf[i] = p[i];
    return 0;
}

QB_API int mmio_write(mmio_t* mmio, uintptr_t offset, const uint8_t* buf, size_t len) {
    volatile uint8_t* p = at(mmio, offset, len);
    if (!p) return MMIO_ERROR_ARG;
    for (size_t i = 0; i < len; i++) p[i] = buf[i];
    return 0;
}

QB_API int mmio_close(mmio_t* mmio) {
    if (!mmio->ptr) return 0;
    int rc = munmap(mmio->ptr, mmio->aligned_size);
    mmio->ptr = nullptr;
    if (rc < 0) return _mmio_error(mmio, MMIO_ERROR_CLOSE, errno, "Unmapping memory");
    return 0;
}

QB_API uintptr_t mmio_base(mmio_t* mmio) { return mmio->base; }
QB_API size_t mmio_size(mmio_t* mmio) { return mmio->size; }

QB_API int mmio_tostring(mmio_t* mmio, char* str, size_t len) {
    return snprintf(str, len, "MMIO 0x%08zx (ptr=%p, size=%zu)", size_t(mmio->base), mmio_ptr(mmio), mmio->size);
}

QB_API const char* mmio_errmsg(mmio_t* mmio) { return mmio->error.errmsg; }
QB_API int mmio_errno(mmio_t* mmio) { return mmio->error.c_errno; }

}  // extern "C"
