// The tty under a Firmata board: raw 8N1, modem lines dropped, low latency;
// reads never block, waiting is done with poll().
#include "fserial.h"

#include <errno.h>
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "sdk_logger.h"

namespace {
constexpr const char* TAG = "SERIAL_PORT";
constexpr int kWriteStallMs = 10000;

struct rate {
    int baud;
    speed_t speed;
};

constexpr rate kRates[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},         {150, B150},
    {200, B200},         {300, B300},         {600, B600},         {1200, B1200},       {1800, B1800},
    {2400, B2400},       {4800, B4800},       {9600, B9600},       {19200, B19200},     {38400, B38400},
    {57600, B57600},     {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000}, {1500000, B1500000},
    {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000}, {3500000, B3500000}, {4000000, B4000000},
};

bool is_open(const t_serial* s) { return s && s->port_is_open; }

// A terminal without modem control (a pseudo-terminal) answers the modem-line
// queries with ENOTTY or EINVAL; anything that is not a terminal also says
// ENOTTY, so the terminal test tells them apart.
bool lacks_modem_lines(int fd, int err) { return (err == ENOTTY || err == EINVAL) && isatty(fd); }

void open_error(int err) {
    errno = err;
    switch (err) {
        case EACCES: perror("Unable to access, insufficient permission"); break;
        case EISDIR: perror("Unable to open, Object is a directory, not a serial port"); break;
        case ENODEV:
        case ENXIO: perror("Unable to open, Serial port hardware not installed"); break;
        case ENOENT: perror("Unable to open, Device name does not exist"); break;
        default: perror("Unable to open: Unknown error."); break;
    }
}

int fail_open(t_serial* s, const char* what) {
    const int err = errno;
    close(s->port_fd);
    s->port_fd = -1;
    errno = err;
    perror(what);
    return -1;
}
}  // namespace

extern "C" {

QB_API t_serial* fserial_new(void) {
    auto* s = static_cast<t_serial*>(calloc(1, sizeof(t_serial)));
    if (!s) return nullptr;
    s->baud_rate = 38400;
    s->port_fd = -1;
    return s;
}

QB_API int fserial_open(t_serial* serial, char* name) {
    if (!serial || !name) return -1;
    if (serial->port_is_open) fserial_close(serial);
    serial->port_fd = open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (serial->port_fd < 0) {
        open_error(errno);
        return -1;
    }
    int lines = 0;
    if (ioctl(serial->port_fd, TIOCMGET, &lines) == 0) {
        lines &= ~(TIOCM_DTR | TIOCM_RTS);
        if (ioctl(serial->port_fd, TIOCMSET, &lines) != 0)
            return fail_open(serial, "Unable to control serial port signals");
    } else if (!lacks_modem_lines(serial->port_fd, errno)) {
        return fail_open(serial, "Unable to query serial port signals");
    }
    if (tcgetattr(serial->port_fd, &serial->settings_orig) != 0)
        return fail_open(serial, "Unable to query serial port settings (perhaps not a serial port)");
    memset(&serial->settings, 0, sizeof serial->settings);
    serial->settings.c_iflag = IGNBRK | IGNPAR;
    serial->settings.c_cflag = CS8 | CREAD | CLOCAL | HUPCL;
    // All control characters 0: a read returns at once with what is there.
    fserial_setBaud(serial, serial->baud_rate);
    serial_struct kernel{};
    if (ioctl(serial->port_fd, TIOCGSERIAL, &kernel) == 0) {
        kernel.flags |= ASYNC_LOW_LATENCY;
        ioctl(serial->port_fd, TIOCSSERIAL, &kernel);
    }
    tcflush(serial->port_fd, TCIFLUSH);
    char* copy = strdup(name);
    free(serial->port_name);
    serial->port_name = copy;
    serial->port_is_open = 1;
    return 0;
}

QB_API int fserial_close(t_serial* serial) {
    if (!is_open(serial)) return -1;
    // A vanished device refuses the restore; the descriptor is closed all the same.
    tcsetattr(serial->port_fd, TCSANOW, &serial->settings_orig);
    close(serial->port_fd);
    serial->port_fd = -1;
    serial->port_is_open = 0;
    free(serial->port_name);
    serial->port_name = nullptr;
    return 0;
}

QB_API int fserial_setBaud(t_serial* serial, int baud) {
    if (!serial || serial->port_fd < 0) return -1;
    for (const rate& r : kRates) {
        if (r.baud != baud) continue;
        termios t = serial->settings;
        cfsetospeed(&t, r.speed);
        cfsetispeed(&t, r.speed);
        if (tcsetattr(serial->port_fd, TCSANOW, &t) != 0) return -1;
        serial->settings = t;
        return 0;
    }
    return -1;
}

QB_API int fserial_read(t_serial* serial, void* ptr, int count) {
    if (!is_open(serial)) return -1;
    if (count <= 0) return 0;
    ssize_t n = read(serial->port_fd, ptr, static_cast<size_t>(count));
    if (n < 0) {
        if (errno == EAGAIN || errno == EINTR) return 0;
        LOGE(TAG, "Serial Read fail1");
        n = -1;
    } else if (n == 0) {
        // Nothing read: either no input yet or a hung-up device.
        int lines = 0;
        if (ioctl(serial->port_fd, TIOCMGET, &lines) != 0) {
            pollfd p{serial->port_fd, POLLIN, 0};
            const bool hung_up = !lacks_modem_lines(serial->port_fd, errno) ||
                                 (poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)));
            if (hung_up) {
                LOGE(TAG, "Serial Read fail2");
                return -99;
            }
        }
        return 0;
    }
    serial->rx += static_cast<int>(n);
    return static_cast<int>(n);
}

