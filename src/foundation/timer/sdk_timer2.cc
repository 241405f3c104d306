#include <sys/epoll.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <new>

#include "foundation/timer/timer_internal.h"
#include "sdk_logger.h"
#include "sdk_os.h"
#include "sdk_timer2.h"

namespace {
constexpr const char* TAG = "SDK_TIMER2";
constexpr int kWaitMs = 1000;
constexpr int kDeinitWaitMs = 10000;
constexpr int kDeinitStepMs = 10;

// Relative times on CLOCK_MONOTONIC: the period is independent of wall-clock
// steps without relying on how the kernel treats relative realtime timers.
constexpr clockid_t kTimerClock = CLOCK_MONOTONIC;

bool arm(int tfd, time_t first_sec, long first_nsec, time_t every_sec, long every_nsec) {
    struct itimerspec its{};
    its.it_value.tv_sec = first_sec;
    its.it_value.tv_nsec = first_nsec;
    its.it_interval.tv_sec = every_sec;
    its.it_interval.tv_nsec = every_nsec;
    return timerfd_settime(tfd, 0, &its, nullptr) == 0;
}

void close_action(timed_action* a) {
    arm(a->tfd, 0, 0, 0, 0);
    close(a->tfd);
    delete a;
}

// Only the watcher (or deinit once the watcher has ended) tears actions down.
void teardown(timed_action_notifier* n, timed_action* a) {
    epoll_ctl(n->epfd, EPOLL_CTL_DEL, a->tfd, nullptr);
    {
        std::lock_guard<std::mutex> lock(n->actions_mutex);
        list_del(&a->node);
    }
    close_action(a);
    n->timers.fetch_sub(1);
}

void fire(timed_action* a) {
    uint64_t expirations = 0;
    ssize_t got = read(a->tfd, &expirations, sizeof expirations);
    if (got == static_cast<ssize_t>(sizeof expirations)) {
        // A delete that raced with this wake-up wins: no call after it is seen.
        if (!a->stopped.load()) a->handler(a->interval_ms, a->arg);
    } else if (!(got < 0 && errno == EAGAIN)) {
        // EAGAIN: the timer was re-armed by a delete after the wake-up.
        perror("read() timerfd");
    }
}

// Once the watcher has ended: the actions never deleted, then the notifier.
void release(timed_action_notifier* n) {
    list_head *pos, *tmp;
    list_for_each_safe(pos, tmp, &n->actions) {
        list_del(pos);
        close_action(list_entry(pos, timed_action, node));
        n->timers.fetch_sub(1);
    }
    close(n->epfd);
    delete n;
    LOGV(TAG, "Timer2 Exit");
}

void* watcher(void* arg) {
    auto* n = static_cast<timed_action_notifier*>(arg);
    auto* events = static_cast<struct epoll_event*>(calloc(MAX_TIMED_ACTIONS, sizeof(struct epoll_event)));
    if (!events) {
        LOGE(TAG, "Errno=%d", ENOMEM);
        n->thread_exit.store(1);
        return nullptr;
    }
    while (n->thread_running.load() != 0) {
        int ready = epoll_wait(n->epfd, events, MAX_TIMED_ACTIONS, kWaitMs);
        if (ready < 0) {
            if (errno != EINTR) LOGE(TAG, "Errno=%d", errno);
            continue;
        }
        // A handler that deinited the service ends the batch: later actions' arguments may be gone.
        for (int i = 0; i < ready && n->thread_running.load() != 0; i++) {
            auto* a = static_cast<timed_action*>(events[i].data.ptr);
            if (a->stopped.load()) {
                teardown(n, a);
            } else {
                fire(a);
            }
        }
    }
    n->thread_exit.store(1);
    free(events);
    if (n->release_on_exit) release(n);
    return nullptr;
}

Timer2_Action add_action(Timer2_Handle hdl, int interval_ms, time_t first_sec, long first_nsec, time_t every_sec,
                         long every_nsec, timed_action_handler handler, void* arg) {
    if (!hdl) {
        LOGE(TAG, "Null handle");
        return nullptr;
    }
    if (!handler) {
        LOGE(TAG, "handler null");
        return nullptr;
    }
    auto* a = new (std::nothrow) timed_action;
    if (!a) return nullptr;
    a->handler = handler;
    a->arg = arg;
    a->interval_ms = interval_ms;
    a->tfd = timerfd_create(kTimerClock, TFD_NONBLOCK | TFD_CLOEXEC);
    if (a->tfd < 0) {
        LOGE(TAG, "Errno=%d", errno);
        delete a;
        return nullptr;
    }
    struct epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.ptr = a;
    if (epoll_ctl(hdl->epfd, EPOLL_CTL_ADD, a->tfd, &ev) != 0) {
        LOGE(TAG, "Errno=%d", errno);
        close_action(a);
        return nullptr;
    }
    {
        std::lock_guard<std::mutex> lock(hdl->actions_mutex);
        list_add_tail(&a->node, &hdl->actions);
    }
    hdl->timers.fetch_add(1);
    // All zero leaves the timer disarmed: the action never fires.
    if (!arm(a->tfd, first_sec, first_nsec, every_sec, every_nsec)) {
        LOGE(TAG, "Errno=%d", errno);
        // Not yet due, so the watcher cannot hold it: undo here.
        epoll_ctl(hdl->epfd, EPOLL_CTL_DEL, a->tfd, nullptr);
        {
            std::lock_guard<std::mutex> lock(hdl->actions_mutex);
            list_del(&a->node);
        }
        hdl->timers.fetch_sub(1);
        close_action(a);
        return nullptr;
    }
    return a;
}
}  // namespace

