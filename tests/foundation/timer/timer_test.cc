#include <sys/resource.h>

#include <chrono>
#include <thread>

#include "foundation/timer/timer_internal.h"
#include "sdk_logger.h"
#include "support/test_support.h"

namespace {

using namespace qbtest;
using Clock = std::chrono::steady_clock;

long ms_since(Clock::time_point t) { return (Clock::now() - t) / std::chrono::milliseconds(1); }
void sleep_ms(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }
void on_threads(auto fn) { std::jthread a(fn), b(fn), c(fn); }  // all at once

struct Probe {
    std::atomic<int> calls{0}, interval{-1}, name_len{-1}, first_ms{-1};
    Clock::time_point start = Clock::now();
    void hit(const char* name, int ms = -1) {
        name_len = static_cast<int>(std::string(name).size());
        interval = ms;
        if (calls++ == 0) first_ms = ms_since(start);
    }
};
// N tells callbacks apart for sdk_timer_del_handler.
template <int N> void tick(Timer_Handle, char* name, void* arg) { static_cast<Probe*>(arg)->hit(name); }
void action(int ms, void* arg) { static_cast<Probe*>(arg)->hit("", ms); }
void slow(Timer_Handle, char*, void*) { sleep_ms(3); }

// In the second round a 3 ms callback slows every pass; the lateness rule keeps the period.
TEST(PollingTimer, FiresAboutEvery100MsEvenWithSlowPasses) {
    for (bool busy : {false, true}) {
        Timer_Handle h = sdk_timer_init();
        Probe p;
        ASSERT_EQ(sdk_timer_add_handler(h, mut("slow"), busy ? 5 : 1000000, slow, nullptr), 0);
        ASSERT_EQ(sdk_timer_add_handler(h, mut("tick"), 100, tick<0>, &p), 0);
        sleep_ms(1050);
        EXPECT_EQ(sdk_timer_stop(h), 0);
        EXPECT_TRUE(p.calls >= 8 && p.calls <= 12) << p.calls;
        EXPECT_TRUE(p.first_ms >= 95 && p.first_ms < 400) << p.first_ms;
    }
}

// A stop that hangs fails through the test timeout.
TEST(Timers, RefuseNullHandlesAndStopRightAfterInitOrAFailedStart) {
    for (int rc : {sdk_timer_add_handler(nullptr, nullptr, 1, tick<0>, nullptr), sdk_timer_stop(nullptr),
                   sdk_timer_del_handler(nullptr, tick<0>), sdk_timer2_del_handler(nullptr, nullptr),
                   sdk_timer2_deinit(nullptr)})
        EXPECT_EQ(rc, -1);
    for (int i = 0; i < 50; i++) EXPECT_EQ(sdk_timer_stop(sdk_timer_init()), 0);
    auto saved = std::exchange(qb::timer_start_thread, [](os_thread_function, char*, void*) { return -1; });
    Timer_Handle h = sdk_timer_init();
    qb::timer_start_thread = saved;
    EXPECT_EQ(h->running, -1);  // nothing for the stop to wait for
    EXPECT_EQ(sdk_timer_stop(h), 0);
}

// Its first call deletes an entry due later in the same pass and itself, and adds a child.
struct Editor : Probe { Probe later, child; std::atomic<int> later_at_delete{-1}; };
void editing(Timer_Handle h, char* name, void* arg) {
    auto* e = static_cast<Editor*>(arg);
    e->hit(name);
    e->later_at_delete = e->later.calls.load();
    sdk_timer_del_handler(h, tick<1>);
    sdk_timer_del_handler(h, editing);
    sdk_timer_add_handler(h, mut("child"), 5, tick<2>, &e->child);
}
// The thread frees the handle once this returns.
void stopping(Timer_Handle h, char* name, void* arg) { tick<0>(h, name, arg); EXPECT_EQ(sdk_timer_stop(h), 0); }

// Workers add three entries of one callback and delete them all at once, while the walk runs.
TEST(PollingTimer, CallbacksAndOtherThreadsMayAddAndDeleteDuringTheWalk) {
    Timer_Handle h = sdk_timer_init();
    Editor e;
    Probe steady, fired, stopper;
    std::string out = capture_stdout([&] {
        for (int rc : {sdk_timer_add_handler(h, std::string(300, 'x').data(), 1, tick<3>, &steady),
                       sdk_timer_add_handler(h, mut("none"), 0, nullptr, nullptr),
                       sdk_timer_add_handler(h, mut("self"), 20, editing, &e),
                       sdk_timer_add_handler(h, mut("later"), 20, tick<1>, &e.later),
                       sdk_timer_add_handler(sdk_timer_init(), mut("stop"), 5, stopping, &stopper)})
            ASSERT_EQ(rc, 0);
        on_threads([&] {
            for (auto t = Clock::now(); ms_since(t) < 300; std::this_thread::yield(), sdk_timer_del_handler(h, tick<4>))
                for (int i = 0; i < 3; i++) sdk_timer_add_handler(h, nullptr, i, tick<4>, &fired);
        });
        EXPECT_EQ(sdk_timer_del_handler(h, nullptr), 0);  // ends the null entry's log lines
    });
    ASSERT_TRUE(eventually([&] { return e.child.calls >= 3; }));
    const int late = fired.calls;
    sleep_ms(50);
    EXPECT_TRUE(fired.calls > 0 && fired.calls == late && steady.calls > 50) << fired.calls << " " << steady.calls;
    EXPECT_EQ(std::pair(steady.name_len.load(), fired.name_len.load()), std::pair(127, 0));
    EXPECT_EQ(std::tuple(e.calls.load(), e.later.calls.load(), stopper.calls.load()),
              std::tuple(1, e.later_at_delete.load(), 1));
    EXPECT_GT(count_of(out, "handler null\n"), 0);  // and the walk went on past it
    EXPECT_EQ(sdk_timer_stop(h), 0);
}

// Deletes its own action on its first call.
struct SelfDeleting : Probe { Timer2_Handle n; std::atomic<Timer2_Action> action{nullptr}; };
void self_delete(int ms, void* arg) {
    auto* s = static_cast<SelfDeleting*>(arg);
    s->hit("", ms);
    if (Timer2_Action a = s->action.exchange(nullptr)) sdk_timer2_del_handler(s->n, a);
}

TEST(KernelTimer, PeriodicOneShotDisarmedAndDeletedActions) {
    Timer2_Handle n = sdk_timer2_init();
    Probe periodic, once, never, fired;
    SelfDeleting s{{}, n};
    s.action = sdk_timer2_add_handler(n, 20, self_delete, &s);
    Timer2_Action actions[] = {sdk_timer2_add_handler(n, 100, action, &periodic),
                               sdk_timer2_add_handler_oneshot(n, 0, 50000000, action, &once),
                               sdk_timer2_add_handler(n, 0, action, &never),
                               sdk_timer2_add_handler_oneshot(n, 0, 0, action, &never)};
    for (Timer2_Action a : actions) ASSERT_NE(a, nullptr);
    on_threads([&] {  // meanwhile other threads add and delete actions
        for (int i = 0; ms_since(periodic.start) < 1050; i++) {
            Timer2_Action a = sdk_timer2_add_handler(n, 1 + i % 3, action, &fired);
            sleep_ms(i % 4);
            sdk_timer2_del_handler(n, a);
        }
    });
    ASSERT_TRUE(eventually([&] { return n->timers == 4; }));  // the fired one-shot stays registered
    EXPECT_TRUE(periodic.calls >= 8 && periodic.calls <= 12 && periodic.interval == 100) << periodic.calls;
    EXPECT_TRUE(once.calls == 1 && once.first_ms >= 45 && once.interval == 0) << once.first_ms;
    EXPECT_EQ(std::tuple(never.calls.load(), s.calls.load(), fired.calls > 0), std::tuple(0, 1, true));
    for (Timer2_Action a : actions) EXPECT_EQ(sdk_timer2_del_handler(n, a), 0);
    ASSERT_TRUE(eventually([&] { return n->timers == 0; }));
    EXPECT_EQ(sdk_timer2_deinit(n), 0);
}

// A handler deinits its own service: no waiting for the actions left (the handler's own among them), no
// further handler call, and the watcher releases everything once the handler has returned.
struct Deiniting : Probe { Timer2_Handle n; std::atomic<int> rc{1}; };
void deinit_self(int ms, void* arg) {
    auto* d = static_cast<Deiniting*>(arg);
    d->hit("", ms);
    if (d->calls == 1) d->rc = sdk_timer2_deinit(d->n);
}

TEST(KernelTimer, DeinitFromAHandlerReturnsAtOnceAndEndsTheService) {
    Deiniting d;
    d.n = sdk_timer2_init();
    Probe other;
    ASSERT_NE(sdk_timer2_add_handler(d.n, 5, deinit_self, &d), nullptr);
    ASSERT_NE(sdk_timer2_add_handler(d.n, 5, action, &other), nullptr);
    std::string out = capture_stdout([&] { ASSERT_TRUE(eventually([&] { return d.rc != 1; })); sleep_ms(100); });
    EXPECT_EQ(std::pair(d.rc.load(), d.calls.load()), std::pair(0, 1));
    const int others = other.calls;
    sleep_ms(50);
    EXPECT_EQ(other.calls, others);
    EXPECT_EQ(count_of(out, "need delete all timers"), 0) << out;
}

// The one slow test: deinit waits about ten seconds for the action left.
TEST(KernelTimer, RefusesNullsAndExhaustionAndDeinitWaitsForActionsLeft) {
    Timer2_Handle n = sdk_timer2_init();
    EXPECT_EQ(sdk_timer2_del_handler(n, nullptr), -1);
    for (Timer2_Action a : {sdk_timer2_add_handler(nullptr, 10, action, nullptr),
                            sdk_timer2_add_handler_oneshot(nullptr, 1, 0, action, nullptr),
                            sdk_timer2_add_handler(n, 10, nullptr, nullptr),
                            sdk_timer2_add_handler(n, -5, action, nullptr),
                            sdk_timer2_add_handler_oneshot(n, 0, 2000000000L, action, nullptr)})
        EXPECT_EQ(a, nullptr);
    // With no descriptor left the action is refused, not returned with fd -1.
    rlimit saved;
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
    const rlimit none{0, saved.rlim_max};
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &none), 0);
    EXPECT_EQ(sdk_timer2_add_handler(n, 10, action, nullptr), nullptr);
    setrlimit(RLIMIT_NOFILE, &saved);
    EXPECT_EQ(n->timers, 0);

    ASSERT_NE(sdk_timer2_add_handler(n, 1000, [](int, void*) {}, nullptr), nullptr);
    const auto start = Clock::now();
    std::string out = capture_stdout([&] { EXPECT_EQ(sdk_timer2_deinit(n), 0); });
    EXPECT_GE(ms_since(start), 9500);  // waits ten seconds for the action left; no upper bound on a loaded machine
    EXPECT_EQ(count_of(out, "need delete all timers, current left=1\n"), 1);
}

}  // namespace