QB_API int fserial_write(t_serial* serial, void* ptr, int len) {
    if (!is_open(serial)) return -1;
    if (len < 0 || (len > 0 && !ptr)) return -1;
    const auto* p = static_cast<const unsigned char*>(ptr);
    int done = 0;
    while (done < len) {
        ssize_t n = write(serial->port_fd, p + done, static_cast<size_t>(len - done));
        if (n < 0) {
            if (errno != EAGAIN && errno != EINTR) {
                LOGE(TAG, "Serial Write n=%d errno=%d", static_cast<int>(n), errno);
                return -1;
            }
            n = 0;
        }
        done += static_cast<int>(n);
        if (n == 0) {
            pollfd w{serial->port_fd, POLLOUT, 0};
            const int r = poll(&w, 1, kWriteStallMs);
            if (r == 0 || (r < 0 && errno != EINTR)) return -1;
        }
    }
    serial->tx += done;
    return done;
}

QB_API int fserial_waitInput(t_serial* serial, int msec) {
    if (!is_open(serial)) return -1;
    pollfd p{serial->port_fd, POLLIN, 0};
    const int r = poll(&p, 1, msec < 0 ? 0 : msec);
    if (r < 0 && errno == EINTR) return 0;
    return r;
}

QB_API int fserial_discardInput(t_serial* serial) {
    if (!is_open(serial)) return -1;
    tcflush(serial->port_fd, TCIFLUSH);
    return 0;
}

QB_API void fserial_flushOutput(t_serial* serial) {
    if (is_open(serial)) tcdrain(serial->port_fd);
}

QB_API int fserial_setControl(t_serial* serial, int dtr, int rts) {
    if (!is_open(serial)) return -1;
    int lines = 0;
    if (ioctl(serial->port_fd, TIOCMGET, &lines) != 0) return -1;
    if (dtr == 1) lines |= TIOCM_DTR;
    if (dtr == 0) lines &= ~TIOCM_DTR;
    if (rts == 1) lines |= TIOCM_RTS;
    if (rts == 0) lines &= ~TIOCM_RTS;
    return ioctl(serial->port_fd, TIOCMSET, &lines) == 0 ? 0 : -1;
}

}  // extern "C"
