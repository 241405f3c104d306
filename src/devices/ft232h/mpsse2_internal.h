// The engine's handle and the command steps its operations are built from,
// shared by the GPIO/SPI and I2C files and the tests.
#pragma once

#include <ftdi.h>

#include <atomic>
#include <cstdint>

#include "mpsse2.h"

#define BIT(x) (1 << (x))

namespace qb::mpsse {

constexpr const char* TAG = "MPSSE2";

constexpr int LATENCY_MS = 100;
constexpr int CHUNK_SIZE = 65535;
// BITMODE_RESET (0) and BITMODE_MPSSE (2) come from libftdi's ftdi_mpsse_mode.
constexpr int USB_TIMEOUT = 100;    // milliseconds
constexpr int SETUP_DELAY = 25000;  // microseconds
constexpr int LOW = 0;
constexpr int HIGH = 1;

constexpr int kSpiMaxSize = 64512;
constexpr int kI2cBufferSize = 10240;
constexpr int kI2cAnswerSize = 1024;

struct devices {
    int vid;
    int pid;
    const char* description;
};
extern const devices ft2232_devices[];

}  // namespace qb::mpsse

struct mpsse2_handle {
    ftdi_context ftdi;  // first, so the handle doubles as the libftdi context
    int clock;
    uint8_t gpio_buf_low;
    uint8_t gpio_buf_high;
    std::atomic<int> gpio_read_thread_running;
    int port_dir_l;
    int port_dir_h;
    int port_val_l;
    int port_val_h;
    int mode;
    int spi_max_size;
    int endianess;
    char* i2c_buffer;
    int i2c_buffer_pos;
    int i2c_answers;    // answer bytes the transaction being built will produce
    bool i2c_overflow;  // an append did not fit: the transaction is refused
};

namespace qb::mpsse {

// One USB write of the whole buffer: 0 when every byte went out, else -1.
int mpsse2_write(mpsse2_handle* h, const uint8_t* buf, int len);
int mpsse2_send_cmd(mpsse2_handle* h, uint8_t cmd);
// Divide-by-5 choice and TCK divisor; freq 0 is the slowest clock, below 0 refused.
int mpsse2_set_clock(mpsse2_handle* h, int freq);
int mpsse2_set_lopback(mpsse2_handle* h, int enable);
int mpsse2_gpio_write_port(mpsse2_handle* h);
int mpsse2_init_gpio_pin(mpsse2_handle* h, int mode);
// Reads until want bytes arrived (at most cap) or the chip stays silent; the count.
int read_answers(mpsse2_handle* h, uint8_t* buf, int want, int cap);

}  // namespace qb::mpsse
