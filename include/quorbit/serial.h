/** @file
 * Serial ports through the Linux terminal interface.
 *
 * Conventions of the peripheral layer (serial.h, i2c.h, spi.h, mmio.h): a
 * handle is created by *_new (NULL when memory runs out), opened, used,
 * closed and released by *_free. A failing call returns one of the negative
 * codes below and leaves a message (`"...: <system text> [errno N]"` when the
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

/** A closed handle; NULL when memory runs out. */
QB_API serial_t* serial_new(void);
/** Opens path at baudrate with 8 data bits, no parity, 1 stop bit, no flow control; 0 or negative. */
QB_API int serial_open(serial_t* serial, const char* path, uint32_t baudrate);
/** Opens path in raw mode with the given framing; 0 or negative. Rates: 50 to 4000000 as the terminal interface names them;
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
/** Bytes received and not yet read into *count; 0 or SERIAL_ERROR_IO. */
QB_API int serial_input_waiting(serial_t* serial, unsigned int* count);
/** Bytes written and not yet sent into *count; 0 or SERIAL_ERROR_IO. */
QB_API int serial_output_waiting(serial_t* serial, unsigned int* count);
/** 1 when input is ready, 0 on time-out (negative timeout_ms: no limit). */
QB_API int serial_poll(serial_t* serial, int timeout_ms);
/** Closes the port; 0 when already closed. */
QB_API int serial_close(serial_t* serial);
/** Releases the handle without closing it: close first. */
QB_API void serial_free(serial_t* serial);

/** The output rate in baud; 0 or SERIAL_ERROR_QUERY. */
QB_API int serial_get_baudrate(serial_t* serial, uint32_t* baudrate);
/** Data bits, 5-8; 0 or SERIAL_ERROR_QUERY. */
QB_API int serial_get_databits(serial_t* serial, unsigned int* databits);
/** The parity setting; 0 or SERIAL_ERROR_QUERY. */
QB_API int serial_get_parity(serial_t* serial, serial_parity_t* parity);
/** Stop bits, 1 or 2; 0 or SERIAL_ERROR_QUERY. */
QB_API int serial_get_stopbits(serial_t* serial, unsigned int* stopbits);
/** 1 when software flow control is on, else 0; 0 or SERIAL_ERROR_QUERY. */
QB_API int serial_get_xonxoff(serial_t* serial, int* xonxoff);
/** 1 when hardware flow control is on, else 0; 0 or SERIAL_ERROR_QUERY. */
QB_API int serial_get_rtscts(serial_t* serial, int* rtscts);
/** Sets input and output rate (same rates as serial_open_advanced); 0 or negative. */
QB_API int serial_set_baudrate(serial_t* serial, uint32_t baudrate);
/** Sets 5-8 data bits; 0 or negative. */
QB_API int serial_set_databits(serial_t* serial, unsigned int databits);
/** Sets the parity; 0 or negative. */
QB_API int serial_set_parity(serial_t* serial, serial_parity_t parity);
/** Sets 1 or 2 stop bits; 0 or negative. */
QB_API int serial_set_stopbits(serial_t* serial, unsigned int stopbits);
/** Switches software flow control (XON/XOFF) on or off; 0 or negative. */
QB_API int serial_set_xonxoff(serial_t* serial, int enabled);
/** Switches hardware flow control (RTS/CTS) on or off; 0 or negative. */
QB_API int serial_set_rtscts(serial_t* serial, int enabled);

/** Describes the port and its settings ("?" for what cannot be queried) without
 * touching the last error. Returns what snprintf returns. */
QB_API int serial_tostring(serial_t* serial, char* str, size_t len);
/** The last error message, inside the handle. */
QB_API const char* serial_errmsg(serial_t* serial);
/** The system error number of the last error, 0 when there was none. */
QB_API int serial_errno(serial_t* serial);
/** The file descriptor, -1 when closed. */
QB_API int serial_fd(serial_t* serial);

QB_END_DECLS

#endif /* QB_SERIAL_H */
