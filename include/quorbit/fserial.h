/** @file
 * The host side of a Firmata board's serial line: a tty in raw mode with the
 * modem lines dropped, timed waits and non-blocking reads, whole-buffer writes.
 *
 * - Every operation but fserial_open refuses a record that is not open (-1).
 * - Lines without modem control (pseudo-terminals) are accepted; DTR/RTS are
 *   then left alone.
 * - fserial_close restores the settings found at open and closes the line;
 *   the record itself is released with free().
 */
#ifndef QB_FSERIAL_H
#define QB_FSERIAL_H

#include <termios.h>

#include "qb_export.h"

QB_BEGIN_DECLS

typedef struct s_serial {
    int port_is_open;
    char* port_name; /**< copy of the path given to fserial_open */
    int baud_rate;   /**< applied first by fserial_open (38400 on a new record) */
    char* error_msg; /**< unused */
    int port_fd;
    struct termios settings_orig;
    struct termios settings;
    int tx; /**< bytes written */
    int rx; /**< sum of read results */
} t_serial;

/** NULL when memory runs out. */
QB_API t_serial* fserial_new(void);
/** Opens the tty name (closing the record's previous line) in raw mode at the record's
 * baud_rate, with DTR and RTS dropped; 0 or -1. */
QB_API int fserial_open(t_serial* serial, char* name);
/** Restores the settings found at open and closes the line; 0, or -1 when not open. */
QB_API int fserial_close(t_serial* serial);
/** -1 for a rate the line does not know (50 ... 4000000) or when setting fails. */
QB_API int fserial_setBaud(t_serial* serial, int baud);
/** Bytes read (0 when nothing is there); -99 when the device is gone, other negatives on errors. */
QB_API int fserial_read(t_serial* serial, void* ptr, int count);
/** All len bytes, or -1 (also after a stall of 10 s). */
QB_API int fserial_write(t_serial* serial, void* ptr, int len);
/** > 0 when input is there, 0 after msec without input, negative on errors. */
QB_API int fserial_waitInput(t_serial* serial, int msec);
/** Drops input received and not yet read; 0 or -1. */
QB_API int fserial_discardInput(t_serial* serial);
/** Waits until all written output has been sent. */
QB_API void fserial_flushOutput(t_serial* serial);
/** dtr/rts: 1 raises, 0 drops, other values leave the line. */
QB_API int fserial_setControl(t_serial* serial, int dtr, int rts);

QB_END_DECLS

#endif /* QB_FSERIAL_H */
