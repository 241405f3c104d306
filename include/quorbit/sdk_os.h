/** @file
 * Thin layer over POSIX: memory, sleeping, clocks, threads, locks, commands, system queries.
 */
#ifndef SDK_OS_H
#define SDK_OS_H

#include <pthread.h>

#include "qb_export.h"

QB_BEGIN_DECLS

struct os_mutex {
    pthread_mutex_t lock;
};
typedef struct os_mutex os_mutex;

typedef void* (*os_thread_function)(void* arg);

/** Memory: zero-filled; NULL on failure (or for a negative length). */
QB_API void* os_zalloc(int len);
QB_API void os_free(void* ptr);

/** Sleeping: a sleep interrupted by a signal still lasts its full duration. */
QB_API void os_usleep(int us);
QB_API void os_msleep(int ms);
QB_API void os_sleep(int s);

/** Monotonic milliseconds, truncated to 32 bits (compare differences). */
QB_API unsigned int os_time_now_ms(void);
/** Wall-clock seconds as a double. */
QB_API double os_time_now_us(void);
/** Local time stamps in a thread-local buffer that the next call on the same thread overwrites. */
QB_API char* os_get_time_str(void);  /**< "%Y%m%d_%H%M%S" */
QB_API char* os_get_time_str2(void); /**< "%Y-%m-%d %H:%M:%S" */
QB_API int os_set_timezone(char* timezone);
/** Heap copy of TZ, or of "UTC+0" when unset; the caller frees it. */
QB_API char* os_get_timezone(void);

/** Starts a detached thread; 0 when it runs, -1 when it could not be created. */
QB_API int os_start_thread(os_thread_function func, char* thread_name, void* arg);

QB_API void os_mutex_init(struct os_mutex* mutex);
QB_API void os_mutex_deinit(struct os_mutex* mutex);
QB_API int os_mutex_lock(struct os_mutex* mutex);
QB_API int os_mutex_try_lock(struct os_mutex* mutex);
QB_API int os_mutex_unlock(struct os_mutex* mutex);

/** TMPDIR if set (even empty), else "/tmp". Not a copy. */
QB_API char* os_temp_dir(void);
QB_API void os_reboot(int reboot_wait);

/** Runs cmd through the shell; returns 0 whatever its status. */
QB_API int exec_cmd(char* cmd);
/** Captured standard output (at most about 1024 bytes) in a thread-local
 * buffer, or NULL on failure or a non-zero exit status. */
QB_API char* exec_cmd_with_result(char* cmd);

QB_API int get_ip_addr(char* ifname, char* result);
QB_API int get_system_info(int* memory_total, int* memory_free, int* uptime);
QB_API void sdk_backtrace(void);

QB_END_DECLS

#endif /* SDK_OS_H */
