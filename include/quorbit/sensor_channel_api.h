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

/** Empties the module registry; call once before registering modules. */
QB_API void Sensor_Channel_module_Init(void);

/** Opens a channel of the module registered as channel_name; config_file is the
 * module's (may be NULL). NULL when no module has the name or it could not start. */
QB_API sca_handle sca_open(char* channel_name, char* config_file);
/** Closes the channel; the record is freed only when the module closed it (0). */
QB_API int sca_close(sca_handle handle);

/** Makes pin an output or an input (enum gpio_mode). */
QB_API int sca_gpio_init(sca_handle handle, int pin, int mode);
/** Drives an output pin; value must be 0 or 1. */
QB_API int sca_gpio_write(sca_handle handle, int pin, int value);
/** The pin's level into *value. */
QB_API int sca_gpio_read(sca_handle handle, int pin, int* value);
/** Sets the callback for pin changes the module reports; NULL is refused. */
QB_API int sca_gpio_register_cb(sca_handle handle, gpio_callback_func cb);

/** Sets an analog pin up; mode is the module's. */
QB_API int sca_analog_init(sca_handle handle, int pin, int mode);
/** Writes an analog value to pin. */
QB_API int sca_analog_write(sca_handle handle, int pin, int value);
/** The pin's analog value into *value. */
QB_API int sca_analog_read(sca_handle handle, int pin, int* value);

/** One receive step of a module that pulls its device (-1 from modules that do not). */
QB_API int sca_poll(sca_handle handle);

/** Sets pin up for PWM at frequency Hz where the module supports it. */
QB_API int sca_pwm_init(sca_handle handle, int pin, int frequency);
/** Sets the pin's duty cycle (range: the module's). */
QB_API int sca_pwm_write(sca_handle handle, int pin, int duty_cycle);
/** Sets pin up to drive a servo. */
QB_API int sca_servo_init(sca_handle handle, int pin);
/** Turns the servo on pin to angle degrees. */
QB_API int sca_servo_write(sca_handle handle, int pin, int angle);

/** Opens UART uart_idx at baudrate. */
QB_API int sca_uart_open(sca_handle handle, int uart_idx, int baudrate);
/** Closes UART uart_idx. */
QB_API int sca_uart_close(sca_handle handle, int uart_idx);
/** Sends length bytes on UART uart_idx. */
QB_API int sca_uart_write(sca_handle handle, int uart_idx, char* buffer, int length);
/** Reads up to len received bytes from UART uart_idx into buffer. */
QB_API int sca_uart_read(sca_handle handle, int uart_idx, char* buffer, int len);
/** Sets the callback for data received on UART uart_idx. */
QB_API int sca_uart_register_cb(sca_handle handle, int uart_idx, uart_callback_func cb);

/** Sets the I2C bus up; pins and delay are used only by modules that need them. */
QB_API int sca_i2c_init(sca_handle handle, int sck_pin, int sda_pin, int delay);
/** Writes size bytes to the device at 7-bit address. */
QB_API int sca_i2c_write(sca_handle handle, int address, char* buffer, int size);
/** Reads size bytes from the device at address into buffer. */
QB_API int sca_i2c_read(sca_handle handle, int address, char* buffer, int size);
/** Reads size bytes of register register_address of the device into buffer. */
QB_API int sca_i2c_read_register(sca_handle handle, int address, int register_address, char* buffer, int size);
/** Writes size bytes to register register_address of the device. */
QB_API int sca_i2c_write_register(sca_handle handle, int address, int register_address, char* buffer, int size);
/** 0 when a device answers at address. */
QB_API int sca_i2c_ping(sca_handle handle, int address);

/** Sets SPI bus spi_index up at frequency Hz in the mode given by cpol and cpha. */
QB_API int sca_spi_init(sca_handle handle, int spi_index, int frequency, int cpol, int cpha);
/** Sends size bytes. */
QB_API int sca_spi_write(sca_handle handle, char* buffer, int size);
/** Reads size bytes into buffer. */
QB_API int sca_spi_read(sca_handle handle, char* buffer, int size);
/** enable non-zero selects the device (chip select active), 0 releases it. */
QB_API int sca_spi_enable_chip(sca_handle handle, int enable);
/** Full duplex: sends insize bytes and keeps at most outsize of those received. */
QB_API int sca_spi_write_read(sca_handle handle, char* inbuffer, int insize, char* outbuffer, int outsize);

QB_END_DECLS

#endif /* SENSOR_CHANNEL_API_H */
