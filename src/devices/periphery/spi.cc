// SPI devices through spidev.
#include <fcntl.h>
#include <linux/spi/spidev.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "devices/periphery/periphery_internal.h"

using qb::periphery::device_ioctl;

namespace {

constexpr uint8_t kModeBits = SPI_CPHA | SPI_CPOL;
constexpr uint8_t kExtraBits = uint8_t(~(kModeBits | SPI_LSB_FIRST));

constexpr auto& _spi_error = qb::periphery::handle_error<spi_t>;

// One value read or written by ioctl, with the layer's message on failure.
template <typename T>
int query(spi_t* spi, unsigned long request, T* value, const char* what) {
    if (device_ioctl(spi->fd, request, value) < 0) return _spi_error(spi, SPI_ERROR_QUERY, errno, "%s", what);
    return 0;
}
template <typename T>
int configure(spi_t* spi, unsigned long request, T value, const char* what) {
    if (device_ioctl(spi->fd, request, &value) < 0) return _spi_error(spi, SPI_ERROR_CONFIGURE, errno, "%s", what);
    return 0;
}

int check_mode(spi_t* spi, unsigned int mode) {
    return mode <= 3 ? 0 : _spi_error(spi, SPI_ERROR_ARG, 0, "Invalid mode (can be 0,1,2,3)");
}
int check_bit_order(spi_t* spi, spi_bit_order_t bit_order) {
    if (bit_order == MSB_FIRST || bit_order == LSB_FIRST) return 0;
    return _spi_error(spi, SPI_ERROR_ARG, 0, "Invalid bit order (can be MSB_FIRST,LSB_FIRST)");
}

// The bits of the mode byte under mask.
template <typename T>
int get_mode_bits(spi_t* spi, uint8_t mask, T* out, const char* what) {
    uint8_t mode;
    if (int rc = query(spi, SPI_IOC_RD_MODE, &mode, what); rc < 0) return rc;
    *out = T(mode & mask);
    return 0;
}

// Replaces the bits of the mode byte under mask, keeping the others.
int update_mode_byte(spi_t* spi, uint8_t mask, uint8_t bits, const char* getting, const char* setting) {
    uint8_t mode;
    if (int rc = query(spi, SPI_IOC_RD_MODE, &mode, getting); rc < 0) return rc;
    return configure(spi, SPI_IOC_WR_MODE, uint8_t((mode & ~mask) | (bits & mask)), setting);
}

}  // namespace

