#include <iconv.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "sdk_logger.h"
#include "sdk_string.h"

namespace {
constexpr const char* TAG = "SDK_STRING";

char digit_char(unsigned d) { return static_cast<char>(d < 10 ? '0' + d : d + 48 + 7); }

// Writes the digits of v from the least significant end, ending just before
// end; returns the first digit.
char* format_unsigned(unsigned long long v, unsigned radix, char* end) {
    char* p = end;
    switch (radix) {
        case 2:
            do *--p = static_cast<char>('0' + (v & 1)); while (v >>= 1);
            break;
        case 8:
            do *--p = static_cast<char>('0' + (v & 7)); while (v >>= 3);
            break;
        case 16:
            do *--p = digit_char(static_cast<unsigned>(v & 15)); while (v >>= 4);
            break;
        case 10:  // constant divisor: the compiler turns it into a multiply
            do {
                *--p = static_cast<char>('0' + v % 10);
                v /= 10;
            } while (v);
            break;
        default:
            do {
                *--p = digit_char(static_cast<unsigned>(v % radix));
                v /= radix;
            } while (v);
            break;
    }
    return p;
}
}  // namespace

extern "C" {

QB_API int sdk_code_convert(char* from_charset, char* to_charset, char* inbuf, int inlen, char* outbuf, int outlen) {
    if (!from_charset || !to_charset || !inbuf || !outbuf || inlen < 0 || outlen < 0) return -1;
    iconv_t cd = iconv_open(to_charset, from_charset);
    if (cd == reinterpret_cast<iconv_t>(-1)) return -1;
    memset(outbuf, 0, static_cast<size_t>(outlen));

    char* in = inbuf;
    char* out = outbuf;
    size_t in_left = static_cast<size_t>(inlen);
    size_t out_left = static_cast<size_t>(outlen);
    if (iconv(cd, &in, &in_left, &out, &out_left) == static_cast<size_t>(-1)) {
        int err = errno;
        LOGE(TAG, "Code Convert failed, errno=%d", err);
        switch (err) {
            case EINVAL:
                LOGE(TAG, "An incomplete multibyte sequence has been encountered in the input.");
                break;
            case EILSEQ:
                LOGE(TAG, "An invalid multibyte sequence has been encountered in the input.");
                LOGE(TAG, "Left to translate=%d, current ptr=%x outbuffer left=%d", static_cast<int>(in_left),
                     static_cast<unsigned>(reinterpret_cast<uintptr_t>(in)), static_cast<int>(out_left));
                break;
            case E2BIG:
                LOGE(TAG, "There is not sufficient room at *outbuf.");
                break;
            default:
                LOGE(TAG, "Unknown error");
                break;
        }
        iconv_close(cd);
        return -1;
    }
    iconv_close(cd);
    return 0;
}

QB_API char* sdk_str_replace(const char* str, const char* sub, const char* replace) {
    if (!str) return nullptr;
    if (!sub || !*sub) return strdup(str);
    if (!replace) replace = "";

    const size_t sub_len = strlen(sub);
    const size_t rep_len = strlen(replace);
    size_t count = 0;
    for (const char* p = strstr(str, sub); p; p = strstr(p + sub_len, sub)) ++count;

    // Each match removes sub_len bytes and adds rep_len; the sum cannot go
    // negative, but it can overflow when the replacement is long.
    size_t size = strlen(str) + 1;
    if (rep_len > sub_len) {
        size_t grow = 0;
        if (__builtin_mul_overflow(count, rep_len - sub_len, &grow) || __builtin_add_overflow(size, grow, &size))
            return nullptr;
    } else {
        size -= count * (sub_len - rep_len);
    }
    char* result = static_cast<char*>(malloc(size));
    if (!result) return nullptr;

    char* out = result;
    const char* from = str;
    for (const char* p = strstr(from, sub); p; p = strstr(from, sub)) {
        memcpy(out, from, static_cast<size_t>(p - from));
        out += p - from;
        memcpy(out, replace, rep_len);
        out += rep_len;
        from = p + sub_len;
    }
    strcpy(out, from);
    return result;
}

QB_API char* sdk_str_itoa(unsigned long long value, char* str, int radix) {
    if (!str) return nullptr;
    const bool is_signed = radix < 0;
    const long long r = is_signed ? -static_cast<long long>(radix) : radix;
    // Radix 0 would divide by zero and 1 would never finish.
    if (r < 2 || r > 36) {
        str[0] = '\0';
        return str;
    }
    char work[66];
    char* end = work + sizeof work - 1;
    *end = '\0';
    char* first;
    if (is_signed && static_cast<long long>(value) < 0) {
        first = format_unsigned(0ULL - value, static_cast<unsigned>(r), end);
        *--first = '-';
    } else {
        first = format_unsigned(value, static_cast<unsigned>(r), end);
    }
    memcpy(str, first, static_cast<size_t>(end - first) + 1);
    return str;
}

QB_API char* sdk_itoa(int value) {
    // Per thread: library threads format numbers while the application does.
    thread_local char buf[64];
    snprintf(buf, sizeof buf, "%d", value);
    return buf;
}

}  // extern "C"
