// Serial ports: raw termios settings, reads bounded by a time-out.
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "devices/periphery/periphery_internal.h"

namespace {

constexpr auto& _serial_error = qb::periphery::handle_error<serial_t>;

struct baud {
    uint32_t rate;
    speed_t code = B0;
};

constexpr baud kBauds[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},         {150, B150},
    {200, B200},         {300, B300},         {600, B600},         {1200, B1200},       {1800, B1800},
    {2400, B2400},       {4800, B4800},       {9600, B9600},       {19200, B19200},     {38400, B38400},
    {57600, B57600},     {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000}, {1500000, B1500000},
    {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000}, {3500000, B3500000}, {4000000, B4000000},
};

bool speed_code(uint32_t rate, speed_t* code) {
    for (const baud& b : kBauds) {
        if (b.rate == rate) {
            *code = b.code;
            return true;
        }
    }
    return false;
}

uint32_t speed_rate(speed_t code) {
    for (const baud& b : kBauds)
        if (b.code == code) return b.rate;
    return 0;
}

tcflag_t size_flag(unsigned int databits) {
    switch (databits) {
        case 5: return CS5;
        case 6: return CS6;
        case 7: return CS7;
        default: return CS8;
    }
}

// Stripping bit 7 only makes sense when the parity bit takes its place: with
// 8 data bits it would corrupt every byte above 0x7F.
void apply_parity_input_flags(termios& t) {
    t.c_iflag &= ~tcflag_t(INPCK | ISTRIP);
    if (t.c_cflag & PARENB) {
        t.c_iflag |= INPCK;
        if ((t.c_cflag & CSIZE) != CS8) t.c_iflag |= ISTRIP;
    }
}

void apply_parity(termios& t, serial_parity_t parity) {
    t.c_cflag &= ~tcflag_t(PARENB | PARODD);
    if (parity == PARITY_EVEN) t.c_cflag |= PARENB;
    if (parity == PARITY_ODD) t.c_cflag |= PARENB | PARODD;
    apply_parity_input_flags(t);
}

int check_baudrate(serial_t* s, uint32_t baudrate, speed_t* code) {
    return speed_code(baudrate, code) ? 0 : _serial_error(s, SERIAL_ERROR_ARG, 0, "Invalid baud rate");
}
int check_databits(serial_t* s, unsigned int databits) {
    if (databits >= 5 && databits <= 8) return 0;
    return _serial_error(s, SERIAL_ERROR_ARG, 0, "Invalid data bits (can be 5,6,7,8)");
}
int check_parity(serial_t* s, serial_parity_t parity) {
    if (parity == PARITY_NONE || parity == PARITY_ODD || parity == PARITY_EVEN) return 0;
    return _serial_error(s, SERIAL_ERROR_ARG, 0, "Invalid parity (can be PARITY_NONE,PARITY_ODD,PARITY_EVEN)");
}
int check_stopbits(serial_t* s, unsigned int stopbits) {
    if (stopbits == 1 || stopbits == 2) return 0;
    return _serial_error(s, SERIAL_ERROR_ARG, 0, "Invalid stop bits (can be 1,2)");
}

int get_attributes(serial_t* s, termios* t) {
    if (tcgetattr(s->fd, t) < 0) return _serial_error(s, SERIAL_ERROR_QUERY, errno, "Getting serial port attributes");
    return 0;
}

// Reads the attributes and stores one decoded field.
template <typename T, typename Decode>
int get_field(serial_t* s, T* out, Decode&& decode) {
    termios t;
    if (int rc = get_attributes(s, &t); rc < 0) return rc;
    *out = decode(t);
    return 0;
}

// Read, change one field, write back.
template <typename Change>
int update_attributes(serial_t* s, Change&& change) {
    termios t;
    if (int rc = get_attributes(s, &t); rc < 0) return rc;
    change(t);
    if (tcsetattr(s->fd, TCSANOW, &t) < 0)
        return _serial_error(s, SERIAL_ERROR_CONFIGURE, errno, "Setting serial port attributes");
    return 0;
}

// Milliseconds left until deadline for poll(): -1 without a limit.
int remaining_ms(int timeout_ms, std::chrono::steady_clock::time_point deadline) {
    if (timeout_ms < 0) return -1;
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    return left.count() > 0 ? int(left.count()) : 0;
}

}  // namespace

