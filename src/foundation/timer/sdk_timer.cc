#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <new>

#include "foundation/timer/timer_internal.h"
#include "sdk_logger.h"
#include "sdk_os.h"
#include "sdk_timer.h"

namespace {
constexpr const char* TAG = "SDK_TIMER";
constexpr long kUsPerSec = 1000000;

// The handle whose callbacks this thread is running, so a callback that stops
// its own timer is recognised instead of waiting for itself forever.
thread_local timer_handle* tl_current_timer = nullptr;

// Monotonic, so a step of the wall clock cannot stall or rush the entries.
struct timeval monotonic_now() {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    struct timeval tv;
    tv.tv_sec = ts.tv_sec;
    tv.tv_usec = ts.tv_nsec / 1000;
    return tv;
}

struct timeval normalise(long long sec, long long usec) {
    sec += usec / kUsPerSec;
    usec %= kUsPerSec;
    if (usec < 0) {
        usec += kUsPerSec;
        sec -= 1;
    }
    struct timeval tv;
    tv.tv_sec = static_cast<time_t>(sec);
    tv.tv_usec = static_cast<suseconds_t>(usec);
    return tv;
}

void free_entries(timer_handle* h) {
    list_head *pos, *n;
    list_for_each_safe(pos, n, &h->handler_list) {
        list_del(pos);
        free(list_entry(pos, timer_handler_entry, node));
    }
}

void release_handle(timer_handle* h) {
    free_entries(h);
    os_mutex_deinit(&h->mutex);
    delete h;
}

// One pass over the entries. The mutex is held for the walk but released
// around each callback, so callbacks (and other threads) may add or delete
// entries; deletions during the pass only mark, and the pass reaps them.
void run_pass(timer_handle* h) {
    os_mutex_lock(&h->mutex);
    h->walking = true;
    // Entries added during the pass wait for the next one, so a callback that
    // adds entries cannot keep the pass going forever.
    list_head* last = h->handler_list.prev;
    for (list_head* pos = h->handler_list.next; pos != &h->handler_list; pos = pos->next) {
        auto* e = list_entry(pos, timer_handler_entry, node);
        if (!e->deleted) {
            if (!e->cb) {
                LOGE(TAG, "handler null");
            } else {
                struct timeval now = monotonic_now();
                if (timercmp(&now, &e->expire_time, >)) {
                    e->expire_time = qb::timer_next_due(now, e->expire_time, e->interval);
                    Timer_Callback cb = e->cb;
                    void* arg = e->arg;
                    os_mutex_unlock(&h->mutex);
                    cb(h, e->name, arg);  // e stays linked until the pass ends
                    os_mutex_lock(&h->mutex);
                }
            }
        }
        if (pos == last || h->running.load() == 0) break;
    }
    h->walking = false;
    list_head *pos, *n;
    list_for_each_safe(pos, n, &h->handler_list) {
        auto* e = list_entry(pos, timer_handler_entry, node);
        if (e->deleted) {
            list_del(pos);
            free(e);
        }
    }
    os_mutex_unlock(&h->mutex);
}
}  // namespace

namespace qb {

int (*timer_start_thread)(os_thread_function func, char* name, void* arg) = os_start_thread;

struct timeval timer_next_due(const struct timeval& now, const struct timeval& due, int interval_ms) {
    // Lateness counts at most about one second, as the period rule intends.
    long long late = static_cast<long long>(now.tv_usec) - due.tv_usec;
    if (now.tv_sec > due.tv_sec) late += kUsPerSec;
    long long usec = static_cast<long long>(now.tv_usec) + static_cast<long long>(interval_ms) * 1000 - late;
    return normalise(now.tv_sec, usec);
}

}  // namespace qb

extern "C" {

QB_API Timer_Handle sdk_timer_init(void) {
    auto* h = new (std::nothrow) timer_handle;
    if (!h) return nullptr;
    os_mutex_init(&h->mutex);
    INIT_LIST_HEAD(&h->handler_list);
    // Running before the thread exists: a stop issued at once is then never
    // overwritten by the thread's start.
    h->running.store(1);
    if (qb::timer_start_thread(sdk_timer_thread, const_cast<char*>("timer_thread"), h) != 0) {
        h->running.store(-1);  // nothing to wait for at stop
    }
    return h;
}

QB_API int sdk_timer_add_handler(Timer_Handle hdl, char* name, int interval, Timer_Callback cb, void* arg) {
    if (!hdl) {
        LOGE(TAG, "Null handle");
        return -1;
    }
    auto* e = static_cast<timer_handler_entry*>(os_zalloc(sizeof(timer_handler_entry)));
    if (!e) return -1;
    e->interval = interval;
    e->counter = interval;
    // Longer names are cut, never copied past the field.
    snprintf(e->name, sizeof e->name, "%s", name ? name : "");
    e->cb = cb;
    e->arg = arg;
    struct timeval now = monotonic_now();
    e->expire_time = normalise(now.tv_sec, static_cast<long long>(now.tv_usec) + static_cast<long long>(interval) * 1000);
    os_mutex_lock(&hdl->mutex);
    list_add_tail(&e->node, &hdl->handler_list);
    os_mutex_unlock(&hdl->mutex);
    return 0;
}

QB_API int sdk_timer_del_handler(Timer_Handle hdl, Timer_Callback cb) {
    if (!hdl) {
        LOGE(TAG, "Null handle");
        return -1;
    }
    os_mutex_lock(&hdl->mutex);
    list_head *pos, *n;
    list_for_each_safe(pos, n, &hdl->handler_list) {
        auto* e = list_entry(pos, timer_handler_entry, node);
        if (e->cb != cb) continue;
        if (hdl->walking) {
            e->deleted = true;
        } else {
            list_del(pos);
            free(e);
        }
    }
    os_mutex_unlock(&hdl->mutex);
    return 0;
}

QB_API int sdk_timer_stop(Timer_Handle hdl) {
    if (!hdl) {
        LOGE(TAG, "Null handle");
        return -1;
    }
    if (tl_current_timer == hdl) {
        // Called from one of its own callbacks: the thread frees the handle
        // after the callback returns.
        hdl->release_on_exit.store(true);
        hdl->running.store(0);
        return 0;
    }
    int expected = 1;
    if (hdl->running.compare_exchange_strong(expected, 0)) {
        while (hdl->running.load() != -1) os_msleep(1);
    }
    release_handle(hdl);
    return 0;
}

QB_API void* sdk_timer_thread(void* arg) {
    auto* h = static_cast<timer_handle*>(arg);
    LOGD(TAG, "Timer action loop start");
    tl_current_timer = h;
    while (h->running.load() != 0) {
        run_pass(h);
        os_msleep(1);
    }
    tl_current_timer = nullptr;
    if (h->release_on_exit.load()) {
        release_handle(h);
    } else {
        // The last touch of the handle: sdk_timer_stop frees it once it sees -1.
        h->running.store(-1);
    }
    return nullptr;
}

}  // extern "C"
