// JPEG encoding: libjpeg for packed RGB/BGR and YUYV, TurboJPEG for planar 4:2:0.
#include "jpeg_encode.h"

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <jpeglib.h>
#include <jerror.h>
#include <turbojpeg.h>

#include "sdk_logger.h"

namespace {

constexpr const char* TAG = "JPEG_ENCODE";

// libjpeg must not get control back after a fatal error, so the handler
// leaves through longjmp to the encode call that armed it.
struct ErrorMgr {
    jpeg_error_mgr pub;
    jmp_buf jump;
};

// A growing malloc'd destination like jpeg_mem_dest, but one whose live block
// we always know, so a failed encode can free it (jpeg_mem_dest hands the
// block out only when compression finishes).
struct MemDest {
    jpeg_destination_mgr pub;
    unsigned char* buf;
    size_t cap;
    size_t used;
};

struct Job;
// The source row for scanline r (top of the JPEG first).
using RowFn = const unsigned char* (*)(Job* job, JDIMENSION r);

struct Job {
    jpeg_compress_struct cinfo;
    ErrorMgr err;
    MemDest dest;
    const unsigned char* src;
    size_t src_stride;
    unsigned char* row;  // conversion buffer of the YUYV path
};

void on_error_exit(j_common_ptr cinfo) {
    char msg[JMSG_LENGTH_MAX];
    (*cinfo->err->format_message)(cinfo, msg);
    LOGE(TAG, "%s", msg);
    longjmp(reinterpret_cast<ErrorMgr*>(cinfo->err)->jump, 1);
}

void on_output_message(j_common_ptr cinfo) {
    char msg[JMSG_LENGTH_MAX];
    (*cinfo->err->format_message)(cinfo, msg);
    LOGW(TAG, "%s", msg);
}

MemDest* dest_of(j_compress_ptr cinfo) { return reinterpret_cast<MemDest*>(cinfo->dest); }

void dest_init(j_compress_ptr cinfo) {
    MemDest* d = dest_of(cinfo);
    // Room for a typical image up front; growing copies everything written.
    size_t guess = size_t(cinfo->image_width) * cinfo->image_height * 3 / 4 + 65536;
    d->cap = guess > (size_t(64) << 20) ? size_t(64) << 20 : guess;
    d->buf = static_cast<unsigned char*>(malloc(d->cap));
    if (!d->buf) ERREXIT(cinfo, JERR_OUT_OF_MEMORY);
    d->pub.next_output_byte = d->buf;
    d->pub.free_in_buffer = d->cap;
}

boolean dest_grow(j_compress_ptr cinfo) {
    MemDest* d = dest_of(cinfo);
    size_t cap = d->cap * 2;
    auto* grown = static_cast<unsigned char*>(realloc(d->buf, cap));
    if (!grown) ERREXIT(cinfo, JERR_OUT_OF_MEMORY);
    d->pub.next_output_byte = grown + d->cap;
    d->pub.free_in_buffer = cap - d->cap;
    d->buf = grown;
    d->cap = cap;
    return TRUE;
}

void dest_term(j_compress_ptr cinfo) {
    MemDest* d = dest_of(cinfo);
    d->used = d->cap - d->pub.free_in_buffer;
    // Give back an unused tail; the caller may keep the image a long time.
    if (d->cap - d->used > d->used / 4 + 4096) {
        auto* fit = static_cast<unsigned char*>(realloc(d->buf, d->used ? d->used : 1));
        if (fit) d->buf = fit;
    }
}

// Runs one compression. Returns the JPEG length with job->dest.buf holding it,
// or -1 with everything released. No C++ object with a destructor lives in the
// frames a longjmp crosses.
long encode(Job* job, int width, int height, int quality, J_COLOR_SPACE space, RowFn row) {
    job->cinfo.err = jpeg_std_error(&job->err.pub);
    job->err.pub.error_exit = on_error_exit;
    job->err.pub.output_message = on_output_message;
    if (setjmp(job->err.jump)) {
        jpeg_destroy_compress(&job->cinfo);
        free(job->dest.buf);
        job->dest.buf = nullptr;
        return -1;
    }
    jpeg_create_compress(&job->cinfo);
    job->dest.pub.init_destination = dest_init;
    job->dest.pub.empty_output_buffer = dest_grow;
    job->dest.pub.term_destination = dest_term;
    job->cinfo.dest = &job->dest.pub;
    // Negative sizes become huge unsigned ones, which libjpeg refuses.
    job->cinfo.image_width = JDIMENSION(width);
    job->cinfo.image_height = JDIMENSION(height);
    job->cinfo.input_components = 3;
    job->cinfo.in_color_space = space;
    jpeg_set_defaults(&job->cinfo);
    jpeg_set_quality(&job->cinfo, quality, TRUE);
    jpeg_start_compress(&job->cinfo, TRUE);
    while (job->cinfo.next_scanline < job->cinfo.image_height) {
        JSAMPROW line = const_cast<JSAMPROW>(row(job, job->cinfo.next_scanline));
        jpeg_write_scanlines(&job->cinfo, &line, 1);
    }
    jpeg_finish_compress(&job->cinfo);
    jpeg_destroy_compress(&job->cinfo);
    return long(job->dest.used);
}

// Packed input is stored bottom-up, so the JPEG's top row is the last one.
const unsigned char* packed_row(Job* job, JDIMENSION r) {
    return job->src + size_t(job->cinfo.image_height - 1 - r) * job->src_stride;
}

// Y0 U Y1 V -> Y0 U V, Y1 U V.
const unsigned char* yuyv_row(Job* job, JDIMENSION r) {
    const size_t w = job->cinfo.image_width;
    if (!job->row) {
        job->row = static_cast<unsigned char*>(malloc(w * 3));
        if (!job->row) ERREXIT(&job->cinfo, JERR_OUT_OF_MEMORY);
    }
    const unsigned char* in = job->src + size_t(r) * job->src_stride;
    unsigned char* out = job->row;
    size_t x = 0;
    for (; x + 1 < w; x += 2, in += 4, out += 6) {
        out[0] = in[0];
        out[1] = out[4] = in[1];
        out[2] = out[5] = in[3];
        out[3] = in[2];
    }
    if (x < w) {  // odd width: the last pixel has no chroma pair of its own
        out[0] = in[0];
        out[1] = out[2] = 128;
    }
    return job->row;
}

// Encodes rows of bytes_per_pixel-wide pixels into a fresh heap block.
int to_jpeg(const char* image, int width, int height, int quality, size_t bytes_per_pixel, J_COLOR_SPACE space,
            RowFn row, char** out, int* out_size) {
    if (!out || !out_size) return -1;
    *out = nullptr;
    *out_size = 0;
    if (!image) return -1;
    Job* job = static_cast<Job*>(calloc(1, sizeof(Job)));
    if (!job) return -1;
    job->src = reinterpret_cast<const unsigned char*>(image);
    job->src_stride = size_t(width > 0 ? width : 0) * bytes_per_pixel;
    long len = encode(job, width, height, quality, space, row);
    free(job->row);
    if (len >= 0 && len <= 0x7fffffff) {
        *out = reinterpret_cast<char*>(job->dest.buf);
        *out_size = int(len);
    } else {
        free(job->dest.buf);
        len = -1;
    }
    free(job);
    return len < 0 ? -1 : 0;
}

int packed_to_jpeg(char* image, int width, int height, int quality, J_COLOR_SPACE space, char** out,
                   int* out_size) {
    return to_jpeg(image, width, height, quality, 3, space, packed_row, out, out_size);
}

}  // namespace

