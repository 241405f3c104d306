/*
 * Sensor channels in C++ (sensor_channel_api.h); conventions in
 * qb_result.hpp.
 *
 *   qb::SensorChannel::init_modules();
 *   Sensor_Channel_module_register_onboard();
 *   auto ch = qb::SensorChannel::open("Onboard", "board.json");
 *   (void)ch->uart_open(0, 115200);
 *
 * A negative result is a failure; other results are the module's own and
 * come back as values. The GPIO and UART callbacks of the C API carry no user
 * pointer, so they stay plain functions (a lambda without captures converts).
 * A module without close keeps its channel when the owner goes, as in C.
 */
#ifndef QB_SENSOR_CHANNEL_HPP
#define QB_SENSOR_CHANNEL_HPP

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>

#include "qb_result.hpp"
#include "sensor_channel_api.h"

namespace qb {

class SensorChannel {
public:
    static void init_modules() { Sensor_Channel_module_Init(); }

    static Result<SensorChannel> open(std::string_view module,
                                      std::optional<std::string_view> config_file = std::nullopt) {
        sca_handle h = sca_open(detail::CStr(module), detail::CStr(config_file));
        if (!h) return Error{-1, "sca_open"};
        return SensorChannel(h);
    }

    // On failure the channel stays open and owned (release() hands it over).
    Result<void> close() { return detail::check(h_.reset(), "sca_close"); }

    Result<void> gpio_init(int pin, gpio_mode mode) { return ok(sca_gpio_init(h_.get(), pin, mode), "sca_gpio_init"); }
    Result<void> gpio_write(int pin, bool high) { return ok(sca_gpio_write(h_.get(), pin, high ? 1 : 0), "sca_gpio_write"); }
    Result<int> gpio_read(int pin) { return read_value(sca_gpio_read, pin, "sca_gpio_read"); }
    Result<void> gpio_on_change(gpio_callback_func cb) { return ok(sca_gpio_register_cb(h_.get(), cb), "sca_gpio_register_cb"); }

    Result<void> analog_init(int pin, int mode) { return ok(sca_analog_init(h_.get(), pin, mode), "sca_analog_init"); }
    Result<void> analog_write(int pin, int value) { return ok(sca_analog_write(h_.get(), pin, value), "sca_analog_write"); }
    Result<int> analog_read(int pin) { return read_value(sca_analog_read, pin, "sca_analog_read"); }
    Result<void> poll() { return ok(sca_poll(h_.get()), "sca_poll"); }

    Result<void> pwm_init(int pin, int frequency) { return ok(sca_pwm_init(h_.get(), pin, frequency), "sca_pwm_init"); }
    Result<void> pwm_write(int pin, int duty) { return ok(sca_pwm_write(h_.get(), pin, duty), "sca_pwm_write"); }
    Result<void> servo_init(int pin) { return ok(sca_servo_init(h_.get(), pin), "sca_servo_init"); }
    Result<void> servo_write(int pin, int angle) { return ok(sca_servo_write(h_.get(), pin, angle), "sca_servo_write"); }

    Result<void> uart_open(int uart, int baudrate) { return ok(sca_uart_open(h_.get(), uart, baudrate), "sca_uart_open"); }
    Result<void> uart_close(int uart) { return ok(sca_uart_close(h_.get(), uart), "sca_uart_close"); }
    // The module's count of bytes written.
    Result<int> uart_write(int uart, std::string_view data) {
        if (!detail::fits_int(data.size())) return Error{-1, "sca_uart_write"};
        return detail::count(sca_uart_write(h_.get(), uart, detail::bytes(data), int(data.size())), "sca_uart_write");
    }
    // Reads into buffer; the module's count of bytes read.
    Result<int> uart_read(int uart, std::span<char> buffer) {
        if (!detail::fits_int(buffer.size())) return Error{-1, "sca_uart_read"};
        return detail::count(sca_uart_read(h_.get(), uart, buffer.data(), int(buffer.size())), "sca_uart_read");
    }
    Result<void> uart_on_data(int uart, uart_callback_func cb) {
        return ok(sca_uart_register_cb(h_.get(), uart, cb), "sca_uart_register_cb");
    }

