// The "Onboard" channel: its UART on a pseudo-terminal, its I2C adapter
// through the fake bus, device paths from the configuration file.
#include "channel_onboard.h"

#include <dirent.h>

#include "sensor_channel_api.h"
#include "support/fake_bus.h"
#include "support/pty_pair.h"
#include "support/test_support.h"

namespace {

using qbtest::capture_stdout;
using qbtest::count_of;
using qbtest::mut;

int open_descriptors() {
    int n = 0;
    DIR* d = opendir("/proc/self/fd");
    while (readdir(d)) n++;
    closedir(d);
    return n;
}

struct ChannelOnboard : testing::Test {
    ChannelOnboard() {
        // Registry entries live for the process: register once per binary.
        [[maybe_unused]] static bool registered = (Sensor_Channel_module_Init(), Sensor_Channel_module_register_onboard(), true);
        qbtest::write_file(adapter_, "");
    }
    // The module has no close: its channels live as long as the process.
    sca_handle open(const std::string& config_json) {
        qbtest::write_file(dir_.file("onboard.json"), config_json);
        sca_handle h = sca_open(mut("Onboard"), mut(dir_.file("onboard.json").c_str()));
        if (h) channels_.push_back(h);
        return h;
    }
    qbtest::TempDir dir_;
    std::string adapter_ = dir_.file("i2c-7");
    // Never destroyed, so the channels stay reachable to the end.
    inline static auto& channels_ = *new std::vector<sca_handle>;
};

TEST_F(ChannelOnboard, UartOnTheConfiguredTtyAndValueChecks) {
    qbtest::PtyPair pty;
    sca_handle h = open("{\"uart_device\": \"" + pty.device() + "\"}");
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(sca_uart_open(h, 3, 12345), -1);
    ASSERT_EQ(sca_uart_open(h, 3, 115200), 0);
    int before = open_descriptors();
    ASSERT_EQ(sca_uart_open(h, 3, 9600), 0) << "opening again replaces the port";
    EXPECT_EQ(open_descriptors(), before);
    EXPECT_EQ(sca_uart_write(h, 0, mut("hi\n"), 3), 3);
    EXPECT_EQ(pty.read_n(3), "hi\n");
    EXPECT_EQ(sca_uart_register_cb(h, 0, [](char*, int) { return 0; }), 0);
    EXPECT_EQ(sca_uart_close(h, 0), 0);
    EXPECT_EQ(sca_uart_write(h, 0, mut("x"), 1), -5) << "closed";

    std::string log = capture_stdout([&] {
        EXPECT_EQ(sca_pwm_write(h, 0, 300), -1);
        EXPECT_EQ(sca_pwm_write(h, 0, 100), 0);
        EXPECT_EQ(sca_servo_write(h, 0, -1), -1);
        EXPECT_EQ(sca_servo_write(h, 0, 181), -1);
        EXPECT_EQ(sca_servo_write(h, 0, 180) + sca_servo_init(h, 0) + sca_pwm_init(h, 0, 50) + sca_poll(h), 0);
        EXPECT_EQ(sca_uart_read(h, 0, mut("x"), 1), -1);
        EXPECT_EQ(sca_gpio_init(h, 0, GPIO_MODE_OUT), -1);
    });
    EXPECT_EQ(count_of(log, "duty_cycle exceeds 255\n"), 1) << log;
    EXPECT_EQ(count_of(log, "angle exceeds 0\n"), 1) << log;
    EXPECT_EQ(count_of(log, "angle exceeds 180\n"), 1) << log;
    EXPECT_EQ(count_of(log, "module Onboard does not support uart_read\n"), 1) << log;
    EXPECT_EQ(count_of(log, "module Onboard does not suooprt gpio_init\n"), 1) << log;

    // Default paths without a file; a file that names no usable path fails the open.
    sca_handle plain = sca_open(mut("Onboard"), nullptr);
    ASSERT_NE(plain, nullptr);
    channels_.push_back(plain);
    EXPECT_EQ(open("{\"uart_device\": 5}"), nullptr);
    EXPECT_EQ(open("not json"), nullptr);
}

TEST_F(ChannelOnboard, I2cMessagesPerOperation) {
    sca_handle h = open("{\"i2c_device\": \"" + adapter_ + "\"}");
    ASSERT_NE(h, nullptr);
    char buf[4] = {};
    std::string log = capture_stdout([&] {
        EXPECT_EQ(sca_i2c_write(h, 0x50, buf, 1), -1) << "no adapter yet";
        EXPECT_EQ(sca_i2c_init(h, 0, 0, 0), -1) << "a plain file is no adapter";
    });
    EXPECT_EQ(count_of(log, "I2C Open failed, message=Querying I2C functions: Inappropriate ioctl for device "
                            "[errno 25]\n"), 1) << log;

    qbtest::FakeBus bus;
    ASSERT_EQ(sca_i2c_init(h, 0, 0, 0), 0);
    int before = open_descriptors();
    ASSERT_EQ(sca_i2c_init(h, 0, 0, 0), 0);
    EXPECT_EQ(open_descriptors(), before) << "the first adapter record is closed";

    bus.read_data = "\x11\x22\x33\x44";
    EXPECT_EQ(sca_i2c_read_register(h, 0x50, 0x0102, buf, 4), 0);
    EXPECT_EQ(std::string(buf, 4), "\x11\x22\x33\x44");
    char data[] = {char(0xaa), char(0xbb)};
    EXPECT_EQ(sca_i2c_write_register(h, 0x50, 0x0102, data, 2), 0);
    EXPECT_EQ(sca_i2c_write(h, 0x51, data, 2), 0);
    EXPECT_EQ(sca_i2c_read(h, 0x52, buf, 2), 0);
    EXPECT_EQ(sca_i2c_ping(h, 0x53), 0);
    EXPECT_EQ(bus.i2c_transfers, (std::vector<std::string>{"50 w 01 02 | 50 r 4", "50 w 01 02 aa bb", "51 w aa bb",
                                                           "52 r 2", "53 w 00", "53 r 1"}));

    log = capture_stdout([&] {
        EXPECT_EQ(sca_i2c_write(h, 0x50, buf, 65536), -1);
        EXPECT_EQ(sca_i2c_read(h, 0x50, buf, -1), -1);
        EXPECT_EQ(sca_i2c_write_register(h, 0x50, 1, buf, 65534), -1);
        bus.fail_errno = EREMOTEIO;
        EXPECT_EQ(sca_i2c_ping(h, 0x60), -1);
    });
    EXPECT_EQ(bus.i2c_transfers.size(), 6u) << "refused sizes send nothing";
    EXPECT_EQ(count_of(log, "I2C Transfer failed, message=I2C transfer: Remote I/O error [errno 121]\n"), 1) << log;
}

}  // namespace
