// The FT232H behind the sensor channel API: each slot forwards to the MPSSE
// engine and passes its failures through.
#include "channel_ft232h.h"

#include <new>

#include "mpsse2.h"
#include "sdk_logger.h"
#include "sensor_channel_api_impl.h"

namespace {

constexpr const char* TAG = "CHANNEL_FT232H";

struct ft232h_hdl {
    MPSSE2_handle mpsse;
};

MPSSE2_handle engine(void* h) { return h ? static_cast<ft232h_hdl*>(h)->mpsse : nullptr; }

// The engine returns 0, a byte count or -1; callers of the channel see 0 or -1.
int status(int rc) { return rc < 0 ? -1 : 0; }

int channel_ft232_open(void** out_handle, char* /*config_file*/) {
    if (!out_handle) return -1;
    *out_handle = nullptr;
    auto* h = new (std::nothrow) ft232h_hdl{};
    if (!h) return -1;
    h->mpsse = mpsse2_init(0);
    if (!h->mpsse) {
        delete h;
        return -1;
    }
    *out_handle = h;
    return 0;
}

int channel_ft232_gpio_init(void* h, int pin, int mode) {
    if (!h) return -1;
    return status(mpsse2_gpio_init(engine(h), pin, mode != GPIO_MODE_OUT));
}

int channel_ft232_write(void* h, int pin, int value) {
    if (!h) return -1;
    return status(mpsse2_gpio_write(engine(h), pin, value));
}

int channel_ft232_read(void* h, int pin, int* value) {
    if (!h) return -1;
    return status(mpsse2_gpio_read(engine(h), pin, value));
}

// SCL and SDA are fixed by the chip; the bus runs at 100 kHz.
int channel_ft232_i2c_init(void* h, int /*sck_pin*/, int /*sda_pin*/, int /*delay*/) {
    if (!h) return -1;
    return status(mpsse2_i2c_init(engine(h)));
}

int channel_ft232_i2c_write(void* h, int address, char* buffer, int size) {
    if (!h) return -1;
    return mpsse2_i2c_write(engine(h), uint8_t(address & 0xFF), buffer, size);
}

int channel_ft232_i2c_read_register(void* h, int address, int register_address, char* buffer, int size) {
    if (!h) return -1;
    return mpsse2_i2c_read_register(engine(h), uint8_t(address & 0xFF), uint8_t(register_address & 0xFF), buffer,
                                    size);
}

int channel_ft232_i2c_write_register(void* h, int address, int register_address, char* buffer, int size) {
    if (!h) return -1;
    return mpsse2_i2c_write_register(engine(h), uint8_t(address & 0xFF), uint8_t(register_address & 0xFF), buffer,
                                     size);
}

int channel_ft232_i2c_read(void* h, int address, char* buffer, int size) {
    if (!h) return -1;
    return mpsse2_i2c_read(engine(h), uint8_t(address & 0xFF), buffer, size);
}

int channel_ft232_i2c_ping(void* h, int address) {
    if (!h) return -1;
    return mpsse2_i2c_ping(engine(h), uint8_t(address & 0xFF));
}

int channel_ft232_spi_init(void* h, int /*spi_index*/, int frequency, int cpol, int cpha) {
    if (!h) return -1;
    if (mpsse2_spi_init(engine(h), frequency, MPSSE_SPI_MSB, cpol, cpha) != 0) return -1;
    LOGD(TAG, "SPI init OK");
    return 0;
}

int channel_ft232_spi_write(void* h, char* buffer, int size) {
    if (!h) return -1;
    return status(mpsse2_spi_send(engine(h), buffer, size));
}

// A read that came back short leaves stale bytes in the caller's buffer.
int channel_ft232_spi_read(void* h, char* buffer, int size) {
    if (!h) return -1;
    return mpsse2_spi_read(engine(h), buffer, size) == size ? 0 : -1;
}

int channel_ft232_spi_enable_chip(void* h, int enable) {
    if (!h) return -1;
    return status(mpsse2_spi_enable_chip(engine(h), enable));
}

int channel_ft232_spi_write_read(void* h, char* inbuffer, int insize, char* outbuffer, int outsize) {
    if (!h) return -1;
    return mpsse2_spi_send_read(engine(h), inbuffer, insize, outbuffer, outsize) == insize ? 0 : -1;
}

// Slots left null are reported as not supported.
constinit sca_impl_t ft232h_impl = [] {
    sca_impl_t t{};
    t.name = "FT232H";
    t.open = channel_ft232_open;
    t.gpio_init = channel_ft232_gpio_init;
    t.gpio_write = channel_ft232_write;
    t.gpio_read = channel_ft232_read;
    t.i2c_init = channel_ft232_i2c_init;
    t.i2c_write = channel_ft232_i2c_write;
    t.i2c_read_register = channel_ft232_i2c_read_register;
    t.i2c_write_register = channel_ft232_i2c_write_register;
    t.i2c_read = channel_ft232_i2c_read;
    t.i2c_ping = channel_ft232_i2c_ping;
    t.spi_init = channel_ft232_spi_init;
    t.spi_write = channel_ft232_spi_write;
    t.spi_read = channel_ft232_spi_read;
    t.spi_enable_chip = channel_ft232_spi_enable_chip;
    t.spi_write_read = channel_ft232_spi_write_read;
    return t;
}();

}  // namespace

extern "C" {

QB_API void Sensor_Channel_module_register_FT232H(void) { Sensor_Channel_module_register(&ft232h_impl); }

}  // extern "C"