extern "C" {

QB_API int RGB888_To_JPEG(char* image_buffer, int image_width, int image_height, int quality, char** out_buffer,
                          int* outSize) {
    return packed_to_jpeg(image_buffer, image_width, image_height, quality, JCS_RGB, out_buffer, outSize);
}

QB_API int BGR888_To_JPEG(char* image_buffer, int image_width, int image_height, int quality, char** out_buffer,
                          int* outSize) {
    return packed_to_jpeg(image_buffer, image_width, image_height, quality, JCS_EXT_BGR, out_buffer, outSize);
}

QB_API int BMP_To_JPEG(char* buffer, char** out_buffer, int width, int height, int quality) {
    int size = 0;
    if (!buffer) {
        if (out_buffer) *out_buffer = nullptr;
        return -1;
    }
    if (BGR888_To_JPEG(buffer + 54, width, height, quality, out_buffer, &size) != 0) return -1;
    return size;
}

QB_API int YUV422_To_JPEG(char* input, const int width, const int height, int quality, char** output,
                          int* out_len) {
    return to_jpeg(input, width, height, quality, 2, JCS_YCbCr, yuyv_row, output, out_len);
}

QB_API int YUV420_To_JPEG(unsigned char* yuv_buffer, int yuv_size, int width, int height,
                          unsigned char** jpeg_buffer, unsigned long* jpeg_size, int quality) {
    tjhandle handle = tjInitCompress();
    if (!handle) {
        printf("compress to jpeg failed: %s\n", tjGetErrorStr2(nullptr));
        return -1;
    }
    unsigned long need = tjBufSizeYUV2(width, 1, height, TJSAMP_420);
    if (need == static_cast<unsigned long>(-1) || need != static_cast<unsigned long>(yuv_size)) {
        printf("we detect yuv size: %d, but you give: %d, check again.\n", int(need), yuv_size);
        tjDestroy(handle);
        return 0;
    }
    int rc = tjCompressFromYUV(handle, yuv_buffer, width, 1, height, TJSAMP_420, jpeg_buffer, jpeg_size, quality,
                               0);
    if (rc < 0) printf("compress to jpeg failed: %s\n", tjGetErrorStr2(handle));
    tjDestroy(handle);
    return rc;
}

}  // extern "C"
