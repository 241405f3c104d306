// I2C over Firmata: requests, and register reads that wait for the reply
// the receiving thread files in the board's reply slot.
#include <cstring>
#include <limits>
#include <vector>

#include "devices/firmata/firmata_board.h"
#include "firmata.h"
#include "sdk_logger.h"
#include "sdk_os.h"

namespace {
constexpr const char* TAG = "Firmata_I2C";
constexpr int kReplyWaitMs = 1000;
constexpr int kMaxDelayUs = 0x3FFF;  // 14 bits

bool valid_address(uint8_t address) {
    if (address < 0x80) return true;
    LOGE(TAG, "Bad I2C address 0x%02x", address);
    return false;
}
}  // namespace

extern "C" {

QB_API int firmata_I2CRequest(t_firmata* firmata, char* bytes, int len) {
    if (!firmata || !bytes || len < 4) return -1;
    if (bytes[3] & FIRMATA_I2C_READ_MASK) bytes[3] |= 0x40;  // reads restart rather than stop
    return qb::firmata::send(firmata, bytes, len);
}

QB_API int firmata_I2CWriteBytes(t_firmata* firmata, uint8_t slaveAddress, char* bytes, int len) {
    if (!firmata || len < 0 || (len > 0 && !bytes) || !valid_address(slaveAddress)) return -1;
    if (len > (std::numeric_limits<int>::max() - 5) / 2) return -1;
    std::vector<char> msg;
    msg.reserve(static_cast<size_t>(2 * len + 5));
    msg.insert(msg.end(), {static_cast<char>(0xF0), FIRMATA_I2C_REQUEST, static_cast<char>(slaveAddress), 0x00});
    for (int i = 0; i < len; ++i) {
        const auto b = static_cast<uint8_t>(bytes[i]);
        msg.push_back(static_cast<char>(b & 0x7F));
        msg.push_back(static_cast<char>((b >> 7) & 0x01));
    }
    msg.push_back(static_cast<char>(0xF7));
    return firmata_I2CRequest(firmata, msg.data(), static_cast<int>(msg.size()));
}

QB_API int firmata_I2CReadBytes(t_firmata* firmata, uint8_t slaveAddress, int num_bytes) {
    if (!firmata || num_bytes < 0 || !valid_address(slaveAddress)) return -1;
    char msg[] = {static_cast<char>(0xF0), FIRMATA_I2C_REQUEST, static_cast<char>(slaveAddress),
                  I2C_MODES_READ << 3,     static_cast<char>(num_bytes & 0x7F), static_cast<char>((num_bytes >> 7) & 0x7F),
                  static_cast<char>(0xF7)};
    return firmata_I2CRequest(firmata, msg, sizeof msg);
}

QB_API int firmata_I2CWriteRegisterBytes(t_firmata* firmata, uint8_t address, uint8_t register_addr, uint8_t byte) {
    char data[] = {static_cast<char>(register_addr), static_cast<char>(byte)};
    return firmata_I2CWriteBytes(firmata, address, data, 2);
}

QB_API int firmata_I2CReadRegisterBytes(t_firmata* firmata, uint8_t slaveAddress, uint8_t register_address,
                                        int bytesToRead, uint8_t* out_buffer) {
    if (!firmata || bytesToRead < 0 || (bytesToRead > 0 && !out_buffer) || !valid_address(slaveAddress)) return -1;
    auto* b = qb::firmata::of(firmata);
    std::lock_guard<std::mutex> one_read(b->i2c_lock);
    std::atomic_ref<uint8_t> ok(firmata->i2c.ok);
    {
        std::lock_guard<std::mutex> slot(b->slot_lock);
        firmata->i2c.address = register_address;
        firmata->i2c.number_bytes = static_cast<uint8_t>(bytesToRead > 255 ? 255 : bytesToRead);
        ok.store(0, std::memory_order_relaxed);
    }
    char msg[] = {static_cast<char>(0xF0),
                  FIRMATA_I2C_REQUEST,
                  static_cast<char>(slaveAddress),
                  I2C_MODES_READ << 3,
                  static_cast<char>(register_address & 0x7F),
                  static_cast<char>((register_address >> 7) & 0x01),
                  static_cast<char>(bytesToRead & 0x7F),
                  static_cast<char>((bytesToRead >> 7) & 0x7F),
                  static_cast<char>(0xF7)};
    if (firmata_I2CRequest(firmata, msg, sizeof msg) < 0) return -1;
    int left = kReplyWaitMs;
    while (!ok.load(std::memory_order_acquire)) {
        if (left-- <= 0) {
            LOGE(TAG, "I2C Read timeout!");
            return -1;
        }
        os_msleep(1);
    }
    std::lock_guard<std::mutex> slot(b->slot_lock);
    const int n = firmata->i2c.number_bytes < bytesToRead ? firmata->i2c.number_bytes : bytesToRead;
    memcpy(out_buffer, firmata->i2c.value, static_cast<size_t>(n));
    // The firmware answers a device that did not respond with fewer bytes.
    if (n < bytesToRead) {
        LOGE(TAG, "I2C Read short reply: %d of %d bytes", n, bytesToRead);
        return -1;
    }
    return 0;
}

QB_API int firmata_I2CStopReading(t_firmata* firmata, uint8_t slaveAddress) {
    if (!firmata || !valid_address(slaveAddress)) return -1;
    char msg[] = {static_cast<char>(0xF0), FIRMATA_I2C_REQUEST, static_cast<char>(slaveAddress),
                  I2C_MODES_STOP_READING << 3, static_cast<char>(0xF7)};
    return firmata_I2CRequest(firmata, msg, sizeof msg);
}

QB_API int firmata_I2Config(t_firmata* firmata, int delay) {
    if (!firmata || delay < 0 || delay > kMaxDelayUs) return -1;
    const uint8_t msg[] = {0xF0, FIRMATA_I2C_CONFIG, static_cast<uint8_t>(delay & 0x7F),
                           static_cast<uint8_t>((delay >> 7) & 0x7F), 0xF7};
    return qb::firmata::send(firmata, msg, sizeof msg);
}

}  // extern "C"
