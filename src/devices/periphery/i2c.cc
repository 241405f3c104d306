// I2C adapters: /dev/i2c-N with I2C_RDWR combined transfers.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "devices/periphery/periphery_internal.h"

using qb::periphery::device_ioctl;

namespace {

constexpr auto& _i2c_error = qb::periphery::handle_error<i2c_t>;

}  // namespace

extern "C" {

QB_API i2c_t* i2c_new(void) { return qb::periphery::new_handle<i2c_t>(); }

QB_API void i2c_free(i2c_t* i2c) { free(i2c); }

QB_API int i2c_open(i2c_t* i2c, const char* path) {
    *i2c = i2c_t{};
    i2c->fd = -1;
    int fd = open(path, O_RDWR);
    if (fd < 0) return _i2c_error(i2c, I2C_ERROR_OPEN, errno, "Opening I2C device \"%s\"", path);
    unsigned long funcs = 0;
    if (device_ioctl(fd, I2C_FUNCS, &funcs) < 0) {
        int err = errno;
        close(fd);
        return _i2c_error(i2c, I2C_ERROR_QUERY, err, "Querying I2C functions");
    }
    if (!(funcs & I2C_FUNC_I2C)) {
        close(fd);
        return _i2c_error(i2c, I2C_ERROR_NOT_SUPPORTED, 0, "I2C not supported on %s", path);
    }
    i2c->fd = fd;
    return 0;
}

QB_API int i2c_transfer(i2c_t* i2c, struct i2c_msg* msgs, size_t count) {
    // The kernel's count field is 32 bits and takes at most 42 messages.
    if (count == 0 || count > I2C_RDWR_IOCTL_MAX_MSGS)
        return _i2c_error(i2c, I2C_ERROR_ARG, 0, "Invalid message count");
    i2c_rdwr_ioctl_data data = {msgs, __u32(count)};
    if (device_ioctl(i2c->fd, I2C_RDWR, &data) < 0) return _i2c_error(i2c, I2C_ERROR_TRANSFER, errno, "I2C transfer");
    return 0;
}

QB_API int i2c_close(i2c_t* i2c) {
    return qb::periphery::close_handle(i2c, I2C_ERROR_CLOSE, "Closing I2C device");
}

QB_API int i2c_tostring(i2c_t* i2c, char* str, size_t len) { return snprintf(str, len, "I2C (fd=%d)", i2c->fd); }
QB_API const char* i2c_errmsg(i2c_t* i2c) { return i2c->error.errmsg; }
QB_API int i2c_errno(i2c_t* i2c) { return i2c->error.c_errno; }
QB_API int i2c_fd(i2c_t* i2c) { return i2c->fd; }

}  // extern "C"
