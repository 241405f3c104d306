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

QB_API mmio_t* mmio_new(void);
/** Maps size bytes at physical address base (any alignment). */
QB_API int mmio_open(mmio_t* mmio, uintptr_t base, size_t size);
/** The mapping address of base; NULL when closed. */
QB_API void* mmio_ptr(mmio_t* mmio);

/** Offsets count from base; an access reaching past base + size is refused
   ("Offset out of bounds"). Each sized access is a single access of that width. */
QB_API int mmio_read32(mmio_t* mmio, uintptr_t offset, uint32_t* value);
QB_API int mmio_read16(mmio_t* mmio, uintptr_t offset, uint16_t* value);
QB_API int mmio_read8(mmio_t* mmio, uintptr_t offset, uint8_t* value);
QB_API int mmio_read(mmio_t* mmio, uintptr_t offset, uint8_t* buf, size_t len);
QB_API int mmio_write32(mmio_t* mmio, uintptr_t offset, uint32_t value);
QB_API int mmio_write16(mmio_t* mmio, uintptr_t offset, uint16_t value);
QB_API int mmio_write8(mmio_t* mmio, uintptr_t offset, uint8_t value);
QB_API int mmio_write(mmio_t* mmio, uintptr_t offset, const uint8_t* buf, size_t len);

QB_API int mmio_close(mmio_t* mmio);
QB_API void mmio_free(mmio_t* mmio);
QB_API uintptr_t mmio_base(mmio_t* mmio);
QB_API size_t mmio_size(mmio_t* mmio);
QB_API int mmio_tostring(mmio_t* mmio, char* str, size_t len);
QB_API const char* mmio_errmsg(mmio_t* mmio);
QB_API int mmio_errno(mmio_t* mmio);

QB_END_DECLS

#endif /* QB_MMIO_H */
