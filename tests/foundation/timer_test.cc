#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "foundation/timer_internal.h"
#include "sdk_logger.h"

namespace {
using Clock = std::chrono::steady_clock;

long ms_since(Clock::time_point t) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count();
}
void sleep_ms(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }
template <class Pred>
bool wait_until(Pred pred, int timeout_ms = 2000) {
    auto start = Clock::now();
    while (!pred()) {
        if (ms_since(start) > timeout_ms) return false;
        sleep_ms(2);
    }
    return true;
}

struct Probe {
    std::atomic<int> calls{0};
    std::atomic<long> first_ms{-1};
    std::atomic<int> last_interval{-99};
    Clock::time_point start = Clock::now();
    std::atomic<Timer_Handle> hdl{nullptr};
};

void count_cb(Timer_Handle hdl, char* name, void* arg) {
    auto* p = static_cast<Probe*>(arg);
    if (p->calls++ == 0) p->first_ms = ms_since(p->start);
    p->hdl = hdl;
}
void other_cb(Timer_Handle, char*, void* arg) { static_cast<Probe*>(arg)->calls++; }
void slow_cb(Timer_Handle, char*, void*) { sleep_ms(3); }

std::vector<std::string> entry_names(Timer_Handle h) {
    std::vector<std::string> names;
    os_mutex_lock(&h->mutex);
    list_head* pos;
    list_for_each(pos, &h->handler_list) names.push_back(list_entry(pos, timer_handler_entry, node)->name);
    os_mutex_unlock(&h->mutex);
    return names;
}

TEST(PollingTimer, FiresAboutEveryIntervalEvenWithSlowPasses) {
    for (bool busy : {false, true}) {
        Timer_Handle h = sdk_timer_init();
        if (busy) {
            ASSERT_EQ(0, sdk_timer_add_handler(h, (char*)"slow", 5, slow_cb, nullptr));
        }
        Probe p;
        ASSERT_EQ(0, sdk_timer_add_handler(h, (char*)"tick", 100, count_cb, &p));
        sleep_ms(1050);
        EXPECT_GE(p.calls.load(), 8) << "busy=" << busy;
        EXPECT_LE(p.calls.load(), 12) << "busy=" << busy;
        EXPECT_GE(p.first_ms.load(), 95);
        EXPECT_LT(p.first_ms.load(), 400);
        EXPECT_EQ(h, p.hdl.load());
        EXPECT_EQ(0, sdk_timer_stop(h));
    }
}

TEST(PollingTimer, NextDueKeepsThePeriodAndIsNormalised) {
    auto due = [](long ns, long nu, long ds, long du, int ms) {
        timeval r = qb::timer_next_due({ns, nu}, {ds, du}, ms);
        return std::to_string(r.tv_sec) + "." + std::to_string(r.tv_usec);
    };
    EXPECT_EQ("5.100100", due(5, 200, 5, 100, 100));       // lateness taken off the period
    EXPECT_EQ("6.99950", due(6, 50, 5, 999950, 100));      // late across a second boundary
    EXPECT_EQ("9.900000", due(10, 100, 9, 900000, 0));     // negative microseconds borrowed
    EXPECT_EQ("3.499999", due(1, 0, 0, 999999, 2500));     // carries whole seconds
}

TEST(PollingTimer, DeleteRemovesEveryEntryWithThatCallbackAndNamesAreBounded) {
    Timer_Handle h = sdk_timer_init();
    Probe a, b;
    std::string long_name(300, 'x');
    ASSERT_EQ(0, sdk_timer_add_handler(h, long_name.data(), 10, count_cb, &a));
    ASSERT_EQ(0, sdk_timer_add_handler(h, nullptr, 10, count_cb, &a));
    ASSERT_EQ(0, sdk_timer_add_handler(h, (char*)"b", 10, other_cb, &b));
    ASSERT_TRUE(wait_until([&] { return a.calls >= 4 && b.calls > 0; }));
    EXPECT_EQ((std::vector<std::string>{long_name.substr(0, 127), "", "b"}), entry_names(h));
    EXPECT_EQ(0, sdk_timer_del_handler(h, count_cb));
    EXPECT_EQ(std::vector<std::string>{"b"}, entry_names(h));
    int a_calls = a.calls, b_calls = b.calls;
    sleep_ms(100);
    EXPECT_EQ(a_calls, a.calls.load());
    EXPECT_GT(b.calls.load(), b_calls);
    EXPECT_EQ(0, sdk_timer_stop(h));
}