extern "C" {

QB_API spi_t* spi_new(void) { return qb::periphery::new_handle<spi_t>(); }

QB_API void spi_free(spi_t* spi) { free(spi); }

QB_API int spi_open(spi_t* spi, const char* path, unsigned int mode, uint32_t max_speed) {
    return spi_open_advanced(spi, path, mode, max_speed, MSB_FIRST, 8, 0);
}

QB_API int spi_open_advanced(spi_t* spi, const char* path, unsigned int mode, uint32_t max_speed,
                             spi_bit_order_t bit_order, uint8_t bits_per_word, uint8_t extra_flags) {
    *spi = spi_t{};
    spi->fd = -1;
    if (int rc = check_mode(spi, mode); rc < 0) return rc;
    if (int rc = check_bit_order(spi, bit_order); rc < 0) return rc;
    int fd = open(path, O_RDWR);
    if (fd < 0) return _spi_error(spi, SPI_ERROR_OPEN, errno, "Opening SPI device \"%s\"", path);
    spi->fd = fd;
    uint8_t mode_byte = uint8_t(mode | (bit_order == LSB_FIRST ? SPI_LSB_FIRST : 0) | extra_flags);
    int rc = configure(spi, SPI_IOC_WR_MODE, mode_byte, "Setting SPI mode");
    if (rc == 0) rc = configure(spi, SPI_IOC_WR_MAX_SPEED_HZ, max_speed, "Setting SPI max speed");
    if (rc == 0) rc = configure(spi, SPI_IOC_WR_BITS_PER_WORD, bits_per_word, "Setting SPI bits per word");
    if (rc < 0) {
        close(fd);
        spi->fd = -1;
    }
    return rc;
}

QB_API int spi_transfer(spi_t* spi, const uint8_t* txbuf, uint8_t* rxbuf, size_t len) {
    // The kernel's length field is 32 bits.
    if (len > UINT32_MAX) return _spi_error(spi, SPI_ERROR_ARG, 0, "Invalid transfer length");
    spi_ioc_transfer xfer{};
    xfer.tx_buf = uintptr_t(txbuf);
    xfer.rx_buf = uintptr_t(rxbuf);
    xfer.len = __u32(len);
    if (device_ioctl(spi->fd, SPI_IOC_MESSAGE(1), &xfer) < 1)
        return _spi_error(spi, SPI_ERROR_TRANSFER, errno, "SPI transfer");
    return 0;
}

QB_API int spi_close(spi_t* spi) {
    return qb::periphery::close_handle(spi, SPI_ERROR_CLOSE, "Closing SPI device");
}

QB_API int spi_get_mode(spi_t* spi, unsigned int* mode) {
    return get_mode_bits(spi, kModeBits, mode, "Getting SPI mode");
}

QB_API int spi_get_max_speed(spi_t* spi, uint32_t* max_speed) {
    return query(spi, SPI_IOC_RD_MAX_SPEED_HZ, max_speed, "Getting SPI max speed");
}

QB_API int spi_get_bit_order(spi_t* spi, spi_bit_order_t* bit_order) {
    uint8_t lsb;
    if (int rc = query(spi, SPI_IOC_RD_LSB_FIRST, &lsb, "Getting SPI bit order"); rc < 0) return rc;
    *bit_order = lsb ? LSB_FIRST : MSB_FIRST;
    return 0;
}

QB_API int spi_get_bits_per_word(spi_t* spi, uint8_t* bits_per_word) {
    return query(spi, SPI_IOC_RD_BITS_PER_WORD, bits_per_word, "Getting SPI bits per word");
}

QB_API int spi_get_extra_flags(spi_t* spi, uint8_t* extra_flags) {
    return get_mode_bits(spi, kExtraBits, extra_flags, "Getting SPI mode flags");
}

QB_API int spi_set_mode(spi_t* spi, unsigned int mode) {
    if (int rc = check_mode(spi, mode); rc < 0) return rc;
    return update_mode_byte(spi, kModeBits, uint8_t(mode), "Getting SPI mode", "Setting SPI mode");
}

QB_API int spi_set_max_speed(spi_t* spi, uint32_t max_speed) {
    return configure(spi, SPI_IOC_WR_MAX_SPEED_HZ, max_speed, "Setting SPI max speed");
}

QB_API int spi_set_bit_order(spi_t* spi, spi_bit_order_t bit_order) {
    if (int rc = check_bit_order(spi, bit_order); rc < 0) return rc;
    return configure(spi, SPI_IOC_WR_LSB_FIRST, uint8_t(bit_order == LSB_FIRST), "Setting SPI bit order");
}

QB_API int spi_set_bits_per_word(spi_t* spi, uint8_t bits_per_word) {
    return configure(spi, SPI_IOC_WR_BITS_PER_WORD, bits_per_word, "Setting SPI bits per word");
}

QB_API int spi_set_extra_flags(spi_t* spi, uint8_t extra_flags) {
    return update_mode_byte(spi, kExtraBits, extra_flags, "Getting SPI mode flags",
                            "Setting SPI mode flags");
}

QB_API int spi_tostring(spi_t* spi, char* str, size_t len) {
    char mode[4] = "?", speed[16] = "?", bits[4] = "?", flags[8] = "?";
    const char* order = "?";
    unsigned int m;
    uint32_t s;
    spi_bit_order_t o;
    uint8_t b, f;
    qb::periphery::error_record saved = spi->error;
    if (spi_get_mode(spi, &m) == 0) snprintf(mode, sizeof mode, "%u", m);
    if (spi_get_max_speed(spi, &s) == 0) snprintf(speed, sizeof speed, "%u", s);
    if (spi_get_bit_order(spi, &o) == 0) order = o == LSB_FIRST ? "LSB_FIRST" : "MSB_FIRST";
    if (spi_get_bits_per_word(spi, &b) == 0) snprintf(bits, sizeof bits, "%u", b);
    if (spi_get_extra_flags(spi, &f) == 0) snprintf(flags, sizeof flags, "0x%02x", f);
    spi->error = saved;
    return snprintf(str, len, "SPI (fd=%d, mode=%s, max_speed=%s, bit_order=%s, bits_per_word=%s, extra_flags=%s)",
                    spi->fd, mode, speed, order, bits, flags);
}

QB_API const char* spi_errmsg(spi_t* spi) { return spi->error.errmsg; }
QB_API int spi_errno(spi_t* spi) { return spi->error.c_errno; }
QB_API int spi_fd(spi_t* spi) { return spi->fd; }

}  // extern "C"
