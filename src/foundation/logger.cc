#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "sdk_fifo.h"
#include "sdk_logger.h"
#include "sdk_os.h"

namespace {
constexpr const char* TAG = "LOGGER";
constexpr size_t kLineSize = 1152;   // stored line: prefix + message
constexpr size_t kMessageSize = 1024;  // stored message part, truncated
constexpr size_t kConsoleStack = 2048; // console lines up to this size need no heap

constexpr char sdk_log_str[10] = {'U', 'F', 'E', 'W', 'I', 'D', 'V', 0, 0, 0};

std::atomic<int> g_log_level{SDK_LOG_LEVEL_DEBUG};
// Set while a ring exists; the ring itself is only touched under g_log_mutex.
std::atomic<bool> g_ring_enabled{false};
// Never destroyed: library threads may still log while the ring is switched off.
os_mutex g_log_mutex = {PTHREAD_MUTEX_INITIALIZER};
SDK_FiFo g_log_fifo = nullptr;

char level_letter(int level) {
    if (level < 0 || level > 9) return '?';
    return sdk_log_str[level];
}

// localtime_r costs a lot more than the rest of the prefix; lines of the same
// second on one thread reuse the broken-down time.
void local_time(time_t now, struct tm* out) {
    thread_local time_t cached_sec = -1;
    thread_local struct tm cached_tm;
    if (now != cached_sec) {
        localtime_r(&now, &cached_tm);
        cached_sec = now;
    }
    *out = cached_tm;
}

constexpr const char* kPrefixFormat = "[%04d/%02d/%02d %02d:%02d:%02d:%06d][%c][%-8s]";

// Returns the untruncated length, like snprintf.
int format_prefix(char* buf, size_t size, const struct timespec& mono, const struct tm& tm, char letter,
                  const char* tag) {
    int n = snprintf(buf, size, kPrefixFormat, tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min,
                     tm.tm_sec, static_cast<int>(mono.tv_nsec / 1000), letter, tag);
    return n < 0 ? 0 : n;
}

void drain_and_free(SDK_FiFo fifo) {
    char* line = nullptr;
    while (sdk_fifo_get(fifo, &line) == 0) free(line);
}
}  // namespace