extern "C" {

QB_API serial_t* serial_new(void) { return qb::periphery::new_handle<serial_t>(); }

QB_API void serial_free(serial_t* serial) { free(serial); }

QB_API int serial_open(serial_t* serial, const char* path, uint32_t baudrate) {
    return serial_open_advanced(serial, path, baudrate, 8, PARITY_NONE, 1, 0, 0);
}

QB_API int serial_open_advanced(serial_t* s, const char* path, uint32_t baudrate, unsigned int databits,
                                serial_parity_t parity, unsigned int stopbits, int xonxoff, int rtscts) {
    *s = serial_t{};
    s->fd = -1;
    speed_t code = B0;
    if (int rc = check_databits(s, databits); rc < 0) return rc;
    if (int rc = check_parity(s, parity); rc < 0) return rc;
    if (int rc = check_stopbits(s, stopbits); rc < 0) return rc;
    if (int rc = check_baudrate(s, baudrate, &code); rc < 0) return rc;

    int fd = open(path, O_RDWR | O_NOCTTY);
    if (fd < 0) return _serial_error(s, SERIAL_ERROR_OPEN, errno, "Opening serial port \"%s\"", path);

    termios t{};
    t.c_iflag = IGNBRK | (xonxoff ? IXON | IXOFF : 0);
    t.c_cflag = CREAD | CLOCAL | size_flag(databits) | (stopbits == 2 ? CSTOPB : 0) | (rtscts ? CRTSCTS : 0);
    apply_parity(t, parity);
    cfsetispeed(&t, code);
    cfsetospeed(&t, code);
    if (tcsetattr(fd, TCSANOW, &t) < 0) {
        int err = errno;
        close(fd);
        return _serial_error(s, SERIAL_ERROR_CONFIGURE, err, "Setting serial port attributes");
    }
    s->fd = fd;
    return 0;
}

QB_API int serial_read(serial_t* s, uint8_t* buf, size_t len, int timeout_ms) {
    if (len > INT_MAX) return _serial_error(s, SERIAL_ERROR_ARG, 0, "Invalid length");
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms < 0 ? 0 : timeout_ms);
    size_t got = 0;
    while (got < len) {
        pollfd p = {s->fd, POLLIN, 0};
        int ready = poll(&p, 1, remaining_ms(timeout_ms, deadline));
        if (ready < 0 && errno == EINTR) continue;
        // Callers match this message text; the wait itself is poll().
        if (ready < 0) return _serial_error(s, SERIAL_ERROR_IO, errno, "select() on serial port");
        if (ready == 0) break;
        ssize_t n = read(s->fd, buf + got, len - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return _serial_error(s, SERIAL_ERROR_IO, errno, "Reading serial port");
        if (n == 0) return _serial_error(s, SERIAL_ERROR_IO, 0, "Reading serial port: unexpected empty read");
        got += size_t(n);
    }
    return int(got);
}

QB_API int serial_write(serial_t* s, const uint8_t* buf, size_t len) {
    if (len > INT_MAX) return _serial_error(s, SERIAL_ERROR_ARG, 0, "Invalid length");
    ssize_t n = write(s->fd, buf, len);
    if (n < 0) return _serial_error(s, SERIAL_ERROR_IO, errno, "Writing serial port");
    return int(n);
}

QB_API int serial_flush(serial_t* s) {
    if (tcdrain(s->fd) < 0) return _serial_error(s, SERIAL_ERROR_IO, errno, "Flushing serial port");
    return 0;
}

QB_API int serial_input_waiting(serial_t* s, unsigned int* count) {
    int n = 0;
    if (ioctl(s->fd, TIOCINQ, &n) < 0) return _serial_error(s, SERIAL_ERROR_IO, errno, "TIOCINQ query");
    *count = unsigned(n);
    return 0;
}

QB_API int serial_output_waiting(serial_t* s, unsigned int* count) {
    int n = 0;
    if (ioctl(s->fd, TIOCOUTQ, &n) < 0) return _serial_error(s, SERIAL_ERROR_IO, errno, "TIOCOUTQ query");
    *count = unsigned(n);
    return 0;
}

QB_API int serial_poll(serial_t* s, int timeout_ms) {
    pollfd p = {s->fd, POLLIN | POLLPRI, 0};
    int ready = poll(&p, 1, timeout_ms < 0 ? -1 : timeout_ms);
    if (ready < 0) return _serial_error(s, SERIAL_ERROR_IO, errno, "Polling serial port");
    return ready > 0 ? 1 : 0;
}

QB_API int serial_close(serial_t* s) {
    return qb::periphery::close_handle(s, SERIAL_ERROR_CLOSE, "Closing serial port");
}

QB_API int serial_get_baudrate(serial_t* s, uint32_t* baudrate) {
    return get_field(s, baudrate, [](const termios& t) { return speed_rate(cfgetospeed(&t)); });
}

QB_API int serial_get_databits(serial_t* s, unsigned int* databits) {
    return get_field(s, databits, [](const termios& t) {
        switch (t.c_cflag & CSIZE) {
            case CS5: return 5u;
            case CS6: return 6u;
            case CS7: return 7u;
            default: return 8u;
        }
    });
}

QB_API int serial_get_parity(serial_t* s, serial_parity_t* parity) {
    return get_field(s, parity, [](const termios& t) {
        return !(t.c_cflag & PARENB) ? PARITY_NONE : (t.c_cflag & PARODD) ? PARITY_ODD : PARITY_EVEN;
    });
}

QB_API int serial_get_stopbits(serial_t* s, unsigned int* stopbits) {
    return get_field(s, stopbits, [](const termios& t) { return (t.c_cflag & CSTOPB) ? 2u : 1u; });
}

QB_API int serial_get_xonxoff(serial_t* s, int* xonxoff) {
    return get_field(s, xonxoff, [](const termios& t) { return (t.c_iflag & (IXON | IXOFF)) != 0 ? 1 : 0; });
}

QB_API int serial_get_rtscts(serial_t* s, int* rtscts) {
    return get_field(s, rtscts, [](const termios& t) { return (t.c_cflag & CRTSCTS) != 0 ? 1 : 0; });
}

QB_API int serial_set_baudrate(serial_t* s, uint32_t baudrate) {
    speed_t code = B0;
    if (int rc = check_baudrate(s, baudrate, &code); rc < 0) return rc;
    return update_attributes(s, [&](termios& t) {
        cfsetispeed(&t, code);
        cfsetospeed(&t, code);
    });
}

QB_API int serial_set_databits(serial_t* s, unsigned int databits) {
    if (int rc = check_databits(s, databits); rc < 0) return rc;
    return update_attributes(s, [&](termios& t) {
        t.c_cflag = (t.c_cflag & ~tcflag_t(CSIZE)) | size_flag(databits);
        apply_parity_input_flags(t);
    });
}

QB_API int serial_set_parity(serial_t* s, serial_parity_t parity) {
    if (int rc = check_parity(s, parity); rc < 0) return rc;
    return update_attributes(s, [&](termios& t) { apply_parity(t, parity); });
}

QB_API int serial_set_stopbits(serial_t* s, unsigned int stopbits) {
    if (int rc = check_stopbits(s, stopbits); rc < 0) return rc;
    return update_attributes(s, [&](termios& t) {
        t.c_cflag = stopbits == 2 ? t.c_cflag | CSTOPB : t.c_cflag & ~tcflag_t(CSTOPB);
    });
}

QB_API int serial_set_xonxoff(serial_t* s, int enabled) {
    return update_attributes(s, [&](termios& t) {
        t.c_iflag = enabled ? t.c_iflag | IXON | IXOFF : t.c_iflag & ~tcflag_t(IXON | IXOFF);
    });
}

QB_API int serial_set_rtscts(serial_t* s, int enabled) {
    return update_attributes(s, [&](termios& t) {
        t.c_cflag = enabled ? t.c_cflag | CRTSCTS : t.c_cflag & ~tcflag_t(CRTSCTS);
    });
}

QB_API int serial_tostring(serial_t* s, char* str, size_t len) {
    char baudrate[16] = "?", databits[4] = "?", stopbits[4] = "?";
    const char *parity = "?", *xonxoff = "?", *rtscts = "?";
    uint32_t b;
    unsigned int d, st;
    serial_parity_t p;
    int x, r;
    // Query failures must not overwrite the handle's last error.
    qb::periphery::error_record saved = s->error;
    if (serial_get_baudrate(s, &b) == 0) snprintf(baudrate, sizeof baudrate, "%u", b);
    if (serial_get_databits(s, &d) == 0) snprintf(databits, sizeof databits, "%u", d);
    if (serial_get_parity(s, &p) == 0) parity = p == PARITY_NONE ? "none" : p == PARITY_ODD ? "odd" : "even";
    if (serial_get_stopbits(s, &st) == 0) snprintf(stopbits, sizeof stopbits, "%u", st);
    if (serial_get_xonxoff(s, &x) == 0) xonxoff = x ? "true" : "false";
    if (serial_get_rtscts(s, &r) == 0) rtscts = r ? "true" : "false";
    s->error = saved;
    return snprintf(str, len, "Serial (fd=%d, baudrate=%s, databits=%s, parity=%s, stopbits=%s, xonxoff=%s, rtscts=%s)",
                    s->fd, baudrate, databits, parity, stopbits, xonxoff, rtscts);
}

QB_API const char* serial_errmsg(serial_t* s) { return s->error.errmsg; }
QB_API int serial_errno(serial_t* s) { return s->error.c_errno; }
QB_API int serial_fd(serial_t* s) { return s->fd; }

}  // extern "C"
