#include <pthread.h>
#include <sys/time.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>

#include "foundation/env_lock.h"
#include "foundation/thread_name.h"
#include "sdk_logger.h"
#include "sdk_os.h"

namespace {
constexpr const char* TAG = "OS";

// Sleeps to an absolute monotonic deadline, so signals cannot shorten it and
// long durations need no 32-bit arithmetic.
void sleep_us64(int64_t us) {
    if (us <= 0) return;
    struct timespec deadline;
    clock_gettime(CLOCK_MONOTONIC, &deadline);
    deadline.tv_sec += static_cast<time_t>(us / 1000000);
    deadline.tv_nsec += static_cast<long>((us % 1000000) * 1000);
    if (deadline.tv_nsec >= 1000000000L) {
        deadline.tv_sec += 1;
        deadline.tv_nsec -= 1000000000L;
    }
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr) == EINTR) {
    }
}

char* format_now(char (&buf)[64], const char* format) {
    time_t now = time(nullptr);
    struct tm tm;
    localtime_r(&now, &tm);
    if (strftime(buf, sizeof buf, format, &tm) == 0) buf[0] = '\0';
    return buf;
}
}  // namespace

void qb::name_thread(pthread_t th, const char* name) {
    char short_name[16];
    snprintf(short_name, sizeof short_name, "%s", name);
    pthread_setname_np(th, short_name);
}

extern "C" {

QB_API void* os_zalloc(int len) {
    if (len < 0) return nullptr;
    return calloc(1, len == 0 ? 1 : static_cast<size_t>(len));
}

QB_API void os_free(void* ptr) { free(ptr); }

QB_API void os_usleep(int us) { sleep_us64(us); }

QB_API void os_msleep(int ms) { sleep_us64(static_cast<int64_t>(ms) * 1000); }

QB_API void os_sleep(int s) { sleep_us64(static_cast<int64_t>(s) * 1000000); }

QB_API unsigned int os_time_now_ms(void) {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    uint64_t ms = static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
    return static_cast<unsigned int>(ms);
}

QB_API double os_time_now_us(void) {
    struct timeval tv;
    gettimeofday(&tv, nullptr);
    return static_cast<double>(tv.tv_sec) + static_cast<double>(tv.tv_usec) * 1e-6;
}

// One buffer per format: a caller may hold both stamps at once.
QB_API char* os_get_time_str(void) {
    thread_local char buf[64];
    return format_now(buf, "%Y%m%d_%H%M%S");
}

QB_API char* os_get_time_str2(void) {
    thread_local char buf[64];
    return format_now(buf, "%Y-%m-%d %H:%M:%S");
}

QB_API int os_set_timezone(char* timezone) {
    std::lock_guard<std::mutex> lock(qb::env_mutex());
    if (timezone) setenv("TZ", timezone, 1);
    tzset();
    return 0;
}

QB_API char* os_get_timezone(void) {
    std::lock_guard<std::mutex> lock(qb::env_mutex());
    const char* tz = getenv("TZ");
    return strdup(tz ? tz : "UTC+0");
}

QB_API int os_start_thread(os_thread_function func, char* thread_name, void* arg) {
    pthread_t th;
    int rc = pthread_create(&th, nullptr, func, arg);
    if (rc != 0) {
        char err[128];
        LOGE(TAG, "Can't create thread %s:[%s]", thread_name ? thread_name : "", strerror_r(rc, err, sizeof err));
        return -1;
    }
    if (thread_name && thread_name[0]) qb::name_thread(th, thread_name);
    pthread_detach(th);
    LOGV(TAG, "Thread [%s] created successfully", thread_name ? thread_name : "");
    return 0;
}

QB_API void os_mutex_init(struct os_mutex* mutex) {
    if (!mutex || pthread_mutex_init(&mutex->lock, nullptr) != 0) LOGE(TAG, "mutex init failed\n");
}

QB_API void os_mutex_deinit(struct os_mutex* mutex) {
    if (mutex) pthread_mutex_destroy(&mutex->lock);
}

QB_API int os_mutex_lock(struct os_mutex* mutex) {
    pthread_mutex_lock(&mutex->lock);
    return 0;
}

QB_API int os_mutex_try_lock(struct os_mutex* mutex) { return pthread_mutex_trylock(&mutex->lock) == 0 ? 0 : -1; }

QB_API int os_mutex_unlock(struct os_mutex* mutex) {
    pthread_mutex_unlock(&mutex->lock);
    return 0;
}

QB_API char* os_temp_dir(void) {
    std::lock_guard<std::mutex> lock(qb::env_mutex());
    char* dir = getenv("TMPDIR");
    return dir ? dir : const_cast<char*>("/tmp");
}

QB_API void os_reboot(int reboot_wait) {
    sleep_us64(static_cast<int64_t>(reboot_wait) * 1000000);
    exec_cmd(const_cast<char*>("reboot"));
}

}  // extern "C"