extern "C" {

QB_API int sdk_log_func(const char* tag, int log_level, const char* fmt, ...) {
    if (log_level > g_log_level.load(std::memory_order_relaxed)) return -1;

    char stack[kConsoleStack];
    size_t used = 0;
    const char letter = level_letter(log_level);

    if (tag) {
        struct timespec mono;
        const bool clock_ok = clock_gettime(CLOCK_MONOTONIC, &mono) == 0;
        if (clock_ok) {
            struct tm tm;
            local_time(time(nullptr), &tm);
            // Room is kept after the prefix for the colour codes.
            const size_t room = sizeof stack - 16;
            const size_t full = format_prefix(stack, room, mono, tm, letter, tag);
            if (full < room) {
                used = full;
            } else {
                // A tag too long for the stack buffer is still printed whole.
                printf(kPrefixFormat, tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec,
                       static_cast<int>(mono.tv_nsec / 1000), letter, tag);
                used = 0;
            }
            const size_t stored_prefix = full < room ? full : room - 1;
            if (g_ring_enabled.load(std::memory_order_acquire)) {
                char line[kLineSize];
                char message[kMessageSize];
                va_list ap;
                va_start(ap, fmt);
                vsnprintf(message, sizeof message, fmt, ap);
                va_end(ap);
                snprintf(line, sizeof line, "%.*s%s", static_cast<int>(stored_prefix), stack, message);
                input_log_buffer(line);
            }
        } else {
            const int room = static_cast<int>(sizeof stack) - 16;
            int n = snprintf(stack, room, "[%c][%-8s]", letter, tag);
            used = n < 0 ? 0 : (n < room ? n : room - 1);
        }
    }

    const bool red = log_level <= SDK_LOG_LEVEL_ERROR;
    if (red) {
        memcpy(stack + used, "\x1B[31m", 5);
        used += 5;
    }

    // Build the whole line in one buffer so one write puts it out; a message
    // that does not fit goes out through stdio without truncation.
    va_list ap;
    va_start(ap, fmt);
    int n = vsnprintf(stack + used, sizeof stack - used, fmt, ap);
    va_end(ap);
    if (n >= 0 && used + n + 4 < sizeof stack) {
        used += n;
        if (red) {
            memcpy(stack + used, "\x1B[0m", 4);
            used += 4;
        }
        fwrite(stack, 1, used, stdout);
    } else {
        fwrite(stack, 1, used, stdout);
        va_start(ap, fmt);
        vfprintf(stdout, fmt, ap);
        va_end(ap);
        if (red) fputs("\x1B[0m", stdout);
    }
    fflush(stdout);
    return 0;
}

QB_API int sdk_log_hexdump(const char* tag, char* buffer, int len) {
    struct timespec mono;
    if (clock_gettime(CLOCK_MONOTONIC, &mono) == 0) {
        printf("[%6d.%06d][%s]\n", static_cast<int>(mono.tv_sec), static_cast<int>(mono.tv_nsec / 1000),
               tag ? tag : "");
    } else {
        printf("[%s]\n", tag ? tag : "");
    }
    fputs("0x0000: ", stdout);
    const auto* bytes = reinterpret_cast<const unsigned char*>(buffer);
    for (int i = 0; bytes && i < len; ++i) {
        printf("0x%02x ", bytes[i]);
        if (i % 16 == 15) printf("\n0x%04x: ", i + 1);
    }
    fputc('\n', stdout);
    fflush(stdout);
    return 0;
}

QB_API void sdk_set_log_level(int log_level) { g_log_level.store(log_level, std::memory_order_relaxed); }

QB_API int sdk_get_log_level(void) { return g_log_level.load(std::memory_order_relaxed); }

QB_API int input_log_buffer(char* buffer) {
    if (!g_ring_enabled.load(std::memory_order_acquire)) {
        LOGE(TAG, "Input none log buffer");
        return -1;
    }
    char* copy = strdup(buffer);
    if (!copy) return -1;
    os_mutex_lock(&g_log_mutex);
    if (!g_log_fifo) {
        // Disabled between the flag test and the lock.
        os_mutex_unlock(&g_log_mutex);
        free(copy);
        return -1;
    }
    if (sdk_fifo_is_full(g_log_fifo) == 1) {
        char* oldest = nullptr;
        if (sdk_fifo_get(g_log_fifo, &oldest) == 0) free(oldest);
    }
    sdk_fifo_add(g_log_fifo, &copy);
    os_mutex_unlock(&g_log_mutex);
    return 0;
}

QB_API char* sdk_get_log_buffer(void) {
    os_mutex_lock(&g_log_mutex);
    if (!g_log_fifo) {
        os_mutex_unlock(&g_log_mutex);
        LOGE(TAG, "Get none log buffer");
        return nullptr;
    }
    SDK_FiFo copy = sdk_fifo_copy(g_log_fifo);
    if (!copy) {
        os_mutex_unlock(&g_log_mutex);
        return nullptr;
    }
    // Two passes over the copy's pointers: measure, then join.
    SDK_FiFo measure = sdk_fifo_copy(copy);
    size_t total = 0;
    char* line = nullptr;
    if (measure) {
        while (sdk_fifo_get(measure, &line) == 0) total += strlen(line);
        sdk_fifo_destroy(measure);
    }
    char* result = static_cast<char*>(calloc(1, total + 1));
    if (result) {
        size_t pos = 0;
        while (sdk_fifo_get(copy, &line) == 0) {
            size_t len = strlen(line);
            if (pos + len > total) break;  // the measuring copy failed; keep what fits
            memcpy(result + pos, line, len);
            pos += len;
        }
    }
    sdk_fifo_destroy(copy);
    os_mutex_unlock(&g_log_mutex);
    return result;
}

QB_API int sdk_clear_log_buffer(void) {
    os_mutex_lock(&g_log_mutex);
    if (!g_log_fifo) {
        os_mutex_unlock(&g_log_mutex);
        LOGE(TAG, "Clear none log buffer");
        return -1;
    }
    drain_and_free(g_log_fifo);
    os_mutex_unlock(&g_log_mutex);
    return 0;
}

QB_API void sdk_set_log_buffer(int enable, int max_size) {
    if (enable == 1) {
        os_mutex_lock(&g_log_mutex);
        if (g_log_fifo) {
            os_mutex_unlock(&g_log_mutex);
            LOGE(TAG, "Already Enabled");
            return;
        }
        g_log_fifo = sdk_fifo_create(max_size, static_cast<int>(sizeof(char*)));
        g_ring_enabled.store(g_log_fifo != nullptr, std::memory_order_release);
        os_mutex_unlock(&g_log_mutex);
    } else if (enable == 0) {
        os_mutex_lock(&g_log_mutex);
        if (!g_log_fifo) {
            os_mutex_unlock(&g_log_mutex);
            LOGE(TAG, "Already Disabled");
            return;
        }
        g_ring_enabled.store(false, std::memory_order_release);
        drain_and_free(g_log_fifo);
        sdk_fifo_destroy(g_log_fifo);
        g_log_fifo = nullptr;
        os_mutex_unlock(&g_log_mutex);
    }
}

}  // extern "C"
