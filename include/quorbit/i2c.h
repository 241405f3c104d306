/** @file
 * I2C adapters through /dev/i2c-N (conventions: serial.h).
 */
#ifndef QB_I2C_H
#define QB_I2C_H

#include <linux/i2c-dev.h>
#include <linux/i2c.h>
#include <stddef.h>

#include "qb_export.h"

QB_BEGIN_DECLS

enum i2c_error_code {
    I2C_ERROR_ARG = -1,
    I2C_ERROR_OPEN = -2,
    I2C_ERROR_QUERY = -3,
    I2C_ERROR_NOT_SUPPORTED = -4,
    I2C_ERROR_TRANSFER = -5,
    I2C_ERROR_CLOSE = -6
};

typedef struct i2c_handle i2c_t;

/** A closed handle; NULL when memory runs out. */
QB_API i2c_t* i2c_new(void);
/** Opens an adapter such as /dev/i2c-1; it must support plain I2C transfers
 * (I2C_ERROR_NOT_SUPPORTED otherwise). 0 or negative. */
QB_API int i2c_open(i2c_t* i2c, const char* path);
/** The messages (address, flags such as I2C_M_RD, length, buffer) as one
   combined transaction with repeated starts; 1 to 42 messages. */
QB_API int i2c_transfer(i2c_t* i2c, struct i2c_msg* msgs, size_t count);
/** Closes the adapter; 0 when already closed. */
QB_API int i2c_close(i2c_t* i2c);
/** Releases the handle without closing it: close first. */
QB_API void i2c_free(i2c_t* i2c);
/** "I2C (fd=N)"; returns what snprintf returns. */
QB_API int i2c_tostring(i2c_t* i2c, char* str, size_t len);
/** The last error message, inside the handle. */
QB_API const char* i2c_errmsg(i2c_t* i2c);
/** The system error number of the last error, 0 when there was none. */
QB_API int i2c_errno(i2c_t* i2c);
/** The file descriptor, -1 when closed. */
QB_API int i2c_fd(i2c_t* i2c);

QB_END_DECLS

#endif /* QB_I2C_H */
