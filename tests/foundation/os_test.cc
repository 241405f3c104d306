#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <barrier>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "foundation/uuid4_internal.h"
#include "sdk_logger.h"
#include "sdk_os.h"
#include "support/test_support.h"
#include "uuid4.h"

namespace {

using Clock = std::chrono::steady_clock;

long long elapsed_ms(Clock::time_point since) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count();
}

std::atomic<int> g_signals{0};
void count_signal(int) { g_signals.fetch_add(1); }

// Restores the log threshold however a test ends.
struct ScopedLogLevel {
    explicit ScopedLogLevel(int level) : old(sdk_get_log_level()) { sdk_set_log_level(level); }
    ~ScopedLogLevel() { sdk_set_log_level(old); }
    int old;
};

TEST(OsSleep, ZeroReturnsAtOnce) {
    auto start = Clock::now();
    os_msleep(0);
    os_usleep(0);
    os_sleep(0);
    os_usleep(-5);
    EXPECT_LT(elapsed_ms(start), 100);
}

TEST(OsSleep, SignalsDoNotShortenTheSleep) {
    // Without SA_RESTART a plain relative sleep would return early on EINTR.
    struct sigaction sa = {}, old = {};
    sa.sa_handler = count_signal;
    sa.sa_flags = 0;
    sigemptyset(&sa.sa_mask);
    ASSERT_EQ(sigaction(SIGUSR1, &sa, &old), 0);
    g_signals = 0;

    pthread_t sleeper = pthread_self();
    std::atomic<bool> done{false};
    std::thread kicker([&] {
        for (int i = 0; i < 5 && !done; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(40));
            if (!done) pthread_kill(sleeper, SIGUSR1);
        }
    });
    auto start = Clock::now();
    os_msleep(300);
    long long took = elapsed_ms(start);
    done = true;
    kicker.join();
    sigaction(SIGUSR1, &old, nullptr);

    EXPECT_GT(g_signals.load(), 0) << "no signal reached the sleeping thread";
    EXPECT_GE(took, 300);
    EXPECT_LT(took, 5000);
}

TEST(OsSleep, MicrosecondAndSecondUnits) {
    auto start = Clock::now();
    os_usleep(30000);
    EXPECT_GE(elapsed_ms(start), 30);
    start = Clock::now();
    os_sleep(1);
    long long took = elapsed_ms(start);
    EXPECT_GE(took, 1000);
    EXPECT_LT(took, 6000);
}

TEST(OsClock, MonotonicMillisecondsAdvance) {
    unsigned int a = os_time_now_ms();
    os_msleep(20);
    unsigned int b = os_time_now_ms();
    // Differences of unsigned values survive the 32-bit wrap.
    EXPECT_GE(b - a, 20u);
    EXPECT_LT(b - a, 5000u);

    double wall = os_time_now_us();
    EXPECT_NEAR(wall, static_cast<double>(time(nullptr)), 2.0);
}

TEST(OsClock, TimeStampsAreFormattedAndPerThread) {
    std::string stamp = os_get_time_str();
    std::string stamp2 = os_get_time_str2();
    EXPECT_TRUE(std::regex_match(stamp, std::regex(R"(\d{8}_\d{6})"))) << stamp;
    EXPECT_TRUE(std::regex_match(stamp2, std::regex(R"(\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2})"))) << stamp2;
    // The two formats have separate buffers.
    EXPECT_NE(static_cast<void*>(os_get_time_str()), static_cast<void*>(os_get_time_str2()));

    char* mine = os_get_time_str();
    char* theirs = nullptr;
    std::thread([&] { theirs = os_get_time_str(); }).join();
    EXPECT_NE(static_cast<void*>(mine), static_cast<void*>(theirs));
}

TEST(OsTimezone, UnsetGivesFreshDefaultAndSetAppliesAtOnce) {
    qbtest::ScopedEnv tz("TZ", nullptr);
    char* a = os_get_timezone();
    char* b = os_get_timezone();
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_STREQ(a, "UTC+0");
    EXPECT_NE(a, b);
    free(a);
    free(b);

    EXPECT_EQ(os_set_timezone(const_cast<char*>("UTC-3")), 0);
    char* c = os_get_timezone();
    EXPECT_STREQ(c, "UTC-3");
    free(c);
    // tzset() was called: the epoch is 03:00 in UTC-3 (POSIX signs are inverted).
    time_t epoch = 0;
    struct tm tm;
    localtime_r(&epoch, &tm);
    EXPECT_EQ(tm.tm_hour, 3);

    os_set_timezone(const_cast<char*>("UTC+0"));
}

