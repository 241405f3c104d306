/** @file
 * Serial ports through the Linux terminal interface.
 *
 * Conventions of the peripheral layer (serial.h, i2c.h, spi.h, mmio.h): a
 * handle is created by *_new (NULL when memory runs out), opened, used,
 * closed and released by *_free. A failing call returns one of the negative
 * codes below and leaves a message ("...: <system text> [errno N]" when the
 * system reported an error) and the error number in the handle, read with
 * *_errmsg and *_errno. Nothing is logged. One thread per handle.
 */
#ifndef QB_SERIAL_H
#define QB_SERIAL_H

#include <stddef.h>
#include <stdint.h>

#include "qb_export.h"

QB_BEGIN_DECLS

enum serial_error_code {
    SERIAL_ERROR_ARG = -1,
    SERIAL_ERROR_OPEN = -2,
    SERIAL_ERROR_QUERY = -3,
    SERIAL_ERROR_CONFIGURE = -4,
    SERIAL_ERROR_IO = -5,
    SERIAL_ERROR_CLOSE = -6
};

typedef enum serial_parity { PARITY_NONE = 0, PARITY_ODD = 1, PARITY_EVEN = 2 } serial_parity_t;

typedef struct serial_handle serial_t;

QB_API serial_t* serial_new(void);
/** 8 data bits, no parity, 1 stop bit, no flow control. */
QB_API int serial_open(serial_t* serial, const char* path, uint32_t baudrate);
/** Raw mode. Rates: 50 to 4000000 as the terminal interface names them;
   others are refused ("Invalid baud rate"). xonxoff and rtscts are bools. */
QB_API int serial_open_advanced(serial_t* serial, const char* path, uint32_t baudrate, unsigned int databits,
                                serial_parity_t parity, unsigned int stopbits, int xonxoff, int rtscts);
/** Reads until len bytes arrived or timeout_ms passed over the whole call
   (negative: no limit); returns the count read. */
QB_API int serial_read(serial_t* serial, uint8_t* buf, size_t len, int timeout_ms);
/** One write; returns the count written. */
QB_API int serial_write(serial_t* serial, const uint8_t* buf, size_t len);
/** Waits until all output has been sent. */
QB_API int serial_flush(serial_t* serial);
QB_API int serial_input_waiting(serial_t* serial, unsigned int* count);
QB_API int serial_output_waiting(serial_t* serial, unsigned int* count);
/** 1 when input is ready, 0 on time-out (negative timeout_ms: no limit). */
QB_API int serial_poll(serial_t* serial, int timeout_ms);
/** 0 when already closed. */
QB_API int serial_close(serial_t* serial);
QB_API void serial_free(serial_t* serial);

QB_API int serial_get_baudrate(serial_t* serial, uint32_t* baudrate);
QB_API int serial_get_databits(serial_t* serial, unsigned int* databits);
QB_API int serial_get_parity(serial_t* serial, serial_parity_t* parity);
QB_API int serial_get_stopbits(serial_t* serial, unsigned int* stopbits);
QB_API int serial_get_xonxoff(serial_t* serial, int* xonxoff);
QB_API int serial_get_rtscts(serial_t* serial, int* rtscts);
QB_API int serial_set_baudrate(serial_t* serial, uint32_t baudrate);
QB_API int serial_set_databits(serial_t* serial, unsigned int databits);
QB_API int serial_set_parity(serial_t* serial, serial_parity_t parity);
QB_API int serial_set_stopbits(serial_t* serial, unsigned int stopbits);
QB_API int serial_set_xonxoff(serial_t* serial, int enabled);
QB_API int serial_set_rtscts(serial_t* serial, int enabled);

/** Returns what snprintf returns. */
QB_API int serial_tostring(serial_t* serial, char* str, size_t len);
QB_API const char* serial_errmsg(serial_t* serial);
QB_API int serial_errno(serial_t* serial);
QB_API int serial_fd(serial_t* serial);

QB_END_DECLS

#endif /* QB_SERIAL_H */
