// BMP rescaling: bilinear through libgd, or nearest sample.
#include <gd.h>

#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "bmp_encode.h"
#include "media/bmp/media_internal.h"
#include "sdk_logger.h"
#include "sdk_os.h"

namespace {

constexpr const char* TAG = "BMP_RESIZE";

// 54 + w * h * 3, or -1 when a size is not positive or the total exceeds int.
int64_t bmp_size(int w, int h) {
    if (w <= 0 || h <= 0) return -1;
    int64_t size = 54 + int64_t(w) * h * 3;
    return size > INT_MAX ? -1 : size;
}

uint32_t padded_stride(int w) { return (uint32_t(w) * 3 + 3) & ~3u; }

uint32_t le32(const unsigned char* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// libgd reads standard BMPs, whose rows are padded to 4 bytes; ours are not.
gdImagePtr decode_unpadded(const char* buffer, int w, int h) {
    const int64_t size = bmp_size(w, h);
    const uint32_t row = uint32_t(w) * 3, stride = padded_stride(w);
    if (row == stride) return gdImageCreateFromBmpPtr(int(size), const_cast<char*>(buffer));
    const int64_t padded_size = 54 + int64_t(stride) * h;
    if (padded_size > INT_MAX) return nullptr;
    auto* padded = static_cast<unsigned char*>(calloc(1, size_t(padded_size)));
    if (!padded) return nullptr;
    qb::media::bmp_header_write(padded, w, h, stride);
    for (int r = 0; r < h; r++) memcpy(padded + 54 + size_t(r) * stride, buffer + 54 + size_t(r) * row, row);
    gdImagePtr im = gdImageCreateFromBmpPtr(int(padded_size), padded);
    free(padded);
    return im;
}

// Copies gd's BMP into out in this module's layout; the result never exceeds
// 54 + w * h * 3 bytes. Returns the length, or -1 for output we cannot place.
int store_unpadded(const unsigned char* bmp, int size, char* out, int w, int h) {
    const int64_t limit = bmp_size(w, h);
    if (!bmp || size < 54 || bmp[0] != 'B' || bmp[1] != 'M') return -1;
    const uint32_t offset = le32(bmp + 10), row = uint32_t(w) * 3, stride = padded_stride(w);
    if (int32_t(le32(bmp + 18)) != w || int32_t(le32(bmp + 22)) != h || bmp[28] != 24 || le32(bmp + 30) != 0)
        return -1;
    if (offset == 54 && row == stride && size <= limit) {
        memcpy(out, bmp, size_t(size));
        return size;
    }
    if (offset < 54 || int64_t(offset) + int64_t(stride) * (h - 1) + row > size) return -1;
    bmp_header_add(reinterpret_cast<unsigned char*>(out), w, h);
    for (int r = 0; r < h; r++) memcpy(out + 54 + size_t(r) * row, bmp + offset + size_t(r) * stride, row);
    return int(limit);
}

}  // namespace

extern "C" {

QB_API int BMP_Resize_GD(char* buffer, char* out_buffer, int width, int height, int target_width,
                         int target_height) {
    const unsigned start = os_time_now_ms();
    if (!buffer || !out_buffer || bmp_size(width, height) < 0 || bmp_size(target_width, target_height) < 0) {
        LOGE(TAG, "Invalid resize %dx%d -> %dx%d", width, height, target_width, target_height);
        return -1;
    }
    gdImagePtr src = decode_unpadded(buffer, width, height);
    if (!src) {
        LOGE(TAG, "Can't create image from bmp");
        return 4;
    }
    gdImageSetInterpolationMethod(src, GD_BILINEAR_FIXED);
    gdImagePtr dst = gdImageScale(src, unsigned(target_width), unsigned(target_height));
    gdImageDestroy(src);
    if (!dst) {
        LOGE(TAG, "gdImageScale fails");
        return 5;
    }
    int size = 0;
    auto* bmp = static_cast<unsigned char*>(gdImageBmpPtr(dst, &size, 0));
    gdImageDestroy(dst);
    const int len = store_unpadded(bmp, size, out_buffer, target_width, target_height);
    if (bmp) gdFree(bmp);
    if (len < 0) {
        LOGE(TAG, "gdImageBmpPtr fails");
        return 5;
    }
    LOGD(TAG, "spend=%dms", int(os_time_now_ms() - start));
    return len;
}

QB_API int BMP_Resize_linear(char* buffer, char* out_buffer, int width, int height, int target_width,
                             int target_height) {
    const unsigned start = os_time_now_ms();
    const int64_t out_size = bmp_size(target_width, target_height);
    if (!buffer || !out_buffer || bmp_size(width, height) < 0 || out_size < 0) {
        LOGE(TAG, "Invalid resize %dx%d -> %dx%d", width, height, target_width, target_height);
        return -1;
    }
    const float ratio_w = float(width) / float(target_width);
    const float ratio_h = float(height) / float(target_height);
    bmp_header_add(reinterpret_cast<unsigned char*>(out_buffer), target_width, target_height);
    const char* src = buffer + 54;
    char* dst = out_buffer + 54;
    for (int y = 0; y < target_height; y++) {
        int sy = int(float(y) * ratio_h);
        if (sy >= height) sy = height - 1;  // float rounding at the last row of huge images
        for (int x = 0; x < target_width; x++) {
            int sx = int(float(x) * ratio_w);
            if (sx >= width) sx = width - 1;
            memcpy(dst + (size_t(y) * target_width + x) * 3, src + (size_t(sy) * width + sx) * 3, 3);
        }
    }
    LOGD(TAG, "spend=%dms", int(os_time_now_ms() - start));
    return int(out_size);
}

}  // extern "C"
