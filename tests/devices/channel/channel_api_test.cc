// The sensor channel registry and dispatchers against modules defined here.
#include "sensor_channel_api.h"

#include <functional>
#include <string>
#include <vector>

#include "sensor_channel_api_impl.h"
#include "support/test_support.h"

namespace {
using qbtest::capture_stdout;
using qbtest::mut;

int g_token_a = 1, g_token_b = 2;
std::string g_calls;  // "<slot> <args>" of the last forwarded call

int open_a(void** out, char*) {
    *out = &g_token_a;
    return 0;
}
int open_b(void** out, char*) {
    *out = &g_token_b;
    return 0;
}
int open_nothing(void**, char*) { return 0; }  // claims success, stores no handle

// Records the slot and its integer arguments; the result tells the slot apart.
template <typename... A>
int rec(const char* slot, int result, void* h, A... a) {
    g_calls = slot;
    ((g_calls += " " + std::to_string(a)), ...);
    return h == &g_token_a ? result : -100;
}

sca_impl_t full_impl() {
    sca_impl_t t{};
    t.name = "Full";
    t.open = open_a;
    t.close = [](void* h) { return rec("close", 0, h); };
    t.gpio_init = [](void* h, int p, int m) { return rec("gpio_init", 3, h, p, m); };
    t.gpio_write = [](void* h, int p, int v) { return rec("gpio_write", 4, h, p, v); };
    t.gpio_read = [](void* h, int p, int* v) { *v = 77; return rec("gpio_read", 5, h, p); };
    t.gpio_register_cb = [](void* h, gpio_callback_func) { return rec("gpio_register_cb", 6, h); };
    t.analog_init = [](void* h, int p, int m) { return rec("analog_init", 7, h, p, m); };
    t.analog_write = [](void* h, int p, int v) { return rec("analog_write", 8, h, p, v); };
    t.analog_read = [](void* h, int p, int*) { return rec("analog_read", 9, h, p); };
    t.pwm_init = [](void* h, int p, int f) { return rec("pwm_init", 10, h, p, f); };
    t.pwm_write = [](void* h, int p, int d) { return rec("pwm_write", 11, h, p, d); };
    t.servo_init = [](void* h, int p) { return rec("servo_init", 12, h, p); };
    t.servo_write = [](void* h, int p, int a) { return rec("servo_write", 13, h, p, a); };
    t.uart_open = [](void* h, int u, int b) { return rec("uart_open", 14, h, u, b); };
    t.uart_close = [](void* h, int u) { return rec("uart_close", 15, h, u); };
    t.uart_write = [](void* h, int u, char*, int n) { return rec("uart_write", 16, h, u, n); };
    t.uart_read = [](void* h, int u, char*, int n) { return rec("uart_read", 17, h, u, n); };
    t.uart_register_cb = [](void* h, int u, uart_callback_func) { return rec("uart_register_cb", 18, h, u); };
    t.i2c_init = [](void* h, int c, int d, int w) { return rec("i2c_init", 19, h, c, d, w); };
    t.i2c_write = [](void* h, int a, char*, int n) { return rec("i2c_write", 20, h, a, n); };
    t.i2c_read_register = [](void* h, int a, int r, char*, int n) { return rec("i2c_read_register", 21, h, a, r, n); };
    t.i2c_write_register = [](void* h, int a, int r, char*, int n) {
        return rec("i2c_write_register", 22, h, a, r, n);
    };
    t.i2c_read = [](void* h, int a, char*, int n) { return rec("i2c_read", 23, h, a, n); };
    t.i2c_ping = [](void* h, int a) { return rec("i2c_ping", 24, h, a); };
    t.spi_init = [](void* h, int i, int f, int p, int c) { return rec("spi_init", 25, h, i, f, p, c); };
    t.spi_write = [](void* h, char*, int n) { return rec("spi_write", 26, h, n); };
    t.spi_read = [](void* h, char*, int n) { return rec("spi_read", 27, h, n); };
    t.spi_enable_chip = [](void* h, int e) { return rec("spi_enable_chip", 28, h, e); };
    t.spi_write_read = [](void* h, char*, int a, char*, int b) { return rec("spi_write_read", 29, h, a, b); };
    t.poll = [](void* h) { return rec("poll", 30, h); };
    return t;
}

sca_impl_t bare(const char* name, int (*open)(void**, char*), int (*close)(void*) = nullptr) {
    sca_impl_t t{};
    t.name = name;
    t.open = open;
    t.close = close;
    return t;
}

sca_impl_t g_full = full_impl();
sca_impl_t g_shadow = bare("Full", open_b);
sca_impl_t g_empty = bare("Empty", open_a);
sca_impl_t g_broken = bare("Broken", open_nothing);
sca_impl_t g_stubborn = bare("Stubborn", open_a, [](void*) { return -7; });

struct Op {
    std::function<int(sca_handle)> call;
    std::string expect_calls;     // what the recording module sees
    std::string not_supported;    // what a module without the slot logs
};

char g_buf[4];
void gpio_cb(int, int) {}
int uart_cb(char*, int) { return 0; }

const std::vector<Op>& ops() {
    static const std::vector<Op> v = {
        {[](sca_handle h) { return sca_gpio_init(h, 3, 1); }, "gpio_init 3 1", "does not suooprt gpio_init"},
        {[](sca_handle h) { return sca_gpio_write(h, 4, 1); }, "gpio_write 4 1", "does not suooprt gpio_write"},
        {[](sca_handle h) { int v; return sca_gpio_read(h, 5, &v); }, "gpio_read 5", "does not suooprt gpio_read"},
        {[](sca_handle h) { return sca_gpio_register_cb(h, gpio_cb); }, "gpio_register_cb",
         "does not suooprt gpio_register_cb"},
        {[](sca_handle h) { return sca_analog_init(h, 6, 2); }, "analog_init 6 2", "does not suooprt analog_init"},
        {[](sca_handle h) { return sca_analog_write(h, 7, 900); }, "analog_write 7 900",
         "does not suooprt analog_write"},
        {[](sca_handle h) { int v; return sca_analog_read(h, 8, &v); }, "analog_read 8",
         "does not suooprt analog_read"},
        {[](sca_handle h) { return sca_pwm_init(h, 9, 500); }, "pwm_init 9 500", "does not support pwm_init"},
        {[](sca_handle h) { return sca_pwm_write(h, 10, 128); }, "pwm_write 10 128", "does not support pwm_write"},
        {[](sca_handle h) { return sca_servo_init(h, 11); }, "servo_init 11", "does not support servo_init"},
        {[](sca_handle h) { return sca_servo_write(h, 12, 90); }, "servo_write 12 90", "does not support servo_write"},
        {[](sca_handle h) { return sca_uart_open(h, 1, 9600); }, "uart_open 1 9600", "does not support uart_open"},
        {[](sca_handle h) { return sca_uart_close(h, 2); }, "uart_close 2", "does not support uart_close"},
        {[](sca_handle h) { return sca_uart_write(h, 3, g_buf, 4); }, "uart_write 3 4", "does not support uart_write"},
        {[](sca_handle h) { return sca_uart_read(h, 1, g_buf, 2); }, "uart_read 1 2", "does not support uart_read"},
        {[](sca_handle h) { return sca_uart_register_cb(h, 0, uart_cb); }, "uart_register_cb 0",
         "does not support uart_register_cb"},
        {[](sca_handle h) { return sca_i2c_init(h, 5, 4, 100); }, "i2c_init 5 4 100", "does not support i2c_init"},
        {[](sca_handle h) { return sca_i2c_write(h, 0x3C, g_buf, 3); }, "i2c_write 60 3", "does not support i2c_write"},
        {[](sca_handle h) { return sca_i2c_read_register(h, 0x68, 0x75, g_buf, 1); }, "i2c_read_register 104 117 1",
         "does not support i2c_read_register"},
        {[](sca_handle h) { return sca_i2c_write_register(h, 0x68, 0x6B, g_buf, 2); }, "i2c_write_register 104 107 2",
         "does not support i2c_write_register"},
        {[](sca_handle h) { return sca_i2c_read(h, 0x50, g_buf, 4); }, "i2c_read 80 4", "does not support i2c_read"},
        {[](sca_handle h) { return sca_i2c_ping(h, 0x51); }, "i2c_ping 81", "does not support i2c_ping"},
        {[](sca_handle h) { return sca_spi_init(h, 0, 1000000, 1, 0); }, "spi_init 0 1000000 1 0",
         "does not support spi_init"},
        {[](sca_handle h) { return sca_spi_write(h, g_buf, 4); }, "spi_write 4", "does not support spi_write"},
        {[](sca_handle h) { return sca_spi_read(h, g_buf, 3); }, "spi_read 3", "does not support spi_read"},
        {[](sca_handle h) { return sca_spi_enable_chip(h, 1); }, "spi_enable_chip 1", "does not support enable_chip"},
        {[](sca_handle h) { return sca_spi_write_read(h, g_buf, 2, g_buf, 3); }, "spi_write_read 2 3",
         "does not support spi_write_read"},
        {[](sca_handle h) { return sca_poll(h); }, "poll", "does not support pool"},
        {[](sca_handle h) { return sca_close(h); }, "close", "does not suooprt close"},
    };
    return v;
}

class SensorChannelApi : public testing::Test {
protected:
    static void SetUpTestSuite() {
        Sensor_Channel_module_Init();
        for (auto* t : {&g_full, &g_shadow, &g_empty, &g_broken, &g_stubborn}) Sensor_Channel_module_register(t);
    }
};

TEST_F(SensorChannelApi, OpenMatchesTheExactNameOfTheFirstRegistration) {
    sca_handle h = sca_open(mut("Full"), nullptr);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(h->handle, &g_token_a);  // not the second "Full"
    EXPECT_EQ(h->impl, &g_full);
    EXPECT_EQ(sca_close(h), 0);

    sca_handle none = nullptr;
    std::string out = capture_stdout([&] { none = sca_open(mut("full"), nullptr); });
    EXPECT_EQ(none, nullptr);
    EXPECT_NE(out.find("module full not found\n"), std::string::npos) << out;

    out = capture_stdout([&] { none = sca_open(mut("Broken"), nullptr); });
    EXPECT_EQ(none, nullptr);
    EXPECT_NE(out.find("module Broken init failed\n"), std::string::npos) << out;

    EXPECT_EQ(sca_open(nullptr, nullptr), nullptr);
}

TEST_F(SensorChannelApi, OperationsReachTheirOwnSlotWithArgumentsAndResultUnchanged) {
    for (size_t i = 0; i < ops().size(); ++i) {
        sca_handle h = sca_open(mut("Full"), nullptr);
        ASSERT_NE(h, nullptr);
        g_calls.clear();
        const int rc = ops()[i].call(h);
        EXPECT_EQ(g_calls, ops()[i].expect_calls);
        const int expected = ops()[i].expect_calls == "close" ? 0 : static_cast<int>(i) + 3;
        EXPECT_EQ(rc, expected) << ops()[i].expect_calls;
        if (ops()[i].expect_calls != "close") sca_close(h);
    }
    sca_handle h = sca_open(mut("Full"), nullptr);
    int v = 0;
    sca_gpio_read(h, 1, &v);
    EXPECT_EQ(v, 77);
    sca_close(h);
}

TEST_F(SensorChannelApi, MissingSlotsAndNullHandlesAreRefusedWithTheirLines) {
    sca_handle h = sca_open(mut("Empty"), nullptr);
    ASSERT_NE(h, nullptr);
    for (const Op& op : ops()) {
        int rc = 0;
        std::string out = capture_stdout([&] { rc = op.call(h); });
        EXPECT_EQ(rc, -1);
        EXPECT_NE(out.find("[E]"), std::string::npos) << out;
        EXPECT_NE(out.find("module Empty " + op.not_supported + "\n"), std::string::npos) << out;

        out = capture_stdout([&] { rc = op.call(nullptr); });
        EXPECT_EQ(rc, -1);
        EXPECT_NE(out.find("Null handle\n"), std::string::npos) << out;
    }
    // sca_close failed above, so the record is still the caller's; free it as the module never will.
    free(h);
}

TEST_F(SensorChannelApi, ArgumentChecksComeBeforeTheSlot) {
    sca_handle empty = sca_open(mut("Empty"), nullptr);
    sca_handle full = sca_open(mut("Full"), nullptr);
    for (int bad : {2, -1}) {
        g_calls.clear();
        std::string out = capture_stdout([&] {
            EXPECT_EQ(sca_gpio_write(empty, 1, bad), -1);
            EXPECT_EQ(sca_gpio_write(full, 1, bad), -1);
        });
        EXPECT_EQ(qbtest::count_of(out, "Bad value for GPIO\n"), 2) << out;
        EXPECT_EQ(out.find("does not"), std::string::npos) << out;
        EXPECT_TRUE(g_calls.empty());
    }
    std::string out = capture_stdout([&] { EXPECT_EQ(sca_gpio_register_cb(full, nullptr), -1); });
    EXPECT_NE(out.find("Null callback\n"), std::string::npos) << out;
    EXPECT_TRUE(g_calls.empty());
    EXPECT_EQ(sca_close(full), 0);
    free(empty);
}

TEST_F(SensorChannelApi, CloseKeepsTheChannelWhenTheModuleRefuses) {
    sca_handle h = sca_open(mut("Stubborn"), nullptr);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(sca_close(h), -7);
    EXPECT_EQ(h->handle, &g_token_a);  // still readable: not released
    free(h);
}

}  // namespace
