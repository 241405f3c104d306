// The sensor channel registry and the generic operations: each checks its
// handle and arguments, then forwards to the module's slot or reports that
// the module lacks it.
#include "sensor_channel_api.h"

#include <cstring>

#include "sdk_list.h"
#include "sdk_logger.h"
#include "sdk_os.h"
#include "sensor_channel_api_impl.h"

namespace {
constexpr const char* TAG = "SENSOR_CHANNEL_API";

struct sensor_channel_list {
    list_head list;
    sca_impl_t* impl;
};

list_head sca_list = {nullptr, nullptr};

// The not-supported lines of the older operations spell the verb this way;
// log watchers match them as they are.
constexpr const char* kOld = "suooprt";
constexpr const char* kNew = "support";

sca_impl_t* find_module(const char* name) {
    if (!sca_list.next) return nullptr;
    list_head* pos;
    list_for_each(pos, &sca_list) {
        auto* e = list_entry(pos, sensor_channel_list, list);
        if (e->impl->name && strcmp(e->impl->name, name) == 0) return e->impl;
    }
    return nullptr;
}

template <auto Slot, typename... Args>
int dispatch(sca_handle h, const char* verb, const char* op, Args... args) {
    if (!h) {
        LOGE(TAG, "Null handle");
        return -1;
    }
    auto fn = h->impl->*Slot;
    if (!fn) {
        LOGE(TAG, "module %s does not %s %s", h->impl->name, verb, op);
        return -1;
    }
    return fn(h->handle, args...);
}
}  // namespace