TEST(PollingTimer, NullHandleAndNullCallback) {
    testing::internal::CaptureStdout();
    EXPECT_EQ(-1, sdk_timer_add_handler(nullptr, (char*)"x", 10, count_cb, nullptr));
    EXPECT_EQ(-1, sdk_timer_del_handler(nullptr, count_cb));
    EXPECT_EQ(-1, sdk_timer_stop(nullptr));
    Timer_Handle h = sdk_timer_init();
    Probe p;
    ASSERT_EQ(0, sdk_timer_add_handler(h, (char*)"none", 0, nullptr, nullptr));
    ASSERT_EQ(0, sdk_timer_add_handler(h, (char*)"p", 5, count_cb, &p));
    EXPECT_TRUE(wait_until([&] { return p.calls > 2; }));  // a null entry does not block the others
    EXPECT_EQ(0, sdk_timer_del_handler(h, nullptr));
    EXPECT_EQ(std::vector<std::string>{"p"}, entry_names(h));
    EXPECT_EQ(0, sdk_timer_stop(h));
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(std::string::npos, out.find("Null handle\n"));
    EXPECT_NE(std::string::npos, out.find("handler null\n"));
    EXPECT_NE(std::string::npos, out.find("Timer action loop start\n"));
}

TEST(PollingTimer, StopNeverHangs) {
    auto start = Clock::now();
    for (int i = 0; i < 50; i++) EXPECT_EQ(0, sdk_timer_stop(sdk_timer_init()));
    EXPECT_LT(ms_since(start), 5000);
    // A thread that cannot start leaves nothing to wait for.
    auto saved = qb::timer_start_thread;
    qb::timer_start_thread = [](os_thread_function, char*, void*) { return -1; };
    Timer_Handle h = sdk_timer_init();
    qb::timer_start_thread = saved;
    ASSERT_NE(nullptr, h);
    EXPECT_EQ(-1, h->running.load());
    EXPECT_EQ(0, sdk_timer_add_handler(h, (char*)"x", 1, count_cb, nullptr));
    EXPECT_EQ(0, sdk_timer_stop(h));
}

// Callbacks editing their own timer: each probe counts its calls.
struct Editor {
    Timer_Handle h;
    Probe self, later, child;
    std::atomic<int> later_at_delete{-1};
};
void later_cb(Timer_Handle, char*, void* arg) { static_cast<Editor*>(arg)->later.calls++; }
void child_cb(Timer_Handle, char*, void* arg) { static_cast<Editor*>(arg)->child.calls++; }
void editing_cb(Timer_Handle h, char*, void* arg) {
    auto* e = static_cast<Editor*>(arg);
    e->self.calls++;
    e->later_at_delete = e->later.calls.load();
    sdk_timer_del_handler(h, later_cb);   // due later in this same pass
    sdk_timer_del_handler(h, editing_cb); // itself
    sdk_timer_add_handler(h, (char*)"child", 5, child_cb, e);
}

TEST(PollingTimer, CallbacksMayAddAndDeleteOwnEntries) {
    Editor e;
    e.h = sdk_timer_init();
    ASSERT_EQ(0, sdk_timer_add_handler(e.h, (char*)"self", 20, editing_cb, &e));
    ASSERT_EQ(0, sdk_timer_add_handler(e.h, (char*)"later", 20, later_cb, &e));
    ASSERT_TRUE(wait_until([&] { return e.child.calls >= 3; }));
    EXPECT_EQ(1, e.self.calls.load());
    EXPECT_EQ(e.later_at_delete.load(), e.later.calls.load());
    EXPECT_EQ(std::vector<std::string>{"child"}, entry_names(e.h));
    EXPECT_EQ(0, sdk_timer_stop(e.h));
}

