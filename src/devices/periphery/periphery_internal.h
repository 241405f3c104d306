// Handle records of the peripheral layer, its error recording, and the
// seams tests use where no device exists (I2C and SPI ioctls, /dev/mem).
#pragma once

#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "i2c.h"
#include "mmio.h"
#include "serial.h"
#include "spi.h"

namespace qb::periphery {

struct error_record {
    int c_errno;
    char errmsg[96];
};

// Formats the message (with ": <system text> [errno N]" when c_errno is
// non-zero) into the 96 bytes and returns code.
int record_error(error_record& error, int code, int c_errno, const char* fmt, va_list ap);

template <typename Handle>
int handle_error(Handle* handle, int code, int c_errno, const char* fmt, ...) __attribute__((format(printf, 4, 5)));

template <typename Handle>
int handle_error(Handle* handle, int code, int c_errno, const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    int rc = record_error(handle->error, code, c_errno, fmt, ap);
    va_end(ap);
    return rc;
}

// A zeroed record without a descriptor, as *_new returns it.
template <typename Handle>
Handle* new_handle() {
    auto* h = static_cast<Handle*>(calloc(1, sizeof(Handle)));
    if (h) h->fd = -1;
    return h;
}

// Closes the descriptor once; a closed handle closes successfully.
template <typename Handle>
int close_handle(Handle* handle, int code, const char* what) {
    if (handle->fd < 0) return 0;
    int rc = close(handle->fd);
    handle->fd = -1;
    return rc < 0 ? handle_error(handle, code, errno, "%s", what) : 0;
}

// I2C and SPI requests go through here; tests replace it (null restores ioctl).
using ioctl_function = int (*)(int fd, unsigned long request, void* arg);
void periphery_set_ioctl(ioctl_function fn);
int device_ioctl(int fd, unsigned long request, void* arg);

// The memory device mmio_open maps; null restores "/dev/mem".
void mmio_set_device_path(const char* path);

}  // namespace qb::periphery

struct serial_handle {
    int fd;
    qb::periphery::error_record error;
};

struct i2c_handle {
    int fd;
    qb::periphery::error_record error;
};

struct spi_handle {
    int fd;
    qb::periphery::error_record error;
};

struct mmio_handle {
    uintptr_t base, aligned_base;
    size_t size, aligned_size;
    void* ptr;
    qb::periphery::error_record error;
};
