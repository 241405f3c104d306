/** @file
 * Physical memory mapped through /dev/mem (conventions: serial.h).
 */
#ifndef QB_MMIO_H
#define QB_MMIO_H

#include <stddef.h>
#include <stdint.h>

#include "qb_export.h"

QB_BEGIN_DECLS

enum mmio_error_code { MMIO_ERROR_ARG = -1, MMIO_ERROR_OPEN = -2, MMIO_ERROR_CLOSE = -3 };

typedef struct mmio_handle mmio_t;

/** An unmapped handle; NULL when memory runs out. */
QB_API mmio_t* mmio_new(void);
/** Maps size bytes at physical address base (any alignment); 0 or negative. */
QB_API int mmio_open(mmio_t* mmio, uintptr_t base, size_t size);
/** The mapping address of base; NULL when closed. */
QB_API void* mmio_ptr(mmio_t* mmio);

/* Offsets count from base; an access reaching past base + size is refused
   ("Offset out of bounds"). Each sized access is a single access of that width. */

/** Reads the 32-bit word at offset; 0 or MMIO_ERROR_ARG. */
QB_API int mmio_read32(mmio_t* mmio, uintptr_t offset, uint32_t* value);
/** Reads the 16-bit word at offset; 0 or MMIO_ERROR_ARG. */
QB_API int mmio_read16(mmio_t* mmio, uintptr_t offset, uint16_t* value);
/** Reads the byte at offset; 0 or MMIO_ERROR_ARG. */
QB_API int mmio_read8(mmio_t* mmio, uintptr_t offset, uint8_t* value);
/** Copies len bytes from offset, one byte access at a time; 0 or MMIO_ERROR_ARG. */
QB_API int mmio_read(mmio_t* mmio, uintptr_t offset, uint8_t* buf, size_t len);
/** Writes the 32-bit word at offset; 0 or MMIO_ERROR_ARG. */
QB_API int mmio_write32(mmio_t* mmio, uintptr_t offset, uint32_t value);
/** Writes the 16-bit word at offset; 0 or MMIO_ERROR_ARG. */
QB_API int mmio_write16(mmio_t* mmio, uintptr_t offset, uint16_t value);
/** Writes the byte at offset; 0 or MMIO_ERROR_ARG. */
QB_API int mmio_write8(mmio_t* mmio, uintptr_t offset, uint8_t value);
/** Copies len bytes to offset, one byte access at a time; 0 or MMIO_ERROR_ARG. */
QB_API int mmio_write(mmio_t* mmio, uintptr_t offset, const uint8_t* buf, size_t len);

/** Unmaps the memory; 0 when already closed. */
QB_API int mmio_close(mmio_t* mmio);
/** Releases the handle without unmapping: close first. */
QB_API void mmio_free(mmio_t* mmio);
/** The physical base given to mmio_open. */
QB_API uintptr_t mmio_base(mmio_t* mmio);
/** The size given to mmio_open. */
QB_API size_t mmio_size(mmio_t* mmio);
/** Describes base, mapping and size; returns what snprintf returns. */
QB_API int mmio_tostring(mmio_t* mmio, char* str, size_t len);
/** The last error message, inside the handle. */
QB_API const char* mmio_errmsg(mmio_t* mmio);
/** The system error number of the last error, 0 when there was none. */
QB_API int mmio_errno(mmio_t* mmio);

QB_END_DECLS

#endif /* QB_MMIO_H */