void stopping_cb(Timer_Handle h, char*, void* arg) {
    static_cast<Probe*>(arg)->calls++;
    EXPECT_EQ(0, sdk_timer_stop(h));  // the thread frees the handle after this returns
}

TEST(PollingTimer, CallbackMayStopItsOwnTimer) {
    Probe p;
    ASSERT_EQ(0, sdk_timer_add_handler(sdk_timer_init(), (char*)"stop", 5, stopping_cb, &p));
    ASSERT_TRUE(wait_until([&] { return p.calls > 0; }));
    sleep_ms(50);
    EXPECT_EQ(1, p.calls.load());
}

template <int N>
void worker_cb(Timer_Handle, char* name, void* arg) {
    EXPECT_EQ('w', name[0]);  // the entry is still alive when it is called
    static_cast<std::atomic<int>*>(arg)->fetch_add(1);
}

TEST(PollingTimer, ConcurrentAddAndDeleteDuringTheWalk) {
    Timer_Handle h = sdk_timer_init();
    Probe steady;
    ASSERT_EQ(0, sdk_timer_add_handler(h, (char*)"steady", 1, other_cb, &steady));
    std::atomic<int> fired{0};
    Timer_Callback cbs[] = {worker_cb<0>, worker_cb<1>, worker_cb<2>, worker_cb<3>};
    std::vector<std::thread> threads;
    for (Timer_Callback cb : cbs) {
        threads.emplace_back([&, cb] {
            for (auto start = Clock::now(); ms_since(start) < 300;) {
                for (int i = 0; i < 3; i++) sdk_timer_add_handler(h, (char*)"w", i, cb, &fired);
                std::this_thread::yield();
                sdk_timer_del_handler(h, cb);
            }
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_GT(fired.load(), 0);
    EXPECT_GT(steady.calls.load(), 50);
    EXPECT_EQ(std::vector<std::string>{"steady"}, entry_names(h));
    EXPECT_EQ(0, sdk_timer_stop(h));
}

void action_cb(int interval_ms, void* arg) {
    auto* p = static_cast<Probe*>(arg);
    if (p->calls++ == 0) p->first_ms = ms_since(p->start);
    p->last_interval = interval_ms;
}

TEST(KernelTimer, PeriodicOneShotAndDisarmedActions) {
    Timer2_Handle n = sdk_timer2_init();
    ASSERT_NE(nullptr, n);
    Probe periodic, once, never, never_once;
    Timer2_Action a = sdk_timer2_add_handler(n, 100, action_cb, &periodic);
    Timer2_Action b = sdk_timer2_add_handler_oneshot(n, 0, 50000000, action_cb, &once);
    Timer2_Action c = sdk_timer2_add_handler(n, 0, action_cb, &never);
    Timer2_Action d = sdk_timer2_add_handler_oneshot(n, 0, 0, action_cb, &never_once);
    ASSERT_TRUE(a && b && c && d);
    EXPECT_EQ(4, n->timers.load());
    sleep_ms(1050);
    EXPECT_GE(periodic.calls.load(), 8);
    EXPECT_LE(periodic.calls.load(), 12);
    EXPECT_EQ(100, periodic.last_interval.load());
    EXPECT_EQ(1, once.calls.load());
    EXPECT_GE(once.first_ms.load(), 45);
    EXPECT_EQ(0, once.last_interval.load());
    EXPECT_EQ(0, never.calls.load() + never_once.calls.load());
    EXPECT_EQ(4, n->timers.load());  // the fired one-shot stays registered
    for (Timer2_Action x : {a, b, c, d}) EXPECT_EQ(0, sdk_timer2_del_handler(n, x));
    ASSERT_TRUE(wait_until([&] { return n->timers.load() == 0; }));
    int calls = periodic.calls;
    sleep_ms(250);
    EXPECT_EQ(calls, periodic.calls.load());
    auto start = Clock::now();
    EXPECT_EQ(0, sdk_timer2_deinit(n));
    EXPECT_LT(ms_since(start), 2500);
}

struct SelfDeleting {
    Timer2_Handle n;
    std::atomic<Timer2_Action> action{nullptr};
    std::atomic<int> calls{0};
};
void self_delete_cb(int, void* arg) {
    auto* s = static_cast<SelfDeleting*>(arg);
    s->calls++;
    if (Timer2_Action a = s->action.exchange(nullptr)) sdk_timer2_del_handler(s->n, a);
}
void quiet_cb(int, void* arg) { static_cast<std::atomic<int>*>(arg)->fetch_add(1); }

TEST(KernelTimer, DeleteFromHandlerAndFromOtherThreads) {
    SelfDeleting s;
    s.n = sdk_timer2_init();
    s.action = sdk_timer2_add_handler(s.n, 20, self_delete_cb, &s);
    std::atomic<int> fired{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 3; t++) {
        threads.emplace_back([&] {
            for (int i = 0; i < 40; i++) {
                Timer2_Action a = sdk_timer2_add_handler(s.n, 1 + i % 3, quiet_cb, &fired);
                ASSERT_NE(nullptr, a);
                sleep_ms(i % 4);
                sdk_timer2_del_handler(s.n, a);
            }
        });
    }
    for (auto& t : threads) t.join();
    ASSERT_TRUE(wait_until([&] { return s.n->timers.load() == 0; }));
    EXPECT_EQ(1, s.calls.load());
    EXPECT_GT(fired.load(), 0);
    EXPECT_EQ(0, sdk_timer2_deinit(s.n));
}

TEST(KernelTimer, RefusesNullsAndDescriptorExhaustion) {
    EXPECT_EQ(nullptr, sdk_timer2_add_handler(nullptr, 10, action_cb, nullptr));
    EXPECT_EQ(nullptr, sdk_timer2_add_handler_oneshot(nullptr, 1, 0, action_cb, nullptr));
    EXPECT_EQ(-1, sdk_timer2_del_handler(nullptr, nullptr));
    EXPECT_EQ(-1, sdk_timer2_deinit(nullptr));
    Timer2_Handle n = sdk_timer2_init();
    EXPECT_EQ(-1, sdk_timer2_del_handler(n, nullptr));
    EXPECT_EQ(nullptr, sdk_timer2_add_handler(n, 10, nullptr, nullptr));
    EXPECT_EQ(nullptr, sdk_timer2_add_handler(n, -5, action_cb, nullptr));
    EXPECT_EQ(nullptr, sdk_timer2_add_handler_oneshot(n, 0, 2000000000L, action_cb, nullptr));
    // No descriptor left: the action is refused, not returned with fd -1.
    rlimit saved;
    ASSERT_EQ(0, getrlimit(RLIMIT_NOFILE, &saved));
    rlimit low = saved;
    low.rlim_cur = 64;
    ASSERT_EQ(0, setrlimit(RLIMIT_NOFILE, &low));
    std::vector<int> fds;
    for (int fd; (fd = open("/dev/null", O_RDONLY)) >= 0;) fds.push_back(fd);
    Timer2_Action a = sdk_timer2_add_handler(n, 10, action_cb, nullptr);
    for (int fd : fds) close(fd);
    setrlimit(RLIMIT_NOFILE, &saved);
    EXPECT_EQ(nullptr, a);
    EXPECT_EQ(0, n->timers.load());
    EXPECT_EQ(0, sdk_timer2_deinit(n));
}

TEST(KernelTimer, DeinitWaitsForActionsLeftThenReleasesThem) {
    int saved_level = sdk_get_log_level();
    sdk_set_log_level(SDK_LOG_LEVEL_VERBOSE);
    Timer2_Handle n = sdk_timer2_init();
    Probe p;
    ASSERT_NE(nullptr, sdk_timer2_add_handler(n, 1000, action_cb, &p));
    testing::internal::CaptureStdout();
    auto start = Clock::now();
    EXPECT_EQ(0, sdk_timer2_deinit(n));
    long elapsed = ms_since(start);
    std::string out = testing::internal::GetCapturedStdout();
    sdk_set_log_level(saved_level);
    EXPECT_GE(elapsed, 9500);
    EXPECT_LT(elapsed, 16000);
    EXPECT_NE(std::string::npos, out.find("need delete all timers, current left=1\n"));
    EXPECT_NE(std::string::npos, out.find("Timer2 Exit\n"));
}

}  // namespace
