// The "FT232H" channel through the sensor channel API, on the fake libftdi.
#include "channel_ft232h.h"

#include "sdk_logger.h"
#include "sensor_channel_api.h"
#include "support/fake_ftdi.h"
#include "support/test_support.h"

namespace {

using qbtest::capture_stdout;
using qbtest::count_of;
using qbtest::mut;

// The module has no close: its channel lives as long as the process.
sca_handle g_channel = nullptr;

struct ChannelFt232h : testing::Test {
    ChannelFt232h() {
        // Registry entries live for the process: register once per binary.
        [[maybe_unused]] static bool registered = (Sensor_Channel_module_Init(), Sensor_Channel_module_register_FT232H(), true);
    }
    qbtest::LogLevel debug_{SDK_LOG_LEVEL_DEBUG};
    qbtest::FakeFtdi& fake_ = qbtest::fake_ftdi_reset();
};

TEST_F(ChannelFt232h, OpenFailsWithoutAChip) {
    fake_.no_device = true;
    std::string log = capture_stdout([] { EXPECT_EQ(sca_open(mut("FT232H"), nullptr), nullptr); });
    EXPECT_EQ(count_of(log, "FTDI USB Open failed\n"), 1) << log;
    EXPECT_EQ(count_of(log, "module FT232H init failed\n"), 1) << log;
}

TEST_F(ChannelFt232h, ForwardsToTheEngineAndPassesFailuresThrough) {
    sca_handle h = g_channel = sca_open(mut("FT232H"), nullptr);
    ASSERT_NE(h, nullptr);
    fake_.take();
    // ACBUS0 (pin 8) as input, then as output: bit 0 of the high direction byte.
    EXPECT_EQ(sca_gpio_init(h, 8, GPIO_MODE_IN), 0);
    EXPECT_TRUE(fake_.take().ends_with("80 00 fb 82 00 fe"));
    EXPECT_EQ(sca_gpio_init(h, 8, GPIO_MODE_OUT), 0);
    EXPECT_EQ(sca_gpio_write(h, 8, 1), 0);
    EXPECT_EQ(fake_.take(), "80 00 fb 82 00 ff 82 01 ff");
    int v = -1;
    fake_.answer({0x00, 0x01});
    EXPECT_EQ(sca_gpio_read(h, 8, &v), 0);
    EXPECT_EQ(v, 1);
    EXPECT_EQ(sca_gpio_read(h, 8, &v), -1) << "the chip did not answer";
    EXPECT_EQ(sca_gpio_init(h, 16, GPIO_MODE_OUT), -1);
    fake_.take();

    std::string log = capture_stdout([&] { EXPECT_EQ(sca_spi_init(h, 7, 1000000, 0, 0), 0); });
    EXPECT_EQ(count_of(log, "SPI init OK\n"), 1);
    EXPECT_EQ(fake_.take().substr(0, 11), "8b 86 05 00") << "1 MHz";
    char data[3] = {1, 2, 3}, out[3];
    EXPECT_EQ(sca_spi_enable_chip(h, 1), 0);
    EXPECT_EQ(sca_spi_write(h, data, 3), 0);
    EXPECT_EQ(fake_.take(), "80 00 fb 82 00 ff 11 02 00 01 02 03");
    EXPECT_EQ(sca_spi_write(h, data, 0), -1);
    fake_.answer({9, 8, 7});
    EXPECT_EQ(sca_spi_write_read(h, data, 3, out, 3), 0);
    EXPECT_EQ(out[2], 7);
    fake_.answer({9});
    capture_stdout([&] {
        EXPECT_EQ(sca_spi_read(h, out, 3), -1) << "short read";
        EXPECT_EQ(sca_spi_write_read(h, data, 3, out, 3), -1) << "no answer";
    });

    EXPECT_EQ(sca_i2c_init(h, 0, 0, 0), 0);
    fake_.take();
    fake_.answer({0, 0});
    EXPECT_EQ(sca_i2c_write(h, 0x150, data, 1), 0);
    EXPECT_EQ(count_of(fake_.take(), "11 00 00 a0"), 1) << "address 0x150 reaches device 0x50";
    fake_.answer({0x01});
    EXPECT_EQ(sca_i2c_ping(h, 0x50), -1);

    log = capture_stdout([&] {
        EXPECT_EQ(sca_poll(h), -1);
        EXPECT_EQ(sca_close(h), -1);
        EXPECT_EQ(sca_uart_open(h, 0, 9600), -1);
    });
    EXPECT_EQ(count_of(log, "module FT232H does not support pool\n"), 1) << log;
    EXPECT_EQ(count_of(log, "module FT232H does not suooprt close\n"), 1) << log;
    EXPECT_EQ(count_of(log, "module FT232H does not support uart_open\n"), 1) << log;
}

}  // namespace
