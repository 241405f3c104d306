// PNG encoding of RGB buffers and BMPs into the caller's buffer.
#include "png_encode.h"

#include <png.h>

#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "sdk_logger.h"

namespace {

constexpr const char* TAG = "PNG_ENCODE";

// Large IDAT chunks keep the framing overhead (12 bytes per chunk) far below
// the 0.1% that PNG_Encode_Bound allows for; libpng's default is 8 KiB.
constexpr size_t kIdatChunk = 1 << 16;

struct PngJob {
    mem_encode mem;
    const unsigned char* src;
    png_uint_32 width;
    png_uint_32 height;
    bool from_bmp;
    unsigned char* row;
};

void png_write_data(png_structp png, png_bytep data, size_t length) {
    auto* m = static_cast<mem_encode*>(png_get_io_ptr(png));
    if (length > m->capacity - m->size) png_error(png, "output buffer too small");
    memcpy(m->buffer + m->size, data, length);
    m->size += length;
}

void png_flush_data(png_structp) {}

// Top-first R, G, B row r of the image.
const unsigned char* image_row(PngJob* job, png_structp png, png_uint_32 r) {
    const size_t stride = size_t(job->width) * 3;
    if (!job->from_bmp) return job->src + size_t(r) * stride;
    if (!job->row) {
        job->row = static_cast<unsigned char*>(malloc(stride));
        if (!job->row) png_error(png, "out of memory");
    }
    // BMP rows are stored bottom-up as B, G, R.
    const unsigned char* in = job->src + 54 + size_t(job->height - 1 - r) * stride;
    for (size_t i = 0; i < stride; i += 3) {
        job->row[i] = in[i + 2];
        job->row[i + 1] = in[i + 1];
        job->row[i + 2] = in[i];
    }
    return job->row;
}

// Returns the PNG length in job->mem, or -1. libpng errors longjmp back here;
// nothing with a destructor lives in between.
int encode(PngJob* job) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    if (!png) {
        LOGE(TAG, "Could not allocate write struct");
        return -1;
    }
    png_infop info = png_create_info_struct(png);
    if (!info) {
        LOGE(TAG, "Could not allocate info struct");
        png_destroy_write_struct(&png, nullptr);
        return -1;
    }
    if (setjmp(png_jmpbuf(png))) {
        LOGE(TAG, "Error during png creation");
        png_destroy_write_struct(&png, &info);
        return -1;
    }
    png_set_write_fn(png, &job->mem, png_write_data, png_flush_data);
    png_set_compression_buffer_size(png, kIdatChunk);
    png_set_IHDR(png, info, job->width, job->height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (png_uint_32 r = 0; r < job->height; r++) png_write_row(png, image_row(job, png, r));
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return job->mem.size > INT_MAX ? -1 : int(job->mem.size);
}

int to_png(char* src, char* out, size_t capacity, int width, int height, bool from_bmp) {
    if (!src || !out) {
        LOGE(TAG, "Error during png creation");
        return -1;
    }
    PngJob job{};
    job.mem.buffer = out;
    job.mem.capacity = capacity;
    job.src = reinterpret_cast<const unsigned char*>(src);
    // Negative sizes turn into values libpng's header check refuses.
    job.width = png_uint_32(width);
    job.height = png_uint_32(height);
    job.from_bmp = from_bmp;
    int len = encode(&job);
    free(job.row);
    return len;
}

}  // namespace

extern "C" {

QB_API int RGB888_To_PNG(char* rgba, char* out_buffer, int width, int height) {
    return to_png(rgba, out_buffer, SIZE_MAX, width, height, false);
}

QB_API int BMP_To_PNG(char* rgba, char* out_buffer, int width, int height) {
    return to_png(rgba, out_buffer, SIZE_MAX, width, height, true);
}

QB_API int RGB888_To_PNG_Bounded(char* rgba, char* out_buffer, int out_capacity, int width, int height) {
    return to_png(rgba, out_buffer, out_capacity < 0 ? 0 : size_t(out_capacity), width, height, false);
}

QB_API int BMP_To_PNG_Bounded(char* rgba, char* out_buffer, int out_capacity, int width, int height) {
    return to_png(rgba, out_buffer, out_capacity < 0 ? 0 : size_t(out_capacity), width, height, true);
}

QB_API int PNG_Encode_Bound(int width, int height) {
    if (width <= 0 || height <= 0) return -1;
    int64_t filtered = (int64_t(width) * 3 + 1) * height;
    int64_t bound = filtered + filtered / 1000 + 1024;
    return bound > INT_MAX ? -1 : int(bound);
}

}  // extern "C"
