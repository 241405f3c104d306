// The MPSSE engine against the fake libftdi: command streams byte for byte.
#include <string>
#include <vector>

#include "devices/ft232h/mpsse2_internal.h"
#include "sdk_logger.h"
#include "support/fake_ftdi.h"
#include "support/test_support.h"

namespace {

using qbtest::capture_stdout;
using qbtest::count_of;

std::string times(int n, const std::string& s) {
    std::string out;
    for (int i = 0; i < n; i++) out += (out.empty() ? "" : " ") + s;
    return out;
}

// Four writes of the low byte with SCL = bit 0 and SDA = bit 1.
std::string line(int scl, int sda) {
    char b[16];
    snprintf(b, sizeof b, "80 %02x fb", scl | sda << 1);
    return times(4, b);
}

struct Mpsse : testing::Test {
    void SetUp() override {
        fake_.answers.clear();
        h_ = mpsse2_init(0);
        ASSERT_NE(h_, nullptr);
        fake_.take();
    }
    void TearDown() override { mpsse2_close(h_); }

    qbtest::LogLevel debug_{SDK_LOG_LEVEL_DEBUG};
    qbtest::FakeFtdi& fake_ = qbtest::fake_ftdi_reset();
    MPSSE2_handle h_ = nullptr;
};

TEST(MpsseOpen, OpensTheFirstFt232hInMpsseModeAndReleasesOnFailure) {
    auto& fake = qbtest::fake_ftdi_reset();
    MPSSE2_handle h = mpsse2_init(12345);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(fake.calls, (std::vector<std::string>{"init", "interface 1", "open 0403:6014 #0", "reset", "latency 100",
                                                    "write chunks 65535", "read chunks 65535",
                                                    "bitmode 00 00 timeouts 0/0", "bitmode 00 02 timeouts 100/100"}));
    EXPECT_EQ(mpsse2_close(h), 0);
    EXPECT_EQ(fake.calls.back(), "deinit");
    EXPECT_EQ(fake.calls.end()[-2], "close");

    for (auto [setup, message, closes] : {std::tuple{&qbtest::FakeFtdi::fail_init, "FTDI Init failed\n", false},
                                          {&qbtest::FakeFtdi::no_device, "FTDI USB Open failed\n", false},
                                          {&qbtest::FakeFtdi::fail_reset, "FTDI Set parameter failed\n", true}}) {
        auto& f = qbtest::fake_ftdi_reset();
        f.*setup = true;
        std::string log = capture_stdout([&] { EXPECT_EQ(mpsse2_init(0), nullptr); });
        EXPECT_EQ(count_of(log, message), 1) << log;
        EXPECT_EQ(f.calls.back(), "deinit");
        EXPECT_EQ(f.calls.end()[-2] == "close", closes);
    }

    char b[4] = {};
    int v = 0;
    EXPECT_EQ(mpsse2_close(nullptr) + mpsse2_gpio_init(nullptr, 0, 0) + mpsse2_gpio_write(nullptr, 0, 1) +
                  mpsse2_gpio_read(nullptr, 0, &v) + mpsse2_gpio_update(nullptr) + mpsse2_spi_init(nullptr, 1, 0, 0, 0) +
                  mpsse2_spi_send(nullptr, b, 1) + mpsse2_spi_read(nullptr, b, 1) +
                  mpsse2_spi_send_read(nullptr, b, 1, b, 1) + mpsse2_spi_send_read00(nullptr, b, 1, b, 1) +
                  mpsse2_spi_enable_chip(nullptr, 1) + mpsse2_i2c_init(nullptr) + mpsse2_i2c_ping(nullptr, 0x50) +
                  mpsse2_i2c_write(nullptr, 0x50, b, 1) + mpsse2_i2c_write_register(nullptr, 0x50, 1, b, 1) +
                  mpsse2_i2c_read(nullptr, 0x50, b, 1) + mpsse2_i2c_read_register(nullptr, 0x50, 1, b, 1),
              -17);
    EXPECT_EQ(gpio_read_thread(nullptr), nullptr);
}

TEST_F(Mpsse, ClockPicksTheBaseAndClampsTheDivisor) {
    struct Case {
        int freq;
        const char* stream;
        int clock;
        bool clamped;
    };
    for (Case c : {Case{6000000, "8b 86 00 00", 6000000, false}, {6000001, "8a 86 03 00", 7500000, false},
                   {100000, "8b 86 3b 00", 100000, false}, {1000000, "8b 86 05 00", 1000000, false},
                   {0, "8b 86 ff ff", 91, false}, {40000000, "8a 86 00 00", 30000000, true},
                   {50, "8b 86 ff ff", 91, true}}) {
        std::string log = capture_stdout([&] { EXPECT_EQ(qb::mpsse::mpsse2_set_clock(h_, c.freq), 0); });
        EXPECT_EQ(fake_.take(), c.stream) << c.freq;
        EXPECT_EQ(h_->clock, c.clock) << c.freq;
        EXPECT_EQ(count_of(log, "out of range"), c.clamped ? 1 : 0) << c.freq;
    }
    EXPECT_EQ(qb::mpsse::mpsse2_set_clock(h_, -1), -1);
    fake_.writes_left = 0;
    EXPECT_EQ(qb::mpsse::mpsse2_set_clock(h_, 1000), -1);
    EXPECT_EQ(fake_.take(), "");
}

TEST_F(Mpsse, SpiModesSetIdleLevelAndOpcodes) {
    ASSERT_EQ(mpsse2_spi_init(h_, 1000000, MPSSE_SPI_MSB, 0, 0), 0);
    // Set-up, then the SPI pin bytes: CS high (deselected), SCK idle low.
    EXPECT_EQ(fake_.take(), "8b 86 05 00 85 97 80 00 fb 82 00 ff 80 08 fb 82 00 ff");
    EXPECT_EQ(fake_.calls.back(), "flush rx+tx");

    struct Case {
        int cpol, cpha, endian, mode;
        const char *idle, *send, *read, *duplex;
    };
    char out[2];
    char data[] = {0x5a};
    for (Case c : {Case{0, 0, 0, SPI0, "08", "11", "20", "31"}, {0, 1, 0, SPI1, "08", "10", "24", "34"},
                   {1, 0, 0, SPI2, "09", "10", "24", "34"}, {1, 1, 0, SPI3, "09", "11", "20", "31"},
                   {1, 1, 1, SPI3, "09", "19", "28", "39"}}) {
        ASSERT_EQ(mpsse2_spi_init(h_, 1000000, c.endian, c.cpol, c.cpha), 0);
        EXPECT_EQ(h_->mode, c.mode);
        EXPECT_EQ(fake_.writes.end()[-2], std::string("80 ") + c.idle + " fb") << c.mode;
        fake_.take();
        fake_.answer({0x11, 0x22});
        EXPECT_EQ(mpsse2_spi_send(h_, data, 1), 0);
        EXPECT_EQ(mpsse2_spi_read(h_, out, 1), 1);
        EXPECT_EQ(mpsse2_spi_send_read(h_, data, 1, out, 1), 1);
        EXPECT_EQ(fake_.take(), std::string(c.send) + " 00 00 5a " + c.read + " 00 00 " + c.duplex + " 00 00 5a");
        EXPECT_EQ(out[0], 0x22);
    }
    // Bit order outside the two values would corrupt every opcode.
    EXPECT_EQ(mpsse2_spi_init(h_, 1000000, 2, 0, 0), -1);
    // Chip select never moves SCK off its idle level.
    EXPECT_EQ(mpsse2_spi_enable_chip(h_, 1), 0);
    EXPECT_EQ(mpsse2_spi_enable_chip(h_, 0), 0);
    EXPECT_EQ(fake_.take(), "80 01 fb 82 00 ff 80 09 fb 82 00 ff");
}

TEST_F(Mpsse, SpiTransfersAreExactAndBounded) {
    char tiny[4] = {};
    std::string log = capture_stdout([&] { EXPECT_EQ(mpsse2_spi_send(h_, tiny, 1), -1); });
    EXPECT_EQ(count_of(log, "Please send data size < 0 every time\n"), 1) << "refused before set-up";
    ASSERT_EQ(mpsse2_spi_init(h_, 1000000, MPSSE_SPI_MSB, 0, 0), 0);
    fake_.take();

    char three[] = {1, 2, 3};
    EXPECT_EQ(mpsse2_spi_send(h_, three, 3), 0);
    EXPECT_EQ(fake_.take(), "11 02 00 01 02 03");

    std::vector<char> big(64513, 0x7e);
    EXPECT_EQ(mpsse2_spi_send(h_, big.data(), 64512), 0);
    ASSERT_EQ(fake_.writes.size(), 1u) << "one USB write per transfer";
    EXPECT_EQ(fake_.take().substr(0, 14), "11 ff fb 7e 7e");
    log = capture_stdout([&] {
        // Too long, empty and negative lengths: refused with nothing sent.
        for (int n : {64513, 0, -1}) EXPECT_EQ(mpsse2_spi_send(h_, big.data(), n), -1) << n;
        for (int n : {64513, 0}) EXPECT_EQ(mpsse2_spi_read(h_, big.data(), n), -1) << n;
        EXPECT_EQ(mpsse2_spi_send_read(h_, big.data(), 64513, tiny, 4), -1);
        EXPECT_EQ(mpsse2_spi_send_read(h_, tiny, 4, big.data(), 0), -1);
        EXPECT_EQ(mpsse2_spi_send_read00(h_, tiny, 0, tiny, 4), -1);
    });
    EXPECT_EQ(fake_.take(), "");
    EXPECT_EQ(count_of(log, "Please send data size < 64512 every time\n"), 2);
    EXPECT_EQ(count_of(log, "Please recv data size < 64512 every time\n"), 1);

    // The chip answers length_in bytes; only length_out of them fit the caller's buffer.
    char in[4] = {1, 2, 3, 4};
    char out[3] = {0, 0, 0x55};
    fake_.answer({0xa1, 0xa2, 0xa3, 0xa4});
    EXPECT_EQ(mpsse2_spi_send_read(h_, in, 4, out, 2), 4);
    EXPECT_EQ(std::string(out, 3), "\xa1\xa2\x55");
    EXPECT_EQ(fake_.take(), "31 03 00 01 02 03 04");
    EXPECT_EQ(fake_.calls.back(), "flush rx");

    // Half duplex: send, then a separate read; a short answer is counted and shown.
    fake_.answer({0xb1});
    log = capture_stdout([&] { EXPECT_EQ(mpsse2_spi_send_read00(h_, in, 2, out, 3), 1); });
    EXPECT_EQ(fake_.take(), "11 01 00 01 02 20 02 00");
    EXPECT_EQ(count_of(log, "Request read=3, actual read=1\n"), 1) << log;
    EXPECT_EQ(count_of(log, "b1 \n"), 1) << log;
}

TEST_F(Mpsse, GpioPinBytes) {
    // Outside SPI the first init sets the chip up at the slowest clock; later ones only change directions.
    ASSERT_EQ(mpsse2_gpio_init(h_, GPIOH1, MPSSE_GPIO_IN), 0);
    EXPECT_EQ(fake_.take(), "8b 86 ff ff 85 97 80 00 fb 82 00 ff 80 00 fb 82 00 fd");
    ASSERT_EQ(mpsse2_gpio_init(h_, GPIOH1, MPSSE_GPIO_OUT), 0);
    ASSERT_EQ(mpsse2_gpio_init(h_, DI, MPSSE_GPIO_OUT), 0);
    EXPECT_EQ(fake_.take(), "80 00 fb 82 00 ff 80 00 ff 82 00 ff");

    EXPECT_EQ(mpsse2_gpio_write(h_, 9, 1), 0);
    EXPECT_EQ(mpsse2_gpio_write(h_, GPIOL0, 1), 0);
    EXPECT_EQ(mpsse2_gpio_write(h_, 9, 2), 0) << "any value but 1 is low";
    EXPECT_EQ(fake_.take(), "82 02 ff 80 10 ff 82 00 ff");

    int v = -1;
    fake_.answer({0x04, 0x80});
    EXPECT_EQ(mpsse2_gpio_read(h_, DI, &v), 0);
    EXPECT_EQ(v, 1);
    EXPECT_EQ(fake_.take(), "81 83");
    fake_.answer({0x00, 0x80});
    EXPECT_EQ(mpsse2_gpio_read(h_, GPIOH7, &v), 0);
    EXPECT_EQ(v, 1);
    // A short answer keeps the values read before.
    fake_.answer({0xff});
    EXPECT_EQ(mpsse2_gpio_update(h_), -1);
    EXPECT_EQ(std::pair(h_->port_val_l, h_->port_val_h), std::pair(0x00, 0x80));
    fake_.answers.clear();
    EXPECT_EQ(gpio_read_thread(h_), nullptr) << "stops when the chip stops answering";

    fake_.take();
    for (int pin : {-1, 16, 1 << 20}) {
        EXPECT_EQ(mpsse2_gpio_init(h_, pin, 0), -1);
        EXPECT_EQ(mpsse2_gpio_write(h_, pin, 1), -1);
        EXPECT_EQ(mpsse2_gpio_read(h_, pin, &v), -1);
    }
    EXPECT_EQ(fake_.take(), "");

    // In SPI mode GPIO set-up keeps the SPI pins.
    ASSERT_EQ(mpsse2_spi_init(h_, 1000000, MPSSE_SPI_MSB, 1, 0), 0);
    fake_.take();
    std::string log = capture_stdout([&] { EXPECT_EQ(mpsse2_gpio_init(h_, GPIOH0, MPSSE_GPIO_OUT), 0); });
    EXPECT_EQ(count_of(log, "dont init GPIO because SPI is already init\n"), 1);
    EXPECT_EQ(fake_.take(), "80 09 fb 82 00 ff");
}

struct MpsseI2c : Mpsse {
    void SetUp() override {
        Mpsse::SetUp();
        ASSERT_EQ(mpsse2_i2c_init(h_), 0);
        EXPECT_EQ(fake_.take(), "8c 97 80 00 fb 82 00 ff 8b 86 3b 00 9e 07 00");
    }
    // Idle and start, as every transaction begins.
    static std::string begin() { return line(1, 1) + " " + line(1, 0) + " " + line(0, 0); }
    static std::string byte_out(const char* b) { return std::string("11 00 00 ") + b + " " + line(0, 1) + " 22 00"; }
    static std::string end() { return line(0, 0) + " " + line(1, 0) + " " + line(1, 1) + " 87"; }
};

TEST_F(MpsseI2c, WriteIsOneTransactionCheckedByItsAcknowledges) {
    char aa[] = {char(0xAA)};
    fake_.answer({0x00, 0x00});
    EXPECT_EQ(mpsse2_i2c_write(h_, 0x50, aa, 1), 0);
    ASSERT_EQ(fake_.writes.size(), 1u);
    EXPECT_EQ(fake_.take(), begin() + " " + byte_out("a0") + " " + byte_out("aa") + " " + end());

    fake_.answer({0x00, 0x00, 0x00});
    EXPECT_EQ(mpsse2_i2c_write_register(h_, 0x50, 0x10, aa, 1), 0);
    EXPECT_EQ(fake_.take(), begin() + " " + byte_out("a0") + " " + byte_out("10") + " " + byte_out("aa") + " " + end());

    // A missing acknowledge, or answers lost to a USB time-out, fail the write.
    for (std::vector<uint8_t> answers : {std::vector<uint8_t>{0x00, 0x01}, {0x00}, {}}) {
        fake_.answers.assign(answers.begin(), answers.end());
        std::string log = capture_stdout([&] { EXPECT_EQ(mpsse2_i2c_write(h_, 0x50, aa, 1), -1); });
        EXPECT_EQ(count_of(log, answers.size() == 2 ? "Verify ACK failed\n" : "expected=2 bytes\n"), 1) << log;
    }

    fake_.answer({0x01});
    EXPECT_EQ(mpsse2_i2c_ping(h_, 0x51), -1) << "nobody acknowledged";
    std::string log = capture_stdout([&] { EXPECT_EQ(mpsse2_i2c_ping(h_, 0x51), -1); });
    EXPECT_EQ(count_of(log, "ping addr=51 read 0 bytes\n"), 1) << log;
    fake_.take();
    fake_.answer({0x00});
    EXPECT_EQ(mpsse2_i2c_ping(h_, 0x51), 0);
    EXPECT_EQ(fake_.take(), begin() + " " + byte_out("a2") + " " + end());
}

TEST_F(MpsseI2c, ReadsClockExactlyTheRequestedBytes) {
    char buf[4] = {0, 0, 0, 0x55};
    fake_.answer({0x00, 0xd1, 0xd2, 0xd3});
    EXPECT_EQ(mpsse2_i2c_read(h_, 0x50, buf, 3), 0);
    EXPECT_EQ(std::string(buf, 4), "\xd1\xd2\xd3\x55");
    std::string in_ack = "20 00 00 13 00 00 " + line(0, 1), in_nack = "20 00 00 13 00 ff " + line(0, 1);
    EXPECT_EQ(fake_.take(), begin() + " " + byte_out("a1") + " " + in_ack + " " + in_ack + " " + in_nack + " " + end());

    fake_.answer({0x00, 0x00, 0x00, 0xe1, 0xe2});
    EXPECT_EQ(mpsse2_i2c_read_register(h_, 0x50, 0x10, buf, 2), 0);
    EXPECT_EQ(std::string(buf, 2), "\xe1\xe2");
    // Register write, then a repeated start (SDA high before SCL rises) and the read.
    EXPECT_EQ(fake_.take(), begin() + " " + byte_out("a0") + " " + byte_out("10") + " " + line(1, 1) + " " +
                                line(1, 0) + " " + line(0, 0) + " " + byte_out("a1") + " " + in_ack + " " + in_nack +
                                " " + end());

    std::string log = capture_stdout([&] {
        fake_.answer({0x00, 1, 2, 3});
        EXPECT_EQ(mpsse2_i2c_read(h_, 0x50, buf, 2), -1);
        fake_.answer({0x00, 0x00, 0x00, 1, 2, 3});
        EXPECT_EQ(mpsse2_i2c_read_register(h_, 0x50, 0x10, buf, 2), -1);
        fake_.answer({0x00, 0x00, 0x01, 1, 2});
        EXPECT_EQ(mpsse2_i2c_read_register(h_, 0x50, 0x10, buf, 2), -1);
        fake_.answer({0x00, 1});
        EXPECT_EQ(mpsse2_i2c_read(h_, 0x50, buf, 2), -1);
        EXPECT_EQ(mpsse2_i2c_read(h_, 0x50, buf, 0), -1);
    });
    EXPECT_EQ(count_of(log, "Buffer too small, response=3 bytes, expected=2 bytes\n"), 1) << log;
    EXPECT_EQ(count_of(log, "Buffer too small\n"), 1) << log;
    EXPECT_EQ(count_of(log, "Verify ACK failed\n"), 1) << log;
    EXPECT_EQ(count_of(log, "response=2 bytes, expected=3 bytes\n"), 1) << log;
}

TEST_F(MpsseI2c, TransactionsBeyondTheCommandBufferAreRefused) {
    std::vector<char> data(564, 0x11);
    fake_.answers.assign(564, 0);
    EXPECT_EQ(mpsse2_i2c_write(h_, 0x50, data.data(), 563), 0) << "the largest that fits";
    EXPECT_EQ(fake_.take().size(), 10225u * 3 - 1);
    std::string log = capture_stdout([&] {
        EXPECT_EQ(mpsse2_i2c_write(h_, 0x50, data.data(), 564), -1);
        EXPECT_EQ(mpsse2_i2c_write(h_, 0x50, data.data(), 1 << 30), -1);
        EXPECT_EQ(mpsse2_i2c_read(h_, 0x50, data.data(), 564), -1);
        EXPECT_EQ(mpsse2_i2c_write(h_, 0x50, data.data(), -1), -1);
    });
    EXPECT_EQ(count_of(log, "I2C transaction too large\n"), 3) << log;
    EXPECT_EQ(fake_.take(), "");
}

}  // namespace
