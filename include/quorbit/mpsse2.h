/** @file
 * MPSSE engine for the FTDI FT232H USB bridge: GPIO on ADBUS0-7 / ACBUS0-7,
 * an SPI master and an I2C master, each operation being a stream of MPSSE
 * command bytes written through libftdi1.
 *
 * Every function returns -1 for a NULL handle. A handle serves one thread at
 * a time (all traffic shares one USB command stream).
 */
#ifndef QB_MPSSE2_H
#define QB_MPSSE2_H

#include <stdint.h>

#include "qb_export.h"

QB_BEGIN_DECLS

typedef struct mpsse2_handle* MPSSE2_handle;

enum mpsse2_modes { SPI0 = 1, SPI1 = 2, SPI2 = 3, SPI3 = 4, I2C = 5, GPIO = 6, BITBANG = 7 };

enum mpsse2_clock_rates {
    ONE_HUNDRED_KHZ = 100000,
    FOUR_HUNDRED_KHZ = 400000,
    ONE_MHZ = 1000000,
    TWO_MHZ = 2000000,
    FIVE_MHZ = 5000000,
    SIX_MHZ = 6000000,
    TEN_MHZ = 10000000,
    TWELVE_MHZ = 12000000,
    FIFTEEN_MHZ = 15000000,
    THIRTY_MHZ = 30000000,
    SIXTY_MHZ = 60000000
};

/** Pins 0-7 are the low byte (ADBUS), 8-15 the high byte (ACBUS, bit = pin - 8). */
enum gpio_pins {
    SCK = 0, DO = 1, DI = 2, CS = 3,
    GPIOL0 = 4, GPIOL1 = 5, GPIOL2 = 6, GPIOL3 = 7,
    GPIOH0 = 8, GPIOH1 = 9, GPIOH2 = 10, GPIOH3 = 11,
    GPIOH4 = 12, GPIOH5 = 13, GPIOH6 = 14, GPIOH7 = 15
};

enum gpio_direction { MPSSE_GPIO_OUT = 0, MPSSE_GPIO_IN = 1 };

enum spi_endian { MPSSE_SPI_MSB = 0, MPSSE_SPI_LSB = 1 };

enum mpsse2_commands {
    INVALID_COMMAND = 0xAB,
    ENABLE_ADAPTIVE_CLOCK = 0x96,
    DISABLE_ADAPTIVE_CLOCK = 0x97,
    ENABLE_3_PHASE_CLOCK = 0x8C,
    DISABLE_3_PHASE_CLOCK = 0x8D,
    TCK_X5 = 0x8A,
    TCK_D5 = 0x8B,
    CLOCK_N_CYCLES = 0x8E,
    CLOCK_N8_CYCLES = 0x8F,
    PULSE_CLOCK_IO_HIGH = 0x94,
    PULSE_CLOCK_IO_LOW = 0x95,
    CLOCK_N8_CYCLES_IO_HIGH = 0x9C,
    CLOCK_N8_CYCLES_IO_LOW = 0x9D,
    TRISTATE_IO = 0x9E
};

/** Opens the first FT232H (0403:6014, interface A) in MPSSE mode; freq is not
   used. NULL after an error line when the chip cannot be opened. */
QB_API MPSSE2_handle mpsse2_init(int freq);
/** Releases the USB device and the handle. */
QB_API int mpsse2_close(MPSSE2_handle handle);

/* GPIO: pins outside 0-15 are refused with -1; results are 0 or -1. */

/** Sets pin gpio's direction: non-zero makes it an input. Outside SPI mode the
   first call sets the chip up for GPIO. */
QB_API int mpsse2_gpio_init(MPSSE2_handle handle, int gpio, int direction);
/** val 1 drives the pin high, anything else low. */
QB_API int mpsse2_gpio_write(MPSSE2_handle handle, int pin, int val);
/** Reads both pin bytes from the chip, then the pin's level into *value. */
QB_API int mpsse2_gpio_read(MPSSE2_handle handle, int pin, int* value);
/** Reads both pin bytes; -1 (old values kept) when the chip does not answer. */
QB_API int mpsse2_gpio_update(MPSSE2_handle handle);
/** Thread body for a caller's own thread: updates the pins while GPIO is set
   up, and returns when an update fails. No other call on the handle meanwhile. */
QB_API void* gpio_read_thread(void* arg);

/* SPI: transfers take 1 to 64512 bytes, others are refused with -1; chip
   select is driven only by mpsse2_spi_enable_chip. */

/** Sets the chip up for SPI at frequency Hz; 0 or -1. cpol/cpha select SPI0-SPI3
   (SCK idles at the CPOL level); endianess is MPSSE_SPI_MSB or MPSSE_SPI_LSB. */
QB_API int mpsse2_spi_init(MPSSE2_handle handle, int frequency, int endianess, int cpol, int cpha);
/** Clocks length bytes out, discarding what comes in; 0 or -1. */
QB_API int mpsse2_spi_send(MPSSE2_handle handle, char* buffer, int length);
/** Returns the number of bytes read (fewer than length when the chip was short). */
QB_API int mpsse2_spi_read(MPSSE2_handle handle, char* buffer, int length);
/** Full duplex: clocks length_in bytes out and the same number in, copies at
   most length_out of them to out_buffer; returns the number read. */
QB_API int mpsse2_spi_send_read(MPSSE2_handle handle, char* inbuffer, int length_in, char* out_buffer,
                                int length_out);
/** Half duplex: sends length_in bytes, then reads length_out bytes; returns the number read. */
QB_API int mpsse2_spi_send_read00(MPSSE2_handle handle, char* inbuffer, int length_in, char* out_buffer,
                                  int length_out);
/** enable non-zero drives CS low (selected), 0 releases it; 0 or -1. */
QB_API int mpsse2_spi_enable_chip(MPSSE2_handle handle, int enable);

/* I2C on SCK (SCL) and DO/DI wired together (SDA), 100 kHz, 7-bit addresses.
   Each call is one transaction: 0, or -1 on a missing acknowledge, a short
   answer or a transaction too large for the command buffer (about 560 bytes). */

/** Sets the chip up for I2C (open-drain outputs, 100 kHz); 0 or -1. */
QB_API int mpsse2_i2c_init(MPSSE2_handle handle);
/** 0 when a device acknowledges address, else -1. */
QB_API int mpsse2_i2c_ping(MPSSE2_handle handle, uint8_t address);
/** Writes length bytes to the device; 0 or -1. */
QB_API int mpsse2_i2c_write(MPSSE2_handle handle, uint8_t address, char* buffer, int length);
/** Writes register reg, then length bytes, in one transaction; 0 or -1. */
QB_API int mpsse2_i2c_write_register(MPSSE2_handle handle, uint8_t address, uint8_t reg, char* buffer, int length);
/** Reads length bytes from the device into out_buffer; 0 or -1. */
QB_API int mpsse2_i2c_read(MPSSE2_handle handle, uint8_t address, char* out_buffer, int length);
/** Writes register reg, then reads length bytes after a repeated start; 0 or -1. */
QB_API int mpsse2_i2c_read_register(MPSSE2_handle handle, uint8_t address, uint8_t reg, char* out_buffer,
                                    int length);

QB_END_DECLS

#endif /* QB_MPSSE2_H */
