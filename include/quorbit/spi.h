/** @file
 * SPI devices through spidev (conventions: serial.h).
 */
#ifndef QB_SPI_H
#define QB_SPI_H

#include <stddef.h>
#include <stdint.h>

#include "qb_export.h"

QB_BEGIN_DECLS

enum spi_error_code {
    SPI_ERROR_ARG = -1,
    SPI_ERROR_OPEN = -2,
    SPI_ERROR_QUERY = -3,
    SPI_ERROR_CONFIGURE = -4,
    SPI_ERROR_TRANSFER = -5,
    SPI_ERROR_CLOSE = -6
};

typedef enum spi_bit_order { MSB_FIRST = 0, LSB_FIRST = 1 } spi_bit_order_t;

typedef struct spi_handle spi_t;

/** A closed handle; NULL when memory runs out. */
QB_API spi_t* spi_new(void);
/** Opens a spidev device in mode 0-3 at max_speed Hz, MSB first, 8 bits per word,
 * no extra mode flags; 0 or negative. */
QB_API int spi_open(spi_t* spi, const char* path, unsigned int mode, uint32_t max_speed);
/** Opens with every setting given; 0 or negative. mode 0-3; extra_flags are further bits of the spidev mode byte (SPI_CS_HIGH, ...). */
QB_API int spi_open_advanced(spi_t* spi, const char* path, unsigned int mode, uint32_t max_speed,
                             spi_bit_order_t bit_order, uint8_t bits_per_word, uint8_t extra_flags);
/** One full-duplex message of len bytes at the device's settings; chip select
   is released after it. */
QB_API int spi_transfer(spi_t* spi, const uint8_t* txbuf, uint8_t* rxbuf, size_t len);
/** Closes the device; 0 when already closed. */
QB_API int spi_close(spi_t* spi);
/** Releases the handle without closing it: close first. */
QB_API void spi_free(spi_t* spi);

/** The SPI mode, 0-3; 0 or SPI_ERROR_QUERY. */
QB_API int spi_get_mode(spi_t* spi, unsigned int* mode);
/** The maximum clock in Hz; 0 or SPI_ERROR_QUERY. */
QB_API int spi_get_max_speed(spi_t* spi, uint32_t* max_speed);
/** MSB_FIRST or LSB_FIRST; 0 or SPI_ERROR_QUERY. */
QB_API int spi_get_bit_order(spi_t* spi, spi_bit_order_t* bit_order);
/** Bits per word; 0 or SPI_ERROR_QUERY. */
QB_API int spi_get_bits_per_word(spi_t* spi, uint8_t* bits_per_word);
/** The mode byte's bits other than the mode and the bit order. */
QB_API int spi_get_extra_flags(spi_t* spi, uint8_t* extra_flags);
/** Sets mode 0-3, keeping the other mode bits; 0 or negative. */
QB_API int spi_set_mode(spi_t* spi, unsigned int mode);
/** Sets the maximum clock in Hz; 0 or SPI_ERROR_CONFIGURE. */
QB_API int spi_set_max_speed(spi_t* spi, uint32_t max_speed);
/** Sets MSB_FIRST or LSB_FIRST; 0 or negative. */
QB_API int spi_set_bit_order(spi_t* spi, spi_bit_order_t bit_order);
/** Sets the bits per word; 0 or SPI_ERROR_CONFIGURE. */
QB_API int spi_set_bits_per_word(spi_t* spi, uint8_t bits_per_word);
/** Sets the mode byte's other bits, keeping the mode; 0 or negative. */
QB_API int spi_set_extra_flags(spi_t* spi, uint8_t extra_flags);

/** Describes the device and its settings ("?" for what cannot be queried) without
 * touching the last error. Returns what snprintf returns. */
QB_API int spi_tostring(spi_t* spi, char* str, size_t len);
/** The last error message, inside the handle. */
QB_API const char* spi_errmsg(spi_t* spi);
/** The system error number of the last error, 0 when there was none. */
QB_API int spi_errno(spi_t* spi);
/** The file descriptor, -1 when closed. */
QB_API int spi_fd(spi_t* spi);

QB_END_DECLS

#endif /* QB_SPI_H */