TEST(OsTempDir, FollowsTmpdirEvenWhenEmpty) {
    {
        qbtest::ScopedEnv env("TMPDIR", "");
        EXPECT_STREQ(os_temp_dir(), "");
    }
    {
        qbtest::ScopedEnv env("TMPDIR", "/var/scratch");
        EXPECT_STREQ(os_temp_dir(), "/var/scratch");
    }
    {
        qbtest::ScopedEnv env("TMPDIR", nullptr);
        EXPECT_STREQ(os_temp_dir(), "/tmp");
    }
}

TEST(OsMutex, TryLockFailsWhileAnotherThreadHoldsIt) {
    os_mutex m;
    os_mutex_init(&m);
    std::atomic<bool> held{false}, release{false};
    std::thread holder([&] {
        os_mutex_lock(&m);
        held = true;
        while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        os_mutex_unlock(&m);
    });
    while (!held) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    auto start = Clock::now();
    EXPECT_EQ(os_mutex_try_lock(&m), -1);
    EXPECT_LT(elapsed_ms(start), 1000);
    release = true;
    holder.join();
    EXPECT_EQ(os_mutex_try_lock(&m), 0);
    EXPECT_EQ(os_mutex_unlock(&m), 0);
    os_mutex_deinit(&m);
}

TEST(OsThread, RunsTheFunctionDetachedAndLogsItsName) {
    ScopedLogLevel verbose(SDK_LOG_LEVEL_VERBOSE);
    static std::atomic<int> ran{0};
    static int payload = 42;
    ran = 0;
    auto body = [](void* arg) -> void* {
        ran = *static_cast<int*>(arg);
        return nullptr;
    };
    testing::internal::CaptureStdout();
    int rc = os_start_thread(body, const_cast<char*>("worker"), &payload);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(rc, 0);
    EXPECT_NE(out.find("[V][OS      ]Thread [worker] created successfully\n"), std::string::npos) << out;
    for (int i = 0; i < 5000 && ran == 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_EQ(ran.load(), 42);
}

TEST(ExecCmd, ReturnsZeroWhateverTheStatus) {
    qbtest::TempDir dir;
    std::string touch = "touch " + dir.file("ran") + "; exit 3";
    EXPECT_EQ(exec_cmd(touch.data()), 0);
    EXPECT_EQ(access(dir.file("ran").c_str(), F_OK), 0);
}

TEST(ExecCmdWithResult, CapturesOutputAndStatus) {
    char* empty = exec_cmd_with_result(const_cast<char*>("true"));
    ASSERT_NE(empty, nullptr);
    EXPECT_STREQ(empty, "");

    char* lines = exec_cmd_with_result(const_cast<char*>("printf 'one\\ntwo\\n'"));
    ASSERT_NE(lines, nullptr);
    EXPECT_STREQ(lines, "one\ntwo\n");

    testing::internal::CaptureStdout();
    char* failed = exec_cmd_with_result(const_cast<char*>("echo partial; exit 1"));
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(failed, nullptr);
    EXPECT_NE(out.find("[E][EXEC_CMD]\x1B[31mprogram returns error\n\x1B[0m"), std::string::npos) << out;
}

TEST(ExecCmdWithResult, StopsAfter896CharactersAndKeepsTheStatus) {
    // 5000 characters without a line feed arrive in 127-character pieces:
    // the eighth piece takes the total past 896.
    testing::internal::CaptureStdout();
    char* text = exec_cmd_with_result(const_cast<char*>("head -c 5000 /dev/zero | tr '\\0' 'a'"));
    std::string out = testing::internal::GetCapturedStdout();
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(strlen(text), 8u * 127u);
    EXPECT_EQ(std::string(text), std::string(8 * 127, 'a'));
    EXPECT_NE(out.find("Result too much, end\n"), std::string::npos) << out;

    // A writer that would die of a closed pipe: the rest is drained, so its
    // success still counts.
    testing::internal::CaptureStdout();
    char* seq = exec_cmd_with_result(const_cast<char*>("seq 1 300000"));
    testing::internal::GetCapturedStdout();
    ASSERT_NE(seq, nullptr);
    EXPECT_EQ(std::string(seq).rfind("1\n2\n3\n", 0), 0u);
    EXPECT_GT(strlen(seq), 896u);
    EXPECT_LE(strlen(seq), 1024u);

    testing::internal::CaptureStdout();
    char* long_fail = exec_cmd_with_result(const_cast<char*>("seq 1 3000; exit 1"));
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(long_fail, nullptr);
}

TEST(ExecCmdWithResult, EachThreadHasItsOwnBuffer) {
    std::barrier sync(2);
    std::string seen[2];
    char* ptr[2] = {nullptr, nullptr};
    auto run = [&](int i, const char* cmd) {
        ptr[i] = exec_cmd_with_result(const_cast<char*>(cmd));
        sync.arrive_and_wait();  // both results exist before either is read
        if (ptr[i]) seen[i] = ptr[i];
    };
    std::thread a(run, 0, "echo alpha");
    std::thread b(run, 1, "echo beta");
    a.join();
    b.join();
    EXPECT_NE(ptr[0], ptr[1]);
    EXPECT_EQ(seen[0], "alpha\n");
    EXPECT_EQ(seen[1], "beta\n");
}

const std::regex kUuidShape("[0-9a-f]{12}4[0-9a-f]{3}[89ab][0-9a-f]{15}");

std::string fresh_uuid() {
    char buf[UUID4_LEN];
    memset(buf, 'Z', sizeof buf);
    uuid4_generate(buf);
    return std::string(buf);
}

TEST(Uuid4, FormatAndSuccessiveSeeds) {
    ASSERT_EQ(uuid4_init(), UUID4_ESUCCESS);
    std::string a = fresh_uuid();
    ASSERT_EQ(uuid4_init(), UUID4_ESUCCESS);
    std::string b = fresh_uuid();
    EXPECT_EQ(a.size(), 32u);
    EXPECT_TRUE(std::regex_match(a, kUuidShape)) << a;
    EXPECT_TRUE(std::regex_match(b, kUuidShape)) << b;
    EXPECT_NE(a, b);
}

TEST(Uuid4, KnownStateGivesKnownText) {
    // xorshift128+ from (1, 2) yields 0x800025 then 0x2040083; their bytes are
    // read low nibble first, and the 'y' digit maps 0 to '8'.
    qb::uuid4_set_state(1, 2);
    EXPECT_EQ(fresh_uuid(), "52000800000040008380040200000000");
    EXPECT_EQ(fresh_uuid(), "0642c02000044000812d80120000c000");
    qb::uuid4_set_state(0, 0);
    EXPECT_EQ(fresh_uuid(), "00000000000040008000000000000000");
    uuid4_init();
}

TEST(Uuid4, FailedDeviceStillLeavesAFreshState) {
    qb::uuid4_set_state(0, 0);
    const std::string zero = "00000000000040008000000000000000";

    // Only the clock fallback: reported as failure, but never zero or stale.
    EXPECT_EQ(qb::uuid4_seed("/nonexistent/urandom", false), UUID4_EFAILURE);
    std::string a = fresh_uuid();
    EXPECT_EQ(qb::uuid4_seed("/dev/null", false), UUID4_EFAILURE);  // short read
    std::string b = fresh_uuid();
    EXPECT_NE(a, zero);
    EXPECT_NE(a, b);
    EXPECT_TRUE(std::regex_match(a, kUuidShape)) << a;

    // getrandom() stands in for the device.
    EXPECT_EQ(qb::uuid4_seed("/nonexistent/urandom", true), UUID4_ESUCCESS);
    std::string c = fresh_uuid();
    EXPECT_NE(c, zero);
    EXPECT_NE(c, b);
    uuid4_init();
}

TEST(Uuid4, ConcurrentGenerationGivesNoDuplicates) {
    constexpr int kThreads = 4;
    constexpr int kEach = 2000;
    ASSERT_EQ(uuid4_init(), UUID4_ESUCCESS);
    std::vector<std::vector<std::string>> results(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kEach; ++i) {
                // Re-seeding the way the storage backends do, racing the others.
                if (t == 0 && i % 100 == 0) uuid4_init();
                results[t].push_back(fresh_uuid());
            }
        });
    }
    for (auto& th : threads) th.join();
    std::set<std::string> all;
    for (auto& list : results) {
        for (auto& id : list) {
            ASSERT_TRUE(std::regex_match(id, kUuidShape)) << id;
            all.insert(id);
        }
    }
    EXPECT_EQ(all.size(), static_cast<size_t>(kThreads * kEach));
}

