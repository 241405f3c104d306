/** @file
 * Pixel format conversion and in-memory BMP files.
 *
 * - YUV 4:2:0 is planar (luma, then two quarter-size chroma planes; width and
 *   height even). YUV 4:2:2 is packed YUYV. RGB888/BGR888 rows are width * 3
 *   bytes without padding.
 * - A BMP here is the 54-byte header below followed by bottom-up B, G, R rows of
 *   width * 3 bytes, without the format's 4-byte row padding (so it is a
 *   standard file only when width is a multiple of 4). This module reads both.
 * - The caller sizes every output: width * height * 3 bytes of pixels, plus 54
 *   for a BMP. Converters check nothing; the resizers refuse sizes <= 0.
 */
#ifndef QB_BMP_ENCODE_H
#define QB_BMP_ENCODE_H

#include <stdint.h>

#include "qb_export.h"

QB_BEGIN_DECLS

#define FMT_YUV420P 0 /**< U plane before V */
#define FMT_YV12 1    /**< V plane before U */

#define _xpixelpermeter 0x130B
#define _ypixelpermeter 0x130B

/** The on-disk header layout, little-endian and packed (54 bytes). */
struct __attribute__((packed)) fileheader {
    char signature[2];
    uint32_t filesize;
    uint32_t reserved;
    uint32_t fileoffset_to_pixelarray;
};

struct __attribute__((packed)) bitmapinfoheader {
    uint32_t dibheadersize;
    int32_t width;
    int32_t height;
    uint16_t planes;
    uint16_t bitsperpixel;
    uint32_t compression;
    uint32_t imagesize;
    uint32_t ypixelpermeter;
    uint32_t xpixelpermeter;
    uint32_t numcolorspallette;
    uint32_t mostimpcolor;
};

struct __attribute__((packed)) bitmap {
    struct fileheader fileheader;
    struct bitmapinfoheader bitmapinfoheader;
};

/** Fixed-point 4:2:0 -> R, G, B, top row first. type: FMT_YUV420P or FMT_YV12. Returns 0. */
QB_API int YUV420_To_RGB888_Fast(int type, unsigned char* yuvbuffer, unsigned char* rgbbuffer, int width,
                                 int height);
/** Floating-point 4:2:0 (U plane first) -> 3-byte pixels, bottom row first. Returns width * height * 3.
   Note: the first output byte weighs the first chroma plane (U) with 1.4075, the third the second
   plane (V) with 1.779; this is the established output, not BT.601 B, G, R. */
QB_API int YUV420_To_BGR888(unsigned char* yuv, unsigned char* rgb, int width, int height);
/** YUYV -> R, G, B, top row first. Returns 0. */
QB_API int YUV422_To_RGB888(unsigned char* yuv, unsigned char* rgb, unsigned int width, unsigned int height);
/** YUYV -> B, G, R, bottom row first. Returns 0. */
QB_API int YUV422_To_BGR888_Reverse(unsigned char* yuv, unsigned char* rgb, unsigned int width,
                                    unsigned int height);
/** Header plus YUV420_To_BGR888 pixels. Returns 54 + width * height * 3. */
QB_API int YUV420_To_BMP(unsigned char* yuv, unsigned char* rgb, int width, int height);
/** Header plus YUV422_To_BGR888_Reverse pixels. Returns 54 + width * height * 3. */
QB_API int YUV422_To_BMP(unsigned char* yuv, unsigned char* rgb, int width, int height);
/** One pixel, R in bits 0-7, G in 8-15, B in 16-23. */
QB_API int convert_yuv_to_rgb_pixel(int y, int u, int v);

/** The header length, 54. */
QB_API int bmp_header_size(void);
/** Writes the 54-byte header; returns 54. */
QB_API int bmp_header_add(unsigned char* buffer, int width, int height);
/** The width field of a BMP header (bytes 18-21, little-endian). */
QB_API int bmp_get_width(char* buffer);
/** The height field of a BMP header (bytes 22-25, little-endian). */
QB_API int bmp_get_height(char* buffer);

/** Bilinear rescale through libgd. Returns the output length (at most 54 + target_width *
   target_height * 3), 4 when the input cannot be decoded, 5 when scaling or encoding fails,
   -1 for sizes <= 0 or null buffers. */
QB_API int BMP_Resize_GD(char* buffer, char* out_buffer, int width, int height, int target_width,
                         int target_height);
/** Nearest-sample rescale. Returns 54 + target_width * target_height * 3, -1 for sizes <= 0. */
QB_API int BMP_Resize_linear(char* buffer, char* out_buffer, int width, int height, int target_width,
                             int target_height);

QB_END_DECLS

#endif /* QB_BMP_ENCODE_H */
