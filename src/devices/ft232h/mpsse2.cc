// FT232H in MPSSE mode: opening, clock, pin bytes, GPIO and SPI.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <new>
#include <thread>

#include "devices/ft232h/mpsse2_internal.h"
#include "sdk_logger.h"
#include "sdk_os.h"

namespace qb::mpsse {

const devices ft2232_devices[] = {
    {0x0403, 0x6010, "FT2232 Future Technology Devices International, Ltd"},
    {0x0403, 0x6011, "FT4232 Future Technology Devices International, Ltd"},
    {0x0403, 0x6014, "FT232H Future Technology Devices International, Ltd"},
    {0, 0, nullptr},
};

int mpsse2_write(mpsse2_handle* h, const uint8_t* buf, int len) {
    return ftdi_write_data(&h->ftdi, buf, len) == len ? 0 : -1;
}

int mpsse2_send_cmd(mpsse2_handle* h, uint8_t cmd) { return mpsse2_write(h, &cmd, 1); }

int mpsse2_set_clock(mpsse2_handle* h, int freq) {
    if (freq < 0) {
        LOGE(TAG, "Bad clock frequency %d", freq);
        return -1;
    }
    int base = 12000000;
    if (freq > 6000000) base = 60000000;
    if (mpsse2_send_cmd(h, base == 12000000 ? EN_DIV_5 : DIS_DIV_5) != 0) return -1;
    // The divisor field is 16 bits: 0 gives base/2, 0xFFFF the slowest clock.
    int divisor = freq == 0 ? 0xFFFF : std::clamp(base / freq / 2 - 1, 0, 0xFFFF);
    if (freq != 0 && divisor != base / freq / 2 - 1)
        LOGW(TAG, "Clock %d Hz out of range, using %d Hz", freq, base / ((divisor + 1) * 2));
    const uint8_t cmd[] = {TCK_DIVISOR, uint8_t(divisor & 0xFF), uint8_t(divisor >> 8)};
    if (mpsse2_write(h, cmd, sizeof cmd) != 0) return -1;
    h->clock = base / ((divisor + 1) * 2);
    return 0;
}

int mpsse2_set_lopback(mpsse2_handle* h, int enable) {
    return mpsse2_send_cmd(h, enable ? LOOPBACK_START : LOOPBACK_END);
}

int mpsse2_gpio_write_port(mpsse2_handle* h) {
    const uint8_t low[] = {SET_BITS_LOW, uint8_t(h->port_val_l), uint8_t(h->port_dir_l)};
    const uint8_t high[] = {SET_BITS_HIGH, uint8_t(h->port_val_h), uint8_t(h->port_dir_h)};
    if (mpsse2_write(h, low, sizeof low) != 0) return -1;
    return mpsse2_write(h, high, sizeof high);
}

int mpsse2_init_gpio_pin(mpsse2_handle* h, int mode) {
    h->port_val_l = 0;
    h->port_val_h = 0;
    h->port_dir_l = 0xFB;  // all outputs but DI
    h->port_dir_h = 0xFF;
    if (mode == I2C && mpsse2_send_cmd(h, EN_3_PHASE) != 0) return -1;
    if (mpsse2_send_cmd(h, DIS_ADAPTIVE) != 0) return -1;
    return mpsse2_gpio_write_port(h);
}

int read_answers(mpsse2_handle* h, uint8_t* buf, int want, int cap) {
    using clock = std::chrono::steady_clock;
    // A slow clock delivers long reads gradually: give up only after the
    // chip has been silent for a while, not after a fixed total time.
    constexpr auto kIdle = std::chrono::milliseconds(2 * USB_TIMEOUT);
    int got = 0;
    auto last = clock::now();
    while (got < want) {
        int n = ftdi_read_data(&h->ftdi, buf + got, cap - got);
        if (n < 0) break;
        if (n > 0) {
            got += n;
            last = clock::now();
        } else if (clock::now() - last > kIdle) {
            break;
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    return got;
}

}  // namespace qb::mpsse

using namespace qb::mpsse;

namespace {

bool is_spi_mode(int mode) { return mode >= SPI0 && mode <= SPI3; }

bool valid_pin(int pin) {
    if (pin >= 0 && pin <= 15) return true;
    LOGE(TAG, "Bad GPIO pin %d", pin);
    return false;
}

// Edge flags: data out on the falling edge for SPI0/SPI3, in on the falling
// edge for SPI1/SPI2.
uint8_t write_flags(const mpsse2_handle* h) {
    return uint8_t((h->mode == SPI0 || h->mode == SPI3 ? MPSSE_WRITE_NEG : 0) | h->endianess * MPSSE_LSB);
}
uint8_t read_flags(const mpsse2_handle* h) {
    return uint8_t((h->mode == SPI1 || h->mode == SPI2 ? MPSSE_READ_NEG : 0) | h->endianess * MPSSE_LSB);
}
uint8_t duplex_flags(const mpsse2_handle* h) {
    uint8_t f = 0;
    if (h->mode == SPI0 || h->mode == SPI3) f = MPSSE_WRITE_NEG;
    if (h->mode == SPI1 || h->mode == SPI2) f = MPSSE_READ_NEG;
    return uint8_t(f | h->endianess * MPSSE_LSB);
}

// Lengths go on the wire as length-1 in 16 bits: 0 would clock 65536 bytes.
bool spi_length_ok(const mpsse2_handle* h, int length, const char* what) {
    if (length > h->spi_max_size) {
        LOGE(TAG, "Please %s data size < %d every time", what, h->spi_max_size);
        return false;
    }
    if (length <= 0) {
        LOGE(TAG, "Bad SPI length %d", length);
        return false;
    }
    return true;
}

int spi_write_command(mpsse2_handle* h, uint8_t opcode, const char* data, int length) {
    std::unique_ptr<uint8_t[]> cmd(new (std::nothrow) uint8_t[size_t(length) + 3]);
    if (!cmd) return -1;
    cmd[0] = opcode;
    cmd[1] = uint8_t((length - 1) & 0xFF);
    cmd[2] = uint8_t((length - 1) >> 8);
    std::copy(data, data + length, cmd.get() + 3);
    return mpsse2_write(h, cmd.get(), length + 3);
}

int spi_read_into(mpsse2_handle* h, char* buffer, int length) {
    const uint8_t cmd[] = {uint8_t(MPSSE_DO_READ | read_flags(h)), uint8_t((length - 1) & 0xFF),
                           uint8_t((length - 1) >> 8)};
    if (mpsse2_write(h, cmd, sizeof cmd) != 0) return -1;
    auto* out = reinterpret_cast<uint8_t*>(buffer);
    int got = read_answers(h, out, length, length);
    if (got < length) {
        LOGD(TAG, "Request read=%d, actual read=%d", length, got);
        for (int i = 0; i < got; i++) printf("%02x ", out[i]);
        printf("\n");
    }
    return got;
}

// GPIO and SPI set-up share these steps: clock, loopback off, pin bytes, settle, purge.
int setup_pins(mpsse2_handle* h, int freq) {
    if (mpsse2_set_clock(h, freq) != 0) {
        LOGE(TAG, "FTDI Set freq failed");
        return -1;
    }
    if (mpsse2_set_lopback(h, 0) != 0 || mpsse2_init_gpio_pin(h, GPIO) != 0) return -1;
    os_usleep(SETUP_DELAY);
    ftdi_tcioflush(&h->ftdi);
    return 0;
}

void release(mpsse2_handle* h, bool opened) {
    if (opened) ftdi_usb_close(&h->ftdi);
    ftdi_deinit(&h->ftdi);
    delete h;
}

}  // namespace

extern "C" {

QB_API MPSSE2_handle mpsse2_init(int freq) {
    auto* h = new (std::nothrow) mpsse2_handle{};
    if (!h) return nullptr;
    if (ftdi_init(&h->ftdi) < 0) {
        LOGE(TAG, "FTDI Init failed");
        release(h, false);
        return nullptr;
    }
    const devices& ft232h = ft2232_devices[2];
    ftdi_set_interface(&h->ftdi, INTERFACE_A);
    if (ftdi_usb_open_desc_index(&h->ftdi, ft232h.vid, ft232h.pid, nullptr, nullptr, 0) < 0) {
        LOGE(TAG, "FTDI USB Open failed");
        release(h, false);
        return nullptr;
    }
    if (ftdi_usb_reset(&h->ftdi) < 0 || ftdi_set_latency_timer(&h->ftdi, LATENCY_MS) < 0 ||
        ftdi_write_data_set_chunksize(&h->ftdi, CHUNK_SIZE) < 0 ||
        ftdi_read_data_set_chunksize(&h->ftdi, CHUNK_SIZE) < 0 ||
        ftdi_set_bitmode(&h->ftdi, 0, BITMODE_RESET) < 0) {
        LOGE(TAG, "FTDI Set parameter failed");
        release(h, true);
        return nullptr;
    }
    h->ftdi.usb_read_timeout = USB_TIMEOUT;
    h->ftdi.usb_write_timeout = USB_TIMEOUT;
    if (ftdi_set_bitmode(&h->ftdi, 0, BITMODE_MPSSE) < 0) {
        LOGE(TAG, "FTDI Set parameter failed");
        release(h, true);
        return nullptr;
    }
    return h;
}

QB_API int mpsse2_close(MPSSE2_handle h) {
    if (!h) return -1;
    free(h->i2c_buffer);
    release(h, true);
    return 0;
}

QB_API int mpsse2_gpio_init(MPSSE2_handle h, int gpio, int direction) {
    if (!h || !valid_pin(gpio)) return -1;
    if (is_spi_mode(h->mode)) {
        LOGD(TAG, "dont init GPIO because SPI is already init");
    } else if (!h->gpio_read_thread_running) {
        if (setup_pins(h, 0) != 0) return -1;
        h->gpio_read_thread_running = 1;
    }
    int& dir = gpio < 8 ? h->port_dir_l : h->port_dir_h;
    int bit = BIT(gpio & 7);
    dir = direction ? dir & ~bit : dir | bit;
    return mpsse2_gpio_write_port(h);
}

QB_API int mpsse2_gpio_write(MPSSE2_handle h, int pin, int val) {
    if (!h || !valid_pin(pin)) return -1;
    bool high = pin > 7;
    int& port = high ? h->port_val_h : h->port_val_l;
    int bit = BIT(pin & 7);
    port = val == HIGH ? port | bit : port & ~bit;
    const uint8_t cmd[] = {uint8_t(high ? SET_BITS_HIGH : SET_BITS_LOW), uint8_t(port),
                           uint8_t(high ? h->port_dir_h : h->port_dir_l)};
    return mpsse2_write(h, cmd, sizeof cmd);
}

QB_API int mpsse2_gpio_update(MPSSE2_handle h) {
    if (!h) return -1;
    if (mpsse2_send_cmd(h, GET_BITS_LOW) != 0 || mpsse2_send_cmd(h, GET_BITS_HIGH) != 0) return -1;
    uint8_t pins[2];
    // Values from a short answer would be stale or shifted: keep the old ones.
    if (read_answers(h, pins, 2, 2) != 2) {
        LOGE(TAG, "GPIO read failed");
        return -1;
    }
    h->port_val_l = pins[0];
    h->port_val_h = pins[1];
    return 0;
}

QB_API int mpsse2_gpio_read(MPSSE2_handle h, int pin, int* value) {
    if (!h || !value || !valid_pin(pin)) return -1;
    if (mpsse2_gpio_update(h) != 0) return -1;
    *value = ((pin < 8 ? h->port_val_l : h->port_val_h) >> (pin & 7)) & 1;
    return 0;
}

QB_API void* gpio_read_thread(void* arg) {
    auto* h = static_cast<mpsse2_handle*>(arg);
    while (h && h->gpio_read_thread_running) {
        if (mpsse2_gpio_update(h) != 0) break;
    }
    return nullptr;
}

QB_API int mpsse2_spi_init(MPSSE2_handle h, int frequency, int endianess, int cpol, int cpha) {
    if (!h) return -1;
    if (endianess != MPSSE_SPI_MSB && endianess != MPSSE_SPI_LSB) {
        LOGE(TAG, "Bad SPI bit order %d", endianess);
        return -1;
    }
    if (cpol == 0 && cpha == 0) h->mode = SPI0;
    if (cpol == 0 && cpha == 1) h->mode = SPI1;
    if (cpol == 1 && cpha == 0) h->mode = SPI2;
    if (cpol == 1 && cpha == 1) h->mode = SPI3;
    h->endianess = endianess;
    if (setup_pins(h, frequency) != 0) return -1;
    // SCK idles at the CPOL level, so the device sees the mode it was asked for.
    if (h->mode == SPI2 || h->mode == SPI3) h->port_val_l |= BIT(SCK);
    h->spi_max_size = kSpiMaxSize;
    h->port_val_l |= BIT(CS);
    return mpsse2_gpio_write_port(h);
}

QB_API int mpsse2_spi_send(MPSSE2_handle h, char* buffer, int length) {
    if (!h) return -1;
    ftdi_tcioflush(&h->ftdi);
    if (!spi_length_ok(h, length, "send") || !buffer) return -1;
    return spi_write_command(h, uint8_t(MPSSE_DO_WRITE | write_flags(h)), buffer, length);
}

QB_API int mpsse2_spi_read(MPSSE2_handle h, char* buffer, int length) {
    if (!h || !spi_length_ok(h, length, "recv") || !buffer) return -1;
    return spi_read_into(h, buffer, length);
}

QB_API int mpsse2_spi_send_read(MPSSE2_handle h, char* inbuffer, int length_in, char* out_buffer, int length_out) {
    if (!h || !spi_length_ok(h, length_in, "send") || !spi_length_ok(h, length_out, "send") || !inbuffer ||
        !out_buffer)
        return -1;
    // Stale answers left in the receive path would be taken for this transfer's.
    ftdi_tciflush(&h->ftdi);
    if (spi_write_command(h, uint8_t(MPSSE_DO_WRITE | MPSSE_DO_READ | duplex_flags(h)), inbuffer, length_in) != 0)
        return -1;
    // The chip answers length_in bytes whatever the caller's buffer holds.
    std::unique_ptr<uint8_t[]> answer(new (std::nothrow) uint8_t[size_t(length_in)]);
    if (!answer) return -1;
    int got = read_answers(h, answer.get(), length_in, length_in);
    std::copy_n(answer.get(), std::min(got, length_out), reinterpret_cast<uint8_t*>(out_buffer));
    return got;
}

QB_API int mpsse2_spi_send_read00(MPSSE2_handle h, char* inbuffer, int length_in, char* out_buffer,
                                  int length_out) {
    if (!h || !spi_length_ok(h, length_in, "send") || !spi_length_ok(h, length_out, "recv") || !inbuffer ||
        !out_buffer)
        return -1;
    ftdi_tciflush(&h->ftdi);
    if (spi_write_command(h, uint8_t(MPSSE_DO_WRITE | write_flags(h)), inbuffer, length_in) != 0) return -1;
    return spi_read_into(h, out_buffer, length_out);
}

QB_API int mpsse2_spi_enable_chip(MPSSE2_handle h, int enable) {
    if (!h) return -1;
    h->port_val_l = enable ? h->port_val_l & ~BIT(CS) : h->port_val_l | BIT(CS);
    return mpsse2_gpio_write_port(h);
}

}  // extern "C"
