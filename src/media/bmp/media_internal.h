// Internal seams of the media module shared with the tests.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qb::media {

// The vector kernels run when the CPU has them; tests switch them off to
// compare against the portable code on the same machine.
bool simd_available();
void set_simd_enabled(bool on);
bool simd_enabled();

// AVX2 kernels. Each handles a prefix of the row (16 pixels at a time for
// 4:2:0, 32 for 4:2:2) and returns how many pixels it wrote; the caller
// finishes the tail.
// 4:2:0: two luma rows sharing one chroma row, RGB out.
int yuv420_rows_avx2(const uint8_t* y0, const uint8_t* y1, const uint8_t* u, const uint8_t* v, uint8_t* out0,
                     uint8_t* out1, int width);
// 4:2:2: one YUYV row, RGB (bgr false) or BGR (bgr true) out.
int yuv422_row_avx2(const uint8_t* yuyv, uint8_t* out, int width, bool bgr);

// Writes a standard BMP header for rows of `stride` bytes (stride = width * 3
// gives this module's unpadded layout).
void bmp_header_write(unsigned char* buffer, int width, int height, uint32_t stride);

}  // namespace qb::media
