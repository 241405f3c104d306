/** @file
 * Sensor channels: one set of calls for GPIO, analog I/O, PWM, servos, UARTs,
 * I2C and SPI, whatever carries them. A program calls
 * Sensor_Channel_module_Init once, registers the modules it wants (each
 * module's header declares its Sensor_Channel_module_register_* function),
 * then opens a channel by module name with sca_open.
 *
 * - Every operation returns 0 for success and -1 for a null handle, a
 *   refused argument or an operation the module does not support (logged);
 *   other results are the module's own and pass through unchanged.
 * - sca_open returns NULL when no module carries the name or the module
 *   could not start.
 * - sca_close releases the channel when the module closed it; after
 *   sca_close the handle is not used again.
 * - Callbacks run on the module's own thread and must return promptly.
 */
#ifndef SENSOR_CHANNEL_API_H
#define SENSOR_CHANNEL_API_H

#include "qb_export.h"

QB_BEGIN_DECLS

typedef struct _sca_handle* sca_handle;

enum gpio_mode {
    GPIO_MODE_OUT = 0,
    GPIO_MODE_IN = 1
};

typedef void (*gpio_callback_func)(int pin, int value);
typedef int (*uart_callback_func)(char* data, int length);

QB_API void Sensor_Channel_module_Init(void);

QB_API sca_handle sca_open(char* channel_name, char* config_file);
QB_API int sca_close(sca_handle handle);

QB_API int sca_gpio_init(sca_handle handle, int pin, int mode);
/** value must be 0 or 1. */
QB_API int sca_gpio_write(sca_handle handle, int pin, int value);
QB_API int sca_gpio_read(sca_handle handle, int pin, int* value);
QB_API int sca_gpio_register_cb(sca_handle handle, gpio_callback_func cb);

QB_API int sca_analog_init(sca_handle handle, int pin, int mode);
QB_API int sca_analog_write(sca_handle handle, int pin, int value);
QB_API int sca_analog_read(sca_handle handle, int pin, int* value);

/** One receive step of a module that pulls its device. */
QB_API int sca_poll(sca_handle handle);

QB_API int sca_pwm_init(sca_handle handle, int pin, int frequency);
QB_API int sca_pwm_write(sca_handle handle, int pin, int duty_cycle);
QB_API int sca_servo_init(sca_handle handle, int pin);
QB_API int sca_servo_write(sca_handle handle, int pin, int angle);

QB_API int sca_uart_open(sca_handle handle, int uart_idx, int baudrate);
QB_API int sca_uart_close(sca_handle handle, int uart_idx);
QB_API int sca_uart_write(sca_handle handle, int uart_idx, char* buffer, int length);
QB_API int sca_uart_read(sca_handle handle, int uart_idx, char* buffer, int len);
QB_API int sca_uart_register_cb(sca_handle handle, int uart_idx, uart_callback_func cb);

QB_API int sca_i2c_init(sca_handle handle, int sck_pin, int sda_pin, int delay);
QB_API int sca_i2c_write(sca_handle handle, int address, char* buffer, int size);
QB_API int sca_i2c_read(sca_handle handle, int address, char* buffer, int size);
QB_API int sca_i2c_read_register(sca_handle handle, int address, int register_address, char* buffer, int size);
QB_API int sca_i2c_write_register(sca_handle handle, int address, int register_address, char* buffer, int size);
QB_API int sca_i2c_ping(sca_handle handle, int address);

QB_API int sca_spi_init(sca_handle handle, int spi_index, int frequency, int cpol, int cpha);
QB_API int sca_spi_write(sca_handle handle, char* buffer, int size);
QB_API int sca_spi_read(sca_handle handle, char* buffer, int size);
QB_API int sca_spi_enable_chip(sca_handle handle, int enable);
QB_API int sca_spi_write_read(sca_handle handle, char* inbuffer, int insize, char* outbuffer, int outsize);

QB_END_DECLS

#endif /* SENSOR_CHANNEL_API_H */
