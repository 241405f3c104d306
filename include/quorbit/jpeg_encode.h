/** @file
 * JPEG encoding in memory through libjpeg(-turbo) and TurboJPEG.
 *
 * - quality is the libjpeg quality 1-100 (baseline).
 * - Outputs are allocated here with malloc and become the caller's, released
 *   with free() (TurboJPEG's tjFree() for YUV420_To_JPEG is the same thing).
 * - A failure returns -1 with *out_buffer NULL and the size 0; libjpeg errors
 *   never end the process.
 */
#ifndef QB_JPEG_ENCODE_H
#define QB_JPEG_ENCODE_H

#include "qb_export.h"

QB_BEGIN_DECLS

/** 3-byte R, G, B pixels, rows stored bottom-up (as in a BMP) -> JPEG. Returns 0 or -1. */
QB_API int RGB888_To_JPEG(char* image_buffer, int image_width, int image_height, int quality, char** out_buffer,
                          int* outSize);
/** 3-byte B, G, R pixels, rows stored bottom-up -> JPEG. Returns 0 or -1. */
QB_API int BGR888_To_JPEG(char* image_buffer, int image_width, int image_height, int quality, char** out_buffer,
                          int* outSize);
/** BGR888_To_JPEG of the pixels after a 54-byte BMP header. Returns the JPEG length, or -1. */
QB_API int BMP_To_JPEG(char* buffer, char** out_buffer, int width, int height, int quality);
/** YUYV frame (rows top-down) -> JPEG. Returns 0 or -1. */
QB_API int YUV422_To_JPEG(char* input, const int width, const int height, int quality, char** output,
                          int* out_len);
/** Planar 4:2:0 frame -> JPEG through TurboJPEG. A yuv_size other than the frame's size prints a
   message and returns 0 without output; a compression failure returns a negative value. If
   *jpeg_buffer is not NULL it must come from malloc/tjAlloc and may be reallocated. */
QB_API int YUV420_To_JPEG(unsigned char* yuv_buffer, int yuv_size, int width, int height,
                          unsigned char** jpeg_buffer, unsigned long* jpeg_size, int quality);

QB_END_DECLS

#endif /* QB_JPEG_ENCODE_H */