extern "C" {

QB_API Timer2_Handle sdk_timer2_init(void) {
    auto* n = new (std::nothrow) timed_action_notifier;
    if (!n) return nullptr;
    INIT_LIST_HEAD(&n->actions);
    n->epfd = epoll_create1(EPOLL_CLOEXEC);
    if (n->epfd < 0) {
        LOGE(TAG, "Errno=%d", errno);
        delete n;
        return nullptr;
    }
    n->thread_running.store(1);
    // Joinable, so deinit knows the watcher is gone before freeing what it uses.
    int rc = pthread_create(&n->th, nullptr, watcher, n);
    if (rc != 0) {
        LOGE(TAG, "Errno=%d", rc);
        close(n->epfd);
        delete n;
        return nullptr;
    }
    pthread_setname_np(n->th, "timer2_watcher");
    return n;
}

QB_API Timer2_Action sdk_timer2_add_handler(Timer2_Handle hdl, int ms, timed_action_handler handler, void* arg) {
    time_t sec = ms / 1000;
    long nsec = static_cast<long>(ms % 1000) * 1000000L;
    return add_action(hdl, ms, sec, nsec, sec, nsec, handler, arg);
}

QB_API Timer2_Action sdk_timer2_add_handler_oneshot(Timer2_Handle hdl, time_t sec, long nsec,
                                                    timed_action_handler handler, void* arg) {
    return add_action(hdl, 0, sec, nsec, 0, 0, handler, arg);
}

QB_API int sdk_timer2_del_handler(Timer2_Handle hdl, Timer2_Action action) {
    if (!hdl || !action) {
        LOGE(TAG, "Null handle");
        return -1;
    }
    // Wake the watcher soon (and again, should it miss one) so it tears the
    // action down. Re-arm first: once stopped is set the watcher may free the
    // action at any moment, so that store is the last touch here.
    arm(action->tfd, 0, 10000000L, 0, 10000000L);
    action->stopped.store(1);
    return 0;
}

QB_API int sdk_timer2_deinit(Timer2_Handle hdl) {
    if (!hdl) {
        LOGE(TAG, "Null handle");
        return -1;
    }
    if (pthread_equal(pthread_self(), hdl->th)) {
        // From a handler: the watcher cannot wait for itself, so it stops
        // once the handler returns and releases everything on its way out.
        hdl->release_on_exit = true;
        hdl->thread_running.store(0);
        pthread_detach(hdl->th);
        return 0;
    }
    for (int waited = 0; waited < kDeinitWaitMs && hdl->timers.load() > 0; waited += kDeinitStepMs) {
        os_msleep(kDeinitStepMs);
    }
    int left = hdl->timers.load();
    if (left > 0) LOGD(TAG, "need delete all timers, current left=%d", left);
    hdl->thread_running.store(0);
    pthread_join(hdl->th, nullptr);
    release(hdl);
    return 0;
}

}  // extern "C"
