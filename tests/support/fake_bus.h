// Stands in for I2C adapters and spidev devices at the ioctl call of the
// peripheral layer: the kernel requests the layer builds are recorded as
// text, reads are answered from a script. Installed for the fixture's life.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qbtest {

struct FakeBus {
    FakeBus();
    ~FakeBus();
    FakeBus(const FakeBus&) = delete;
    FakeBus& operator=(const FakeBus&) = delete;

    unsigned long i2c_funcs;  // the adapter's I2C_FUNCS answer (plain I2C by default)
    int fail_errno = 0;       // non-zero: transfers fail with this error
    // One line per I2C_RDWR: messages as "50 w 01 02" / "50 r 4", joined by " | ".
    std::vector<std::string> i2c_transfers;
    std::string read_data;  // handed out to read messages in order

    uint8_t spi_mode = 0;
    uint32_t spi_speed = 0;
    uint8_t spi_bits = 0;
    // One line per SPI message: "len 3 tx 01 02 03"; the receive side is filled with ~tx.
    std::vector<std::string> spi_transfers;
};

}  // namespace qbtest
