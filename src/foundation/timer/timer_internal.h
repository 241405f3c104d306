// Records of the two timer services, shared with the tests.
#pragma once

#include <pthread.h>
#include <sys/time.h>

#include <atomic>
#include <mutex>

#include "sdk_list.h"
#include "sdk_os.h"
#include "sdk_timer.h"
#include "sdk_timer2.h"

struct timer_handle {
    // 1 while the thread runs, 0 asks it to stop, -1 once it has stopped (or never started).
    std::atomic<int> running{0};
    os_mutex mutex;
    list_head handler_list;
    // Guarded by mutex: while a pass is under way deletions only mark entries,
    // so the walk never steps on freed memory.
    bool walking = false;
    // Set when a callback stopped its own timer; the thread then frees the handle.
    std::atomic<bool> release_on_exit{false};
};

struct timer_handler_entry {
    list_head node;
    int interval;
    struct timeval expire_time;  // monotonic clock
    int trigger;
    int counter;
    char name[128];
    Timer_Callback cb;
    void* arg;
    bool deleted;  // guarded by the handle's mutex
};

struct timed_action_notifier {
    int epfd = -1;
    pthread_t th{};
    std::atomic<int> thread_running{0};
    std::atomic<int> thread_exit{0};
    std::atomic<int> timers{0};
    // Set when a handler deinited the service; the watcher then frees the handle.
    bool release_on_exit = false;  // watcher thread only
    // Every live action, so deinit can release the ones never deleted.
    std::mutex actions_mutex;
    list_head actions;
};

struct timed_action {
    int tfd = -1;
    timed_action_handler handler = nullptr;
    void* arg = nullptr;
    std::atomic<int> stopped{0};
    int interval_ms = 0;
    list_head node;  // in the notifier's actions, under actions_mutex
};

namespace qb {

// Next due time of a polling entry that fired at now while due at due.
struct timeval timer_next_due(const struct timeval& now, const struct timeval& due, int interval_ms);

// How the polling timer starts its thread; tests replace it to exercise a failed start.
extern int (*timer_start_thread)(os_thread_function func, char* name, void* arg);

}  // namespace qb