    Result<void> i2c_init(int sck_pin, int sda_pin, int delay) {
        return ok(sca_i2c_init(h_.get(), sck_pin, sda_pin, delay), "sca_i2c_init");
    }
    Result<void> i2c_write(int address, std::string_view data) {
        if (!detail::fits_int(data.size())) return Error{-1, "sca_i2c_write"};
        return ok(sca_i2c_write(h_.get(), address, detail::bytes(data), int(data.size())), "sca_i2c_write");
    }
    Result<void> i2c_write_register(int address, int reg, std::string_view data) {
        if (!detail::fits_int(data.size())) return Error{-1, "sca_i2c_write_register"};
        return ok(sca_i2c_write_register(h_.get(), address, reg, detail::bytes(data), int(data.size())),
                  "sca_i2c_write_register");
    }
    Result<std::string> i2c_read(int address, size_t size) {
        return read_bytes(size, "sca_i2c_read", [&](char* b, int n) { return sca_i2c_read(h_.get(), address, b, n); });
    }
    Result<std::string> i2c_read_register(int address, int reg, size_t size) {
        return read_bytes(size, "sca_i2c_read_register",
                          [&](char* b, int n) { return sca_i2c_read_register(h_.get(), address, reg, b, n); });
    }
    Result<void> i2c_ping(int address) { return ok(sca_i2c_ping(h_.get(), address), "sca_i2c_ping"); }

    Result<void> spi_init(int index, int frequency, int cpol, int cpha) {
        return ok(sca_spi_init(h_.get(), index, frequency, cpol, cpha), "sca_spi_init");
    }
    Result<void> spi_write(std::string_view data) {
        if (!detail::fits_int(data.size())) return Error{-1, "sca_spi_write"};
        return ok(sca_spi_write(h_.get(), detail::bytes(data), int(data.size())), "sca_spi_write");
    }
    Result<std::string> spi_read(size_t size) {
        return read_bytes(size, "sca_spi_read", [&](char* b, int n) { return sca_spi_read(h_.get(), b, n); });
    }
    Result<void> spi_enable_chip(bool enable) { return ok(sca_spi_enable_chip(h_.get(), enable ? 1 : 0), "sca_spi_enable_chip"); }
    // Sends out, then reads in_size bytes.
    Result<std::string> spi_write_read(std::string_view out, size_t in_size) {
        if (!detail::fits_int(out.size())) return Error{-1, "sca_spi_write_read"};
        return read_bytes(in_size, "sca_spi_write_read", [&](char* b, int n) {
            return sca_spi_write_read(h_.get(), detail::bytes(out), int(out.size()), b, n);
        });
    }

    sca_handle native() const { return h_.get(); }
    // Gives the handle up without closing it.
    sca_handle release() { return h_.release(); }

private:
    explicit SensorChannel(sca_handle h) : h_(h) {}
    static Result<void> ok(int rc, const char* function) { return detail::not_negative(rc, function); }
    Result<int> read_value(int (*fn)(sca_handle, int, int*), int pin, const char* function) {
        int value = 0;
        if (int rc = fn(h_.get(), pin, &value); rc < 0) return Error{rc, function};
        return value;
    }
    template <typename Fn>
    static Result<std::string> read_bytes(size_t size, const char* function, Fn&& fn) {
        if (!detail::fits_int(size)) return Error{-1, function};
        std::string buf(size, '\0');
        if (int rc = fn(buf.data(), int(size)); rc < 0) return Error{rc, function};
        return buf;
    }
    detail::Handle<sca_handle, sca_close> h_;
};

}  // namespace qb

#endif /* QB_SENSOR_CHANNEL_HPP */
