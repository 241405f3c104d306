// A 24-bit BMP pixel area wrapped as an NPY image (height x width x 3, '|u1').
#include <climits>
#include <cstdlib>
#include <cstring>

#include "codecs/npy/npy_io.h"

namespace {
// The block is this much larger than the pixels: header plus room callers have relied on.
constexpr int kBlockExtra = 1034;
}  // namespace

extern "C" QB_API int bmp_to_npy(char* buffer, int bmp_header_offset, int width, int height, char** out_buffer,
                                 int* out_len) {
    if (!buffer || !out_buffer || !out_len || bmp_header_offset < 0 || width <= 0 || height <= 0) return -1;
    int pixels = 0, block = 0, image = 0;
    if (__builtin_mul_overflow(width, height, &pixels) || __builtin_mul_overflow(pixels, 3, &pixels) ||
        __builtin_add_overflow(pixels, kBlockExtra, &block) ||
        __builtin_add_overflow(pixels, NPY_ARRAY_HEADER_SIZE, &image))
        return -1;
    npy_array_t m{};
    m.ndim = 3;
    m.shape[0] = static_cast<size_t>(height);
    m.shape[1] = static_cast<size_t>(width);
    m.shape[2] = 3;
    m.endianness = '|';
    m.typechar = 'u';
    m.elem_size = 1;
    m.data = buffer + bmp_header_offset;
    char header[NPY_ARRAY_HEADER_SIZE];
    uint64_t bytes = 0;
    if (!qb::npy::build_header(&m, header, &bytes)) return -1;
    char* out = static_cast<char*>(calloc(1, static_cast<size_t>(block)));
    if (!out) return -1;
    memcpy(out, header, sizeof header);
    memcpy(out + sizeof header, buffer + bmp_header_offset, static_cast<size_t>(pixels));
    *out_buffer = out;
    *out_len = image;
    return 0;
}
