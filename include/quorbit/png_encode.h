/** @file
 * PNG encoding (8-bit RGB) into a caller-supplied buffer through libpng.
 *
 * The unbounded functions trust the caller to size out_buffer; an image that
 * does not compress can need more than its raw size. PNG_Encode_Bound gives a
 * capacity that always suffices: raw bytes (width * height * 3) + one filter
 * byte per row + 0.1% + 1 KiB. The _Bounded variants never write past
 * out_capacity bytes and fail (-1) instead.
 */
#ifndef QB_PNG_ENCODE_H
#define QB_PNG_ENCODE_H

#include <stddef.h>

#include "qb_export.h"

QB_BEGIN_DECLS

/** libpng's output sink: the caller's buffer and the bytes written so far. */
struct mem_encode {
    char* buffer;
    size_t size;
    size_t capacity; /**< writes past it fail the encode; SIZE_MAX for the unbounded calls */
};

/** 3-byte R, G, B pixels, top row first -> PNG. Returns the PNG length, or -1. */
QB_API int RGB888_To_PNG(char* rgba, char* out_buffer, int width, int height);
/** A BMP of this library (bottom-up B, G, R rows after the 54-byte header) -> PNG. */
QB_API int BMP_To_PNG(char* rgba, char* out_buffer, int width, int height);
/** RGB888_To_PNG writing at most out_capacity bytes; -1 when the PNG would not fit. */
QB_API int RGB888_To_PNG_Bounded(char* rgba, char* out_buffer, int out_capacity, int width, int height);
/** BMP_To_PNG writing at most out_capacity bytes; -1 when the PNG would not fit. */
QB_API int BMP_To_PNG_Bounded(char* rgba, char* out_buffer, int out_capacity, int width, int height);
/** Worst-case PNG length for width x height, or -1 when it exceeds int or a size is not positive. */
QB_API int PNG_Encode_Bound(int width, int height);

QB_END_DECLS

#endif /* QB_PNG_ENCODE_H */
