// Error recording, the ioctl seam and the layer's version.
#include <sys/ioctl.h>

#include <atomic>
#include <cstdio>
#include <cstring>

#include "devices/periphery/periphery_internal.h"
#include "version.h"

namespace qb::periphery {

namespace {
int system_ioctl(int fd, unsigned long request, void* arg) { return ::ioctl(fd, request, arg); }
std::atomic<ioctl_function> g_ioctl{system_ioctl};
}  // namespace

int record_error(error_record& error, int code, int c_errno, const char* fmt, va_list ap) {
    error.c_errno = c_errno;
    vsnprintf(error.errmsg, sizeof error.errmsg, fmt, ap);
    if (c_errno) {
        char text[64];
        size_t used = strlen(error.errmsg);
        snprintf(error.errmsg + used, sizeof error.errmsg - used, ": %s [errno %d]",
                 strerror_r(c_errno, text, sizeof text), c_errno);
    }
    return code;
}

void periphery_set_ioctl(ioctl_function fn) { g_ioctl = fn ? fn : system_ioctl; }

int device_ioctl(int fd, unsigned long request, void* arg) { return g_ioctl.load()(fd, request, arg); }

}  // namespace qb::periphery

extern "C" {

QB_API const char* periphery_version(void) { return "v2.0.1"; }

QB_API const periphery_version_t* periphery_version_info(void) {
    static const periphery_version_t info = {PERIPHERY_VERSION_MAJOR, PERIPHERY_VERSION_MINOR,
                                             PERIPHERY_VERSION_PATCH, PERIPHERY_VERSION_COMMIT};
    return &info;
}

}  // extern "C"
