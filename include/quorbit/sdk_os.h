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

/** len zero-filled bytes, released with os_free; NULL on failure (or for a negative length). */
QB_API void* os_zalloc(int len);
/** free(); NULL is fine. */
QB_API void os_free(void* ptr);

/* A sleep interrupted by a signal still lasts its full duration. */

/** Sleeps us microseconds. */
QB_API void os_usleep(int us);
/** Sleeps ms milliseconds. */
QB_API void os_msleep(int ms);
/** Sleeps s seconds. */
QB_API void os_sleep(int s);

/** Monotonic milliseconds, truncated to 32 bits (compare differences). */
QB_API unsigned int os_time_now_ms(void);
/** Wall-clock seconds as a double. */
QB_API double os_time_now_us(void);
/* Local time stamps in a thread-local buffer that the next call on the same thread overwrites. */

/** The local time as "%Y%m%d_%H%M%S" (thread-local buffer). */
QB_API char* os_get_time_str(void);
/** The local time as "%Y-%m-%d %H:%M:%S" (thread-local buffer). */
QB_API char* os_get_time_str2(void);
/** Sets TZ (NULL keeps it) and applies it to the process; returns 0. */
QB_API int os_set_timezone(char* timezone);
/** Heap copy of TZ, or of "UTC+0" when unset; the caller frees it. */
QB_API char* os_get_timezone(void);

/** Starts a detached thread; 0 when it runs, -1 when it could not be created. */
QB_API int os_start_thread(os_thread_function func, char* thread_name, void* arg);

/** Initialises a default, non-recursive mutex (failure is logged). */
QB_API void os_mutex_init(struct os_mutex* mutex);
/** Destroys an unlocked mutex. */
QB_API void os_mutex_deinit(struct os_mutex* mutex);
/** Blocks until the mutex is held; returns 0. */
QB_API int os_mutex_lock(struct os_mutex* mutex);
/** 0 when the mutex was taken, -1 when another holds it. */
QB_API int os_mutex_try_lock(struct os_mutex* mutex);
/** Releases the mutex; returns 0. */
QB_API int os_mutex_unlock(struct os_mutex* mutex);

/** TMPDIR if set (even empty), else "/tmp". Not a copy. */
QB_API char* os_temp_dir(void);
/** Waits reboot_wait seconds, then runs "reboot" through the shell. */
QB_API void os_reboot(int reboot_wait);

/** Runs cmd through the shell; returns 0 whatever its status. */
QB_API int exec_cmd(char* cmd);
/** Captured standard output (at most about 1024 bytes) in a thread-local
 * buffer, or NULL on failure or a non-zero exit status. */
QB_API char* exec_cmd_with_result(char* cmd);

/** The IPv4 address of interface ifname as text into result (16 bytes); result
 * is left as it was when there is none. 0, or -1 when no socket can be made. */
QB_API int get_ip_addr(char* ifname, char* result);
/** Total and free memory in MiB and the uptime in hours (NULL pointers skipped); 0 or -1. */
QB_API int get_system_info(int* memory_total, int* memory_free, int* uptime);
/** Prints the calling thread's stack frames on standard output. */
QB_API void sdk_backtrace(void);

QB_END_DECLS

#endif /* SDK_OS_H */