extern "C" {

QB_API void Sensor_Channel_module_Init(void) { INIT_LIST_HEAD(&sca_list); }

QB_API void Sensor_Channel_module_register(sca_impl_t* impl) {
    if (!impl) return;
    if (!sca_list.next) INIT_LIST_HEAD(&sca_list);
    LOGD(TAG, "Register sensor channel module %s", impl->name ? impl->name : "");
    auto* entry = static_cast<sensor_channel_list*>(os_zalloc(sizeof(sensor_channel_list)));
    if (!entry) return;
    entry->impl = impl;
    list_add_tail(&entry->list, &sca_list);
}

QB_API sca_handle sca_open(char* channel_name, char* config_file) {
    LOGD(TAG, "Sensor channel Open");
    if (!channel_name) {
        LOGE(TAG, "Null channel name");
        return nullptr;
    }
    sca_impl_t* impl = find_module(channel_name);
    if (!impl) {
        LOGE(TAG, "module %s not found", channel_name);
        return nullptr;
    }
    auto* ch = static_cast<_sca_handle*>(os_zalloc(sizeof(_sca_handle)));
    if (!ch) return nullptr;
    ch->impl = impl;
    void* module_handle = nullptr;
    if (impl->open) impl->open(&module_handle, config_file);
    if (!module_handle) {
        LOGE(TAG, "module %s init failed", channel_name);
        os_free(ch);
        return nullptr;
    }
    ch->handle = module_handle;
    return ch;
}

QB_API int sca_close(sca_handle handle) {
    int rc = dispatch<&sca_impl_t::close>(handle, kOld, "close");
    // A module that refused (or cannot) close keeps running on this record.
    if (rc == 0) os_free(handle);
    return rc;
}

QB_API int sca_gpio_init(sca_handle handle, int pin, int mode) {
    return dispatch<&sca_impl_t::gpio_init>(handle, kOld, "gpio_init", pin, mode);
}

QB_API int sca_gpio_write(sca_handle handle, int pin, int value) {
    if (handle && value != 0 && value != 1) {
        LOGE(TAG, "Bad value for GPIO");
        return -1;
    }
    return dispatch<&sca_impl_t::gpio_write>(handle, kOld, "gpio_write", pin, value);
}

QB_API int sca_gpio_read(sca_handle handle, int pin, int* value) {
    return dispatch<&sca_impl_t::gpio_read>(handle, kOld, "gpio_read", pin, value);
}

QB_API int sca_gpio_register_cb(sca_handle handle, gpio_callback_func cb) {
    if (handle && !cb) {
        LOGE(TAG, "Null callback");
        return -1;
    }
    return dispatch<&sca_impl_t::gpio_register_cb>(handle, kOld, "gpio_register_cb", cb);
}

QB_API int sca_analog_init(sca_handle handle, int pin, int mode) {
    return dispatch<&sca_impl_t::analog_init>(handle, kOld, "analog_init", pin, mode);
}

QB_API int sca_analog_write(sca_handle handle, int pin, int value) {
    return dispatch<&sca_impl_t::analog_write>(handle, kOld, "analog_write", pin, value);
}

QB_API int sca_analog_read(sca_handle handle, int pin, int* value) {
    return dispatch<&sca_impl_t::analog_read>(handle, kOld, "analog_read", pin, value);
}

QB_API int sca_poll(sca_handle handle) { return dispatch<&sca_impl_t::poll>(handle, kNew, "pool"); }

QB_API int sca_pwm_init(sca_handle handle, int pin, int frequency) {
    return dispatch<&sca_impl_t::pwm_init>(handle, kNew, "pwm_init", pin, frequency);
}

QB_API int sca_pwm_write(sca_handle handle, int pin, int duty_cycle) {
    return dispatch<&sca_impl_t::pwm_write>(handle, kNew, "pwm_write", pin, duty_cycle);
}

QB_API int sca_servo_init(sca_handle handle, int pin) {
    return dispatch<&sca_impl_t::servo_init>(handle, kNew, "servo_init", pin);
}

QB_API int sca_servo_write(sca_handle handle, int pin, int angle) {
    return dispatch<&sca_impl_t::servo_write>(handle, kNew, "servo_write", pin, angle);
}

QB_API int sca_uart_open(sca_handle handle, int uart_idx, int baudrate) {
    return dispatch<&sca_impl_t::uart_open>(handle, kNew, "uart_open", uart_idx, baudrate);
}

QB_API int sca_uart_close(sca_handle handle, int uart_idx) {
    return dispatch<&sca_impl_t::uart_close>(handle, kNew, "uart_close", uart_idx);
}

QB_API int sca_uart_write(sca_handle handle, int uart_idx, char* buffer, int length) {
    return dispatch<&sca_impl_t::uart_write>(handle, kNew, "uart_write", uart_idx, buffer, length);
}

QB_API int sca_uart_read(sca_handle handle, int uart_idx, char* buffer, int len) {
    return dispatch<&sca_impl_t::uart_read>(handle, kNew, "uart_read", uart_idx, buffer, len);
}

QB_API int sca_uart_register_cb(sca_handle handle, int uart_idx, uart_callback_func cb) {
    return dispatch<&sca_impl_t::uart_register_cb>(handle, kNew, "uart_register_cb", uart_idx, cb);
}

QB_API int sca_i2c_init(sca_handle handle, int sck_pin, int sda_pin, int delay) {
    return dispatch<&sca_impl_t::i2c_init>(handle, kNew, "i2c_init", sck_pin, sda_pin, delay);
}

QB_API int sca_i2c_write(sca_handle handle, int address, char* buffer, int size) {
    return dispatch<&sca_impl_t::i2c_write>(handle, kNew, "i2c_write", address, buffer, size);
}

QB_API int sca_i2c_read(sca_handle handle, int address, char* buffer, int size) {
    return dispatch<&sca_impl_t::i2c_read>(handle, kNew, "i2c_read", address, buffer, size);
}

QB_API int sca_i2c_read_register(sca_handle handle, int address, int register_address, char* buffer, int size) {
    return dispatch<&sca_impl_t::i2c_read_register>(handle, kNew, "i2c_read_register", address, register_address,
                                                     buffer, size);
}

QB_API int sca_i2c_write_register(sca_handle handle, int address, int register_address, char* buffer, int size) {
    return dispatch<&sca_impl_t::i2c_write_register>(handle, kNew, "i2c_write_register", address, register_address,
                                                      buffer, size);
}

QB_API int sca_i2c_ping(sca_handle handle, int address) {
    return dispatch<&sca_impl_t::i2c_ping>(handle, kNew, "i2c_ping", address);
}

QB_API int sca_spi_init(sca_handle handle, int spi_index, int frequency, int cpol, int cpha) {
    return dispatch<&sca_impl_t::spi_init>(handle, kNew, "spi_init", spi_index, frequency, cpol, cpha);
}

QB_API int sca_spi_write(sca_handle handle, char* buffer, int size) {
    return dispatch<&sca_impl_t::spi_write>(handle, kNew, "spi_write", buffer, size);
}

QB_API int sca_spi_read(sca_handle handle, char* buffer, int size) {
    return dispatch<&sca_impl_t::spi_read>(handle, kNew, "spi_read", buffer, size);
}

QB_API int sca_spi_enable_chip(sca_handle handle, int enable) {
    return dispatch<&sca_impl_t::spi_enable_chip>(handle, kNew, "enable_chip", enable);
}

QB_API int sca_spi_write_read(sca_handle handle, char* inbuffer, int insize, char* outbuffer, int outsize) {
    return dispatch<&sca_impl_t::spi_write_read>(handle, kNew, "spi_write_read", inbuffer, insize, outbuffer,
                                                  outsize);
}

}  // extern "C"
