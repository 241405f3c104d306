// The "Firmata" sensor channel end to end, against tools/firmata-sim.
#include "channel_firmata.h"

#include <dirent.h>

#include <mutex>
#include <string>

#include "sensor_channel_api.h"
#include "support/firmata_sim.h"
#include "support/pty_pair.h"
#include "support/test_support.h"

namespace {
using qbtest::capture_stdout;
using qbtest::FirmataSim;
using qbtest::mut;

// What the callbacks received, in order: "gpio 2=1;" entries and UART bytes.
std::mutex g_mu;
std::string g_seen;
void on_gpio(int pin, int value) {
    std::lock_guard<std::mutex> lock(g_mu);
    g_seen += "gpio " + std::to_string(pin) + "=" + std::to_string(value) + ";";
}
int on_uart(char* data, int length) {
    std::lock_guard<std::mutex> lock(g_mu);
    g_seen.append(data, static_cast<size_t>(length));
    return 0;
}

bool seen(const std::string& text) {
    return qbtest::eventually([&] {
        std::lock_guard<std::mutex> lock(g_mu);
        return g_seen.find(text) != std::string::npos;
    });
}

std::string config_for(const qbtest::TempDir& dir, const std::string& device) {
    qbtest::write_file(dir.file("firmata.json"), "{\"device\": \"" + device + "\"}");
    return dir.file("firmata.json");
}

// Registry entries live for the process: register once.
void register_firmata() {
    static const bool once = (Sensor_Channel_module_Init(), Sensor_Channel_module_register_firmata(), true);
    (void)once;
}

int open_fds() {
    int n = 0;
    if (DIR* d = opendir("/proc/self/fd")) {
        while (readdir(d)) ++n;
        closedir(d);
    }
    return n;
}

// One board and one channel for the suite: opening takes seconds.
FirmataSim* sim;
qbtest::TempDir* dir;
sca_handle ch;

class FirmataChannel : public testing::Test {
protected:
    static void SetUpTestSuite() {
        register_firmata();
        sim = new FirmataSim({"--wire", "13:2", "--analog", "0=612", "--i2c", "0x3c:0x10=0a0b0c", "--i2c", "0x50",
                              "--i2c-delay", "0x50=1500"});
        dir = new qbtest::TempDir();
        if (!sim->device().empty()) ch = sca_open(mut("Firmata"), mut(config_for(*dir, sim->device()).c_str()));
    }
    static void TearDownTestSuite() {
        const std::string out = capture_stdout([] { EXPECT_EQ(ch ? sca_close(ch) : 0, 0); });
        EXPECT_TRUE(!ch || out.find("Firmata thread exits\n") != std::string::npos) << out;
        delete sim;
        delete dir;
    }
    void SetUp() override { ASSERT_NE(ch, nullptr) << sim->process().output(); }
};

TEST_F(FirmataChannel, OpensOnceTheBoardReportedAndLearnsItsPins) {
    for (const char* line : {"reset", "firmware query", "analog mapping query", "capability query",
                             "pin state query 2", "pin state query 19"})
        EXPECT_EQ(sim->count(line), 1) << line << "\n" << sim->process().output();
    EXPECT_EQ(sim->count("pin state query 0"), 0);  // the serial pins offer no modes
    EXPECT_EQ(sca_poll(ch), 0);  // beside the pull thread
}

TEST_F(FirmataChannel, DigitalWritesReachInputsAndTheirCallback) {
    ASSERT_EQ(sca_gpio_register_cb(ch, on_gpio), 0);
    ASSERT_EQ(sca_gpio_init(ch, 13, GPIO_MODE_OUT), 0);
    ASSERT_EQ(sca_gpio_init(ch, 2, GPIO_MODE_IN), 0);
    EXPECT_TRUE(sim->wait_for_line("pin mode 2 0"));
    EXPECT_EQ(sim->count("report digital 15 1"), 1);
    const std::string out = capture_stdout([] { EXPECT_EQ(sca_gpio_init(ch, 4, 2), -1); });
    EXPECT_NE(out.find("Unsupported mode\n"), std::string::npos) << out;

    for (int level : {1, 0}) {
        {
            std::lock_guard<std::mutex> lock(g_mu);
            g_seen.clear();
        }
        ASSERT_EQ(sca_gpio_write(ch, 13, level), 0);
        EXPECT_TRUE(sim->wait_for_line(level ? "digital write port 1 0x20" : "digital write port 1 0x00"));
        EXPECT_TRUE(seen("gpio 2=" + std::to_string(level) + ";"));
        int v = -1;
        EXPECT_TRUE(qbtest::eventually([&] { return sca_gpio_read(ch, 2, &v) == 0 && v == level; }));
    }
}

TEST_F(FirmataChannel, AnalogInputsAreReported) {
    ASSERT_EQ(sca_analog_init(ch, 14, 0), 0);
    EXPECT_TRUE(sim->wait_for_line("report analog 15 1"));
    int v = 0;
    EXPECT_TRUE(qbtest::eventually([&] { return sca_analog_read(ch, 14, &v) == 0 && v == 612; })) << v;
}

TEST_F(FirmataChannel, PwmAndServoValuesAreRangeChecked) {
    ASSERT_EQ(sca_pwm_init(ch, 3, 1000), 0);
    ASSERT_EQ(sca_servo_init(ch, 9), 0);
    std::string out = capture_stdout([] {
        EXPECT_EQ(sca_pwm_write(ch, 3, 256), -1);
        EXPECT_EQ(sca_pwm_write(ch, 3, -1), -1);
        EXPECT_EQ(sca_servo_write(ch, 9, 181), -1);
        EXPECT_EQ(sca_servo_write(ch, 9, -5), -1);
    });
    EXPECT_EQ(qbtest::count_of(out, "duty_cycle exceeds 255\n"), 2) << out;
    EXPECT_EQ(qbtest::count_of(out, "angle exceeds 180\n"), 1) << out;
    EXPECT_EQ(qbtest::count_of(out, "angle exceeds 0\n"), 1) << out;
    EXPECT_EQ(sca_pwm_write(ch, 3, 255), 0);
    EXPECT_EQ(sca_servo_write(ch, 9, 180), 0);
    EXPECT_EQ(sca_servo_write(ch, 9, 0), 0);
    EXPECT_TRUE(sim->wait_for_line("analog write 9 0"));
    const std::string seen = sim->process().output();
    EXPECT_NE(seen.find("pin mode 3 3\n"), std::string::npos);
    EXPECT_NE(seen.find("pin mode 9 4\n"), std::string::npos);
    EXPECT_NE(seen.find("\nanalog write 3 255\nanalog write 9 180\n"), std::string::npos) << seen;
}

TEST_F(FirmataChannel, I2cRegistersAreWrittenAndRead) {
    ASSERT_EQ(sca_i2c_init(ch, 19, 18, 0), 0);
    EXPECT_TRUE(sim->wait_for_line("pin mode 18 6"));
    char buf[4] = {};
    ASSERT_EQ(sca_i2c_read_register(ch, 0x3C, 0x10, buf, 3), 0);
    EXPECT_EQ(std::string(buf, 3), "\x0a\x0b\x0c");

    char three[] = {1, 2, 3};
    ASSERT_EQ(sca_i2c_write_register(ch, 0x3C, 0x20, three, 3), 0);
    ASSERT_EQ(sca_i2c_write(ch, 0x3C, three, 2), 0);
    EXPECT_TRUE(sim->wait_for_line("i2c write 0x3c 0102"));
    for (const char* line : {"i2c write 0x3c 2001", "i2c write 0x3c 2002", "i2c write 0x3c 2003"})
        EXPECT_EQ(sim->count(line), 1) << line;
    ASSERT_EQ(sca_i2c_read_register(ch, 0x3C, 0x20, buf, 1), 0);
    EXPECT_EQ(buf[0], 3);  // every byte went to the same register

    // No device at 0x22: the firmware's short reply fails the read; a device
    // slower than the wait times out.
    std::string out = capture_stdout([&] {
        EXPECT_EQ(sca_i2c_read_register(ch, 0x22, 0x00, buf, 2), -1);
        EXPECT_EQ(sca_i2c_read_register(ch, 0x50, 0x00, buf, 2), -1);
    });
    EXPECT_NE(out.find("I2C Read short reply: 0 of 2 bytes\n"), std::string::npos) << out;
    EXPECT_NE(out.find("I2C Read timeout!\n"), std::string::npos) << out;
}

TEST_F(FirmataChannel, UartPassthroughCarriesBytesBothWays) {
    ASSERT_EQ(sca_uart_register_cb(ch, 1, on_uart), 0);
    ASSERT_EQ(sca_uart_open(ch, 1, 57600), 0);
    EXPECT_TRUE(sim->wait_for_line("serial read 1 0 0"));
    EXPECT_EQ(sim->count("serial config 1 57600"), 1);
    char data[] = {'h', 'i', static_cast<char>(0xC8)};
    ASSERT_EQ(sca_uart_write(ch, 1, data, 3), 2 * 3 + 4);  // the frame's length
    EXPECT_TRUE(sim->wait_for_line("serial write 1 6869c8"));
    EXPECT_TRUE(seen("hi\xC8"));
    EXPECT_EQ(sca_uart_close(ch, 1), 4);
    EXPECT_TRUE(sim->wait_for_line("serial close 1"));
    const std::string out = capture_stdout([] { EXPECT_EQ(sca_uart_open(ch, 8, 9600), -1); });
    EXPECT_NE(out.find("Does not support software serial\n"), std::string::npos) << out;
}

TEST(FirmataChannelOpen, FailuresLeaveNothingBehind) {
    register_firmata();
    qbtest::TempDir dir;
    const int fds = open_fds();
    sca_handle h = nullptr;
    // No configuration: the default device, which this machine lacks.
    std::string out = capture_stdout([&] { h = sca_open(mut("Firmata"), nullptr); });
    EXPECT_EQ(h, nullptr);
    EXPECT_NE(out.find("Opening device at: /dev/ttyUSB0\n"), std::string::npos) << out;
    EXPECT_NE(out.find("Firmata start failed\n"), std::string::npos) << out;
    EXPECT_NE(out.find("module Firmata init failed\n"), std::string::npos) << out;

    EXPECT_EQ(sca_open(mut("Firmata"), mut(dir.file("missing.json").c_str())), nullptr);

    // A line that never answers: the open gives up and releases the line.
    qbtest::PtyPair silent;
    ASSERT_TRUE(silent.ok());
    EXPECT_EQ(sca_open(mut("Firmata"), mut(config_for(dir, silent.device()).c_str())), nullptr);
    EXPECT_EQ(open_fds(), fds + 2);  // the pair's own two
}

TEST(FirmataChannelOpen, ALostBoardFailsOperationsButCloses) {
    register_firmata();
    qbtest::TempDir dir;
    auto sim = std::make_unique<FirmataSim>();
    ASSERT_FALSE(sim->device().empty());
    sca_handle h = sca_open(mut("Firmata"), mut(config_for(dir, sim->device()).c_str()));
    ASSERT_NE(h, nullptr);
    ASSERT_EQ(sca_pwm_init(h, 3, 0), 0);
    std::string out = capture_stdout([&] {
        sim->process().kill();
        EXPECT_TRUE(qbtest::eventually([&] { return sca_pwm_write(h, 3, 10) == -1; }));
        EXPECT_EQ(sca_poll(h), -1);
        EXPECT_EQ(sca_close(h), 0);
    });
    EXPECT_NE(out.find("Firmata thread exits\n"), std::string::npos) << out;
    EXPECT_LT(qbtest::count_of(out, "Serial Read fail"), 5) << out;  // no flood
}

}  // namespace
