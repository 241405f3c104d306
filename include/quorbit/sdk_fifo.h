/** @file
 * Bounded FIFO of fixed-size items in one ring; no lock of its own.
 */
#ifndef SDK_FIFO_H
#define SDK_FIFO_H

#include <stddef.h>
#include <stdint.h>

#include "qb_export.h"

QB_BEGIN_DECLS

typedef uint16_t u16;

enum fifo_side { E_FIFO_FRONT = 0, E_FIFO_BACK = 1 };

struct fifo_descriptor;
typedef struct fifo_descriptor* fifo_t;
typedef struct fifo_descriptor* SDK_FiFo;

/** A FIFO of count items of size bytes each; NULL for sizes below 1, a total over
 * INT_MAX or no memory. Release with sdk_fifo_destroy. */
QB_API SDK_FiFo sdk_fifo_create(int count, int size);
/** Copies one item in at the back; 0, or -1 when full (or a NULL FIFO). */
QB_API int sdk_fifo_add(SDK_FiFo f, const void* item);
/** Copies the front item out and removes it; 0, or -1 when empty (or a NULL FIFO). */
QB_API int sdk_fifo_get(SDK_FiFo f, void* item);
/** 1 when full, 0 when not, -1 for a NULL FIFO. */
QB_API int sdk_fifo_is_full(SDK_FiFo f);
/** 1 when empty, 0 when not, -1 for a NULL FIFO. */
QB_API int sdk_fifo_is_empty(SDK_FiFo f);
/** Drops count items from the front or the back; 0, or -1 when fewer are stored. */
QB_API int sdk_fifo_discard(fifo_t fifo, u16 count, enum fifo_side side);
/** An independent copy with the same contents; NULL when memory runs out. */
QB_API SDK_FiFo sdk_fifo_copy(SDK_FiFo f);
/** Logs the sizes and the number of stored items (debug level). */
QB_API void sdk_fifo_info(SDK_FiFo f);
/** Frees the ring and the FIFO; 0, or -1 for NULL. */
QB_API int sdk_fifo_destroy(SDK_FiFo f);

QB_END_DECLS

#endif /* SDK_FIFO_H */
