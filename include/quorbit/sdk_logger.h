/** @file
 * Process-wide logger: formatted lines on standard output with a local time
 * stamp, a level letter and the module's tag, one threshold, and an optional
 * in-memory ring of the newest lines.
 */
#ifndef SDK_LOGGER_H
#define SDK_LOGGER_H

#include "qb_export.h"
#include "sdk_config.h"

QB_BEGIN_DECLS

enum {
    SDK_LOG_LEVEL_NONE = 0,
    SDK_LOG_LEVEL_FATAL = 1,
    SDK_LOG_LEVEL_ERROR = 2,
    SDK_LOG_LEVEL_WARN = 3,
    SDK_LOG_LEVEL_INFO = 4,
    SDK_LOG_LEVEL_DEBUG = 5,
    SDK_LOG_LEVEL_VERBOSE = 6,
    LOG_MAX = 7
};

/** Logs one printf-style message at log_level under tag (and into the ring when enabled).
 * Returns -1 when the message was filtered out, else 0. Adds no newline. */
QB_API int sdk_log_func(const char* tag, int log_level, const char* fmt, ...)
    __attribute__((format(printf, 3, 4)));
/** Hex dump of len bytes; not filtered and never stored. Returns 0. */
QB_API int sdk_log_hexdump(const char* tag, char* buffer, int len);
/** Sets the threshold: messages above log_level are dropped (default SDK_LOG_LEVEL_DEBUG). */
QB_API void sdk_set_log_level(int log_level);
/** The current threshold. */
QB_API int sdk_get_log_level(void);
/** enable 1 creates the ring with max_size lines, 0 empties and destroys it. */
QB_API void sdk_set_log_buffer(int enable, int max_size);
/** All buffered lines, oldest first, as one heap string (caller frees); NULL when disabled. */
QB_API char* sdk_get_log_buffer(void);
/** Empties the ring and keeps it enabled; 0, or -1 when it is disabled. */
QB_API int sdk_clear_log_buffer(void);
/** Internal: stores a copy of one finished line; 0, or -1 when the ring is disabled. */
QB_API int input_log_buffer(char* buffer);

#if defined(ENABLE_SDK_LOGGER)
#define LOGF(tag, format, ...) sdk_log_func(tag, SDK_LOG_LEVEL_FATAL, format "\n", ##__VA_ARGS__)
#define LOGE(tag, format, ...) sdk_log_func(tag, SDK_LOG_LEVEL_ERROR, format "\n", ##__VA_ARGS__)
#define LOGW(tag, format, ...) sdk_log_func(tag, SDK_LOG_LEVEL_WARN, format "\n", ##__VA_ARGS__)
#define LOGI(tag, format, ...) sdk_log_func(tag, SDK_LOG_LEVEL_INFO, format "\n", ##__VA_ARGS__)
#define LOGD(tag, format, ...) sdk_log_func(tag, SDK_LOG_LEVEL_DEBUG, format "\n", ##__VA_ARGS__)
#define LOGV(tag, format, ...) sdk_log_func(tag, SDK_LOG_LEVEL_VERBOSE, format "\n", ##__VA_ARGS__)
#define LOG_HEX(tag, buf, len) sdk_log_hexdump(tag, buf, len)
#else
#define LOGF(tag, format, ...) ((void)0)
#define LOGE(tag, format, ...) ((void)0)
#define LOGW(tag, format, ...) ((void)0)
#define LOGI(tag, format, ...) ((void)0)
#define LOGD(tag, format, ...) ((void)0)
#define LOGV(tag, format, ...) ((void)0)
#define LOG_HEX(tag, buf, len) ((void)0)
#endif

QB_END_DECLS

#endif /* SDK_LOGGER_H */
