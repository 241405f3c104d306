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

QB_API SDK_FiFo sdk_fifo_create(int count, int size);
QB_API int sdk_fifo_add(SDK_FiFo f, const void* item);
QB_API int sdk_fifo_get(SDK_FiFo f, void* item);
QB_API int sdk_fifo_is_full(SDK_FiFo f);
QB_API int sdk_fifo_is_empty(SDK_FiFo f);
QB_API int sdk_fifo_discard(fifo_t fifo, u16 count, enum fifo_side side);
QB_API SDK_FiFo sdk_fifo_copy(SDK_FiFo f);
QB_API void sdk_fifo_info(SDK_FiFo f);
QB_API int sdk_fifo_destroy(SDK_FiFo f);

QB_END_DECLS

#endif /* SDK_FIFO_H */