TEST(IpAddr, LoopbackAndUnknownInterfaces) {
    char result[32] = "127.0.0.1 not set";
    ASSERT_EQ(get_ip_addr(const_cast<char*>("lo"), result), 0);
    EXPECT_STREQ(result, "127.0.0.1");

    char unchanged[32] = "sentinel";
    EXPECT_EQ(get_ip_addr(const_cast<char*>("nosuch0"), unchanged), 0);
    EXPECT_STREQ(unchanged, "sentinel");
    // The name is compared exactly, not as a prefix.
    EXPECT_EQ(get_ip_addr(const_cast<char*>("l"), unchanged), 0);
    EXPECT_STREQ(unchanged, "sentinel");
}

// Child of a fork: a private network namespace whose loopback gets 40 alias
// addresses, more records than a 512-byte interface list can hold.
int many_interfaces_child() {
    if (unshare(CLONE_NEWNET) != 0 && unshare(CLONE_NEWUSER | CLONE_NEWNET) != 0) return 77;
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0) return 77;
    for (int i = 0; i < 40; ++i) {
        struct ifreq req = {};
        if (i == 0)
            snprintf(req.ifr_name, IFNAMSIZ, "lo");
        else
            snprintf(req.ifr_name, IFNAMSIZ, "lo:%d", i);
        struct sockaddr_in sin = {};
        sin.sin_family = AF_INET;
        char addr[32];
        snprintf(addr, sizeof addr, "10.1.%d.1", i);
        inet_pton(AF_INET, addr, &sin.sin_addr);
        memcpy(&req.ifr_addr, &sin, sizeof sin);
        if (ioctl(fd, SIOCSIFADDR, &req) != 0) return 77;
    }
    close(fd);
    char result[32] = "";
    if (get_ip_addr(const_cast<char*>("lo:39"), result) != 0) return 1;
    if (strcmp(result, "10.1.39.1") != 0) return 2;
    if (get_ip_addr(const_cast<char*>("lo"), result) != 0 || strcmp(result, "10.1.0.1") != 0) return 3;
    return 0;
}

