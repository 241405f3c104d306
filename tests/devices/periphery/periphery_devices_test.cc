// I2C and SPI: error paths through the real ioctl on files that are not such
// devices, kernel requests through the fake bus. MMIO maps a file in place of /dev/mem.
#include <linux/spi/spidev.h>
#include <unistd.h>

#include <cstdint>
#include <string>

#include "devices/periphery/periphery_internal.h"
#include "support/fake_bus.h"
#include "support/test_support.h"

namespace {

struct Files : testing::Test {
    Files() { qbtest::write_file(plain_, std::string(size_t(2 * page_), '\0')); }
    qbtest::TempDir dir_;
    std::string plain_ = dir_.file("plain");
    long page_ = sysconf(_SC_PAGESIZE);
};

TEST_F(Files, I2cOpenChecksTheAdapterAndTransfersAsOneRequest) {
    i2c_t* i2c = i2c_new();
    EXPECT_EQ(i2c_open(i2c, "/dev/i2c-qb-missing"), I2C_ERROR_OPEN);
    EXPECT_STREQ(i2c_errmsg(i2c), "Opening I2C device \"/dev/i2c-qb-missing\": No such file or directory [errno 2]");
    EXPECT_EQ(i2c_open(i2c, plain_.c_str()), I2C_ERROR_QUERY);
    EXPECT_STREQ(i2c_errmsg(i2c), "Querying I2C functions: Inappropriate ioctl for device [errno 25]");
    EXPECT_EQ(i2c_fd(i2c), -1);

    qbtest::FakeBus bus;
    bus.i2c_funcs = I2C_FUNC_SMBUS_BYTE;
    EXPECT_EQ(i2c_open(i2c, plain_.c_str()), I2C_ERROR_NOT_SUPPORTED);
    EXPECT_EQ(i2c_errmsg(i2c), "I2C not supported on " + plain_);
    EXPECT_EQ(i2c_errno(i2c), 0);
    bus.i2c_funcs = I2C_FUNC_I2C;
    ASSERT_EQ(i2c_open(i2c, plain_.c_str()), 0);
    char text[32];
    i2c_tostring(i2c, text, sizeof text);
    EXPECT_EQ(text, "I2C (fd=" + std::to_string(i2c_fd(i2c)) + ")");

    uint8_t reg = 0x10, data[2];
    bus.read_data = "\xab\xcd";
    i2c_msg msgs[2] = {{0x50, 0, 1, &reg}, {0x50, I2C_M_RD, 2, data}};
    EXPECT_EQ(i2c_transfer(i2c, msgs, 2), 0);
    EXPECT_EQ(bus.i2c_transfers, std::vector<std::string>{"50 w 10 | 50 r 2"});
    EXPECT_EQ(data[1], 0xcd);
    EXPECT_EQ(i2c_transfer(i2c, msgs, 0), I2C_ERROR_ARG);
    bus.fail_errno = EREMOTEIO;
    EXPECT_EQ(i2c_transfer(i2c, msgs, 2), I2C_ERROR_TRANSFER);
    EXPECT_STREQ(i2c_errmsg(i2c), "I2C transfer: Remote I/O error [errno 121]");
    EXPECT_EQ(i2c_close(i2c), 0);
    EXPECT_EQ(i2c_close(i2c), 0);
    i2c_free(i2c);
}

TEST_F(Files, SpiModeByteSettingsAndTransfers) {
    spi_t* spi = spi_new();
    EXPECT_EQ(spi_open(spi, plain_.c_str(), 4, 1000000), SPI_ERROR_ARG);
    EXPECT_STREQ(spi_errmsg(spi), "Invalid mode (can be 0,1,2,3)");
    EXPECT_EQ(spi_open_advanced(spi, plain_.c_str(), 0, 1000000, spi_bit_order_t(2), 8, 0), SPI_ERROR_ARG);
    EXPECT_STREQ(spi_errmsg(spi), "Invalid bit order (can be MSB_FIRST,LSB_FIRST)");
    EXPECT_EQ(spi_open(spi, plain_.c_str(), 0, 1000000), SPI_ERROR_CONFIGURE);
    EXPECT_STREQ(spi_errmsg(spi), "Setting SPI mode: Inappropriate ioctl for device [errno 25]");
    EXPECT_EQ(spi_fd(spi), -1);

    qbtest::FakeBus bus;
    ASSERT_EQ(spi_open_advanced(spi, plain_.c_str(), 3, 500000, LSB_FIRST, 16, SPI_CS_HIGH), 0);
    EXPECT_EQ(bus.spi_mode, 0x0f);
    EXPECT_EQ(spi_set_mode(spi, 1), 0);
    EXPECT_EQ(spi_set_extra_flags(spi, SPI_3WIRE), 0);
    EXPECT_EQ(bus.spi_mode, SPI_3WIRE | SPI_LSB_FIRST | 1) << "each setter keeps the other bits";
    char text[128];
    spi_tostring(spi, text, sizeof text);
    EXPECT_STREQ(strchr(text, ','), ", mode=1, max_speed=500000, bit_order=LSB_FIRST, bits_per_word=16, extra_flags=0x10)");

    const uint8_t tx[] = {1, 2, 3};
    uint8_t rx[3] = {};
    EXPECT_EQ(spi_transfer(spi, tx, rx, 3), 0);
    EXPECT_EQ(bus.spi_transfers, std::vector<std::string>{"len 3 tx 01 02 03"});
    EXPECT_EQ(rx[2], 0xfc);
    bus.fail_errno = EIO;
    EXPECT_EQ(spi_transfer(spi, tx, rx, 3), SPI_ERROR_TRANSFER);
    EXPECT_STREQ(spi_errmsg(spi), "SPI transfer: Input/output error [errno 5]");
    EXPECT_EQ(spi_close(spi), 0);
    EXPECT_EQ(spi_close(spi), 0);
    spi_free(spi);
}

TEST_F(Files, MmioMapsTheDeviceAndRefusesAccessesPastTheEnd) {
    mmio_t* mmio = mmio_new();
    qb::periphery::mmio_set_device_path(dir_.file("missing").c_str());
    EXPECT_EQ(mmio_open(mmio, 0, 16), MMIO_ERROR_OPEN);
    EXPECT_STREQ(mmio_errmsg(mmio), "Opening /dev/mem: No such file or directory [errno 2]");

    qb::periphery::mmio_set_device_path(plain_.c_str());
    const uintptr_t base = uintptr_t(page_) + 0x10;
    const size_t size = 0x20;
    ASSERT_EQ(mmio_open(mmio, base, size), 0) << mmio_errmsg(mmio);
    qb::periphery::mmio_set_device_path(nullptr);
    EXPECT_EQ(mmio_write32(mmio, 0, 0x11223344), 0);
    EXPECT_EQ(mmio_write8(mmio, size - 1, 0x99), 0);
    const uint8_t bytes[] = {0xa1, 0xa2};
    EXPECT_EQ(mmio_write(mmio, 4, bytes, 2), 0);
    uint32_t v32 = 0;
    uint16_t v16 = 0;
    EXPECT_EQ(mmio_read32(mmio, size - 4, &v32), 0);
    EXPECT_EQ(v32, 0x99000000u);
    EXPECT_EQ(mmio_read16(mmio, 4, &v16), 0);
    EXPECT_EQ(v16, 0xa2a1);
    // The shared mapping writes through to the device at base.
    EXPECT_EQ(qbtest::read_file(plain_).substr(base, 6), "\x44\x33\x22\x11\xa1\xa2");

    // Ends past the mapping, including offsets and lengths that would wrap.
    uint8_t buf[4];
    for (auto [offset, len] : {std::pair<uintptr_t, size_t>{size - 3, 4}, {size, 1}, {UINTPTR_MAX - 1, 4},
                               {4, SIZE_MAX}}) {
        EXPECT_EQ(len == 4 ? mmio_read32(mmio, offset, &v32) : mmio_write(mmio, offset, buf, len), MMIO_ERROR_ARG);
        EXPECT_STREQ(mmio_errmsg(mmio), "Offset out of bounds");
    }
    char text[64], expected[64];
    mmio_tostring(mmio, text, sizeof text);
    snprintf(expected, sizeof expected, "MMIO 0x%08zx (ptr=%p, size=32)", size_t(base), mmio_ptr(mmio));
    EXPECT_STREQ(text, expected);
    EXPECT_EQ(mmio_close(mmio), 0);
    EXPECT_EQ(mmio_close(mmio), 0);
    EXPECT_EQ(mmio_read8(mmio, 0, buf), MMIO_ERROR_ARG);
    mmio_free(mmio);
}

}  // namespace
