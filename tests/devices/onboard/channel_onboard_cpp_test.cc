// The sensor channel owner over the Onboard module: its UART on a
// pseudo-terminal, its I2C adapter through the fake bus.
#include "channel_onboard.h"
#include "qb_sensor_channel.hpp"
#include "support/fake_bus.h"
#include "support/pty_pair.h"
#include "support/test_support.h"

namespace {

TEST(SensorChannelCpp, OnboardUartI2cAndRefusals) {
    qb::SensorChannel::init_modules();
    Sensor_Channel_module_register_onboard();
    auto unknown = qb::SensorChannel::open("NoSuchModule");
    ASSERT_FALSE(unknown);
    EXPECT_STREQ(unknown.error().function, "sca_open");

    qbtest::TempDir dir;
    qbtest::PtyPair pty;
    qbtest::write_file(dir.file("i2c-7"), "");
    qbtest::write_file(dir.file("board.json"), "{\"uart_device\": \"" + pty.device() + "\", \"i2c_device\": \"" +
                                                   dir.file("i2c-7") + "\"}");
    auto opened = qb::SensorChannel::open("Onboard", dir.file("board.json"));
    ASSERT_TRUE(opened);
    qb::SensorChannel ch = std::move(*opened);
    EXPECT_FALSE(opened->uart_open(0, 115200)) << "moved-from";

    ASSERT_TRUE(ch.uart_open(0, 115200));
    EXPECT_EQ(ch.uart_write(0, "hi\n").value_or(-1), 3);
    EXPECT_EQ(pty.read_n(3), "hi\n");
    EXPECT_TRUE(ch.uart_on_data(0, [](char*, int) { return 0; }));
    char buf[4];
    auto unsupported = ch.uart_read(0, buf);
    ASSERT_FALSE(unsupported);
    EXPECT_STREQ(unsupported.error().function, "sca_uart_read");
    EXPECT_FALSE(ch.gpio_read(1));

    qbtest::FakeBus bus;
    ASSERT_TRUE(ch.i2c_init(0, 0, 0));
    bus.read_data = "\x11\x22\x33";
    EXPECT_EQ(ch.i2c_read_register(0x50, 0x0102, 2).value_or(""), "\x11\x22");
    EXPECT_EQ(ch.i2c_read(0x51, 1).value_or(""), "\x33");
    EXPECT_TRUE(ch.i2c_write(0x52, std::string_view("\xaa\0", 2)));
    EXPECT_EQ(bus.i2c_transfers,
              (std::vector<std::string>{"50 w 01 02 | 50 r 2", "51 r 1", "52 w aa 00"}));
    EXPECT_FALSE(ch.i2c_read(0x50, 70000)) << "too large for one message";

    // The module has no close: the channel stays with it, kept reachable here.
    auto close = ch.close();
    EXPECT_FALSE(close);
    static auto& kept = *new std::vector<sca_handle>;  // never destroyed
    kept.push_back(ch.release());
}

}  // namespace