TEST(IpAddr, FindsTheInterfaceAmongMany) {
    fflush(nullptr);
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) _exit(many_interfaces_child());
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 77) GTEST_SKIP() << "no private network namespace available";
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST(SystemInfo, MatchesProcMeminfo) {
    int total = -1, free_mib = -1, uptime = -1;
    ASSERT_EQ(get_system_info(&total, &free_mib, &uptime), 0);
    EXPECT_GT(total, 0);
    EXPECT_GE(free_mib, 0);
    EXPECT_LE(free_mib, total);
    EXPECT_GE(uptime, 0);

    // /proc/meminfo counts in KiB, independently of the kernel's mem_unit.
    std::ifstream meminfo("/proc/meminfo");
    std::string key;
    long long kib = -1;
    std::string unit;
    while (meminfo >> key) {
        if (key == "MemTotal:") {
            meminfo >> kib >> unit;
            break;
        }
        std::getline(meminfo, unit);
    }
    ASSERT_GT(kib, 0);
    EXPECT_NEAR(total, std::min<long long>(kib >> 10, INT_MAX), 1);

    std::ifstream up("/proc/uptime");
    double seconds = 0;
    up >> seconds;
    EXPECT_NEAR(uptime, static_cast<int>(seconds / 3600), 1);
}

TEST(Backtrace, PrintsFramesBetweenRules) {
    testing::internal::CaptureStdout();
    sdk_backtrace();
    std::string out = testing::internal::GetCapturedStdout();
    std::istringstream in(out);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    ASSERT_GE(lines.size(), 3u) << out;
    const std::string rule(21, '-');
    EXPECT_EQ(lines.front(), rule);
    EXPECT_EQ(lines.back(), rule);
    std::smatch m;
    ASSERT_TRUE(std::regex_match(lines[1], m, std::regex(R"(Obtained (\d+) stack frames\.)"))) << lines[1];
    int frames = std::stoi(m[1]);
    EXPECT_GE(frames, 1);
    EXPECT_LE(frames, 10);  // the test runner's stack is deeper than that
    EXPECT_EQ(lines.size(), static_cast<size_t>(frames) + 3);
}

}  // namespace
