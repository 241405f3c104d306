/** @file
 * The sensor channel module contract: one constant operation table per
 * module, registered under its name. A null slot means "not supported".
 * Every slot takes the module's own handle (what open stored) first and
 * returns 0 for success or a negative value for failure.
 */
#ifndef SENSOR_CHANNEL_API_IMPL_H
#define SENSOR_CHANNEL_API_IMPL_H

#include "qb_export.h"
#include "sensor_channel_api.h"

QB_BEGIN_DECLS

typedef struct sca_impl {
    const char* name;
    /** Stores the module handle through out_handle; left NULL on failure. */
    int (*open)(void** out_handle, char* config_file);
    int (*close)(void* h);
    int (*gpio_init)(void* h, int pin, int mode);
    int (*gpio_write)(void* h, int pin, int value);
    int (*gpio_read)(void* h, int pin, int* value);
    int (*gpio_register_cb)(void* h, gpio_callback_func cb);
    int (*analog_init)(void* h, int pin, int mode);
    int (*analog_write)(void* h, int pin, int value);
    int (*analog_read)(void* h, int pin, int* value);
    int (*pwm_init)(void* h, int pin, int frequency);
    int (*pwm_write)(void* h, int pin, int duty_cycle);
    int (*servo_init)(void* h, int pin);
    int (*servo_write)(void* h, int pin, int angle);
    int (*uart_open)(void* h, int uart_idx, int baudrate);
    int (*uart_close)(void* h, int uart_idx);
    int (*uart_write)(void* h, int uart_idx, char* buffer, int length);
    int (*uart_read)(void* h, int uart_idx, char* buffer, int len);
    int (*uart_register_cb)(void* h, int uart_idx, uart_callback_func cb);
    int (*i2c_init)(void* h, int sck_pin, int sda_pin, int delay);
    int (*i2c_write)(void* h, int address, char* buffer, int size);
    int (*i2c_read_register)(void* h, int address, int register_address, char* buffer, int size);
    int (*i2c_write_register)(void* h, int address, int register_address, char* buffer, int size);
    int (*i2c_read)(void* h, int address, char* buffer, int size);
    int (*i2c_ping)(void* h, int address);
    int (*spi_init)(void* h, int spi_index, int frequency, int cpol, int cpha);
    int (*spi_write)(void* h, char* buffer, int size);
    int (*spi_read)(void* h, char* buffer, int size);
    int (*spi_enable_chip)(void* h, int enable);
    int (*spi_write_read)(void* h, char* inbuffer, int insize, char* outbuffer, int outsize);
    int (*poll)(void* h);
} sca_impl_t;

/** One open channel: type is unused, handle is the module's own handle. */
struct _sca_handle {
    int type;
    void* handle;
    sca_impl_t* impl;
};

/** Appends the table to the registry (no duplicate check; the table is not copied). */
QB_API void Sensor_Channel_module_register(sca_impl_t* impl);

QB_END_DECLS

#endif /* SENSOR_CHANNEL_API_IMPL_H */
