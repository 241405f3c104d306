#include "support/fake_bus.h"

#include "sdk_config.h"

#ifdef ENABLE_CHANNEL_ONBOARD

#include <linux/spi/spidev.h>

#include <cerrno>
#include <cstdio>

#include "devices/periphery/periphery_internal.h"

namespace qbtest {

namespace {

FakeBus* g_bus = nullptr;

std::string bytes_text(const uint8_t* p, size_t n) {
    std::string s;
    char b[4];
    for (size_t i = 0; i < n; i++) {
        snprintf(b, sizeof b, " %02x", p[i]);
        s += b;
    }
    return s;
}

int i2c_rdwr(FakeBus& bus, i2c_rdwr_ioctl_data* data) {
    std::string line;
    for (uint32_t i = 0; i < data->nmsgs; i++) {
        const i2c_msg& m = data->msgs[i];
        char head[32];
        bool rd = m.flags & I2C_M_RD;
        snprintf(head, sizeof head, "%s%02x %s", i ? " | " : "", m.addr, rd ? "r" : "w");
        line += head;
        if (!rd) {
            line += bytes_text(m.buf, m.len);
            continue;
        }
        line += " " + std::to_string(m.len);
        for (uint16_t k = 0; k < m.len && !bus.read_data.empty(); k++) {
            m.buf[k] = uint8_t(bus.read_data[0]);
            bus.read_data.erase(0, 1);
        }
    }
    bus.i2c_transfers.push_back(line);
    return int(data->nmsgs);
}

int fake_ioctl(int, unsigned long request, void* arg) {
    FakeBus& bus = *g_bus;
    if (bus.fail_errno && (request == I2C_RDWR || request == SPI_IOC_MESSAGE(1))) {
        errno = bus.fail_errno;
        return -1;
    }
    switch (request) {
        case I2C_FUNCS: *static_cast<unsigned long*>(arg) = bus.i2c_funcs; return 0;
        case I2C_RDWR: return i2c_rdwr(bus, static_cast<i2c_rdwr_ioctl_data*>(arg));
        case SPI_IOC_RD_MODE: *static_cast<uint8_t*>(arg) = bus.spi_mode; return 0;
        case SPI_IOC_WR_MODE: bus.spi_mode = *static_cast<uint8_t*>(arg); return 0;
        case SPI_IOC_RD_LSB_FIRST: *static_cast<uint8_t*>(arg) = (bus.spi_mode & SPI_LSB_FIRST) != 0; return 0;
        case SPI_IOC_WR_LSB_FIRST:
            bus.spi_mode = uint8_t((bus.spi_mode & ~SPI_LSB_FIRST) | (*static_cast<uint8_t*>(arg) ? SPI_LSB_FIRST : 0));
            return 0;
        case SPI_IOC_RD_MAX_SPEED_HZ: *static_cast<uint32_t*>(arg) = bus.spi_speed; return 0;
        case SPI_IOC_WR_MAX_SPEED_HZ: bus.spi_speed = *static_cast<uint32_t*>(arg); return 0;
        case SPI_IOC_RD_BITS_PER_WORD: *static_cast<uint8_t*>(arg) = bus.spi_bits; return 0;
        case SPI_IOC_WR_BITS_PER_WORD: bus.spi_bits = *static_cast<uint8_t*>(arg); return 0;
        case SPI_IOC_MESSAGE(1): {
            auto* x = static_cast<spi_ioc_transfer*>(arg);
            auto* tx = reinterpret_cast<const uint8_t*>(uintptr_t(x->tx_buf));
            auto* rx = reinterpret_cast<uint8_t*>(uintptr_t(x->rx_buf));
            bus.spi_transfers.push_back("len " + std::to_string(x->len) + " tx" + bytes_text(tx, x->len));
            for (uint32_t i = 0; i < x->len; i++) rx[i] = uint8_t(~tx[i]);
            return int(x->len);
        }
    }
    errno = ENOTTY;
    return -1;
}

}  // namespace

FakeBus::FakeBus() : i2c_funcs(I2C_FUNC_I2C) {
    g_bus = this;
    qb::periphery::periphery_set_ioctl(fake_ioctl);
}

FakeBus::~FakeBus() {
    qb::periphery::periphery_set_ioctl(nullptr);
    g_bus = nullptr;
}

}  // namespace qbtest

#endif  // ENABLE_CHANNEL_ONBOARD
