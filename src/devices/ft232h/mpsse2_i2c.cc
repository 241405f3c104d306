// I2C master on the MPSSE: SCL on SCK, SDA on DO and DI wired together, the
// pins driving only 0. A transaction is built as one command buffer, sent in
// one USB write and answered in one read.
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <vector>

#include "devices/ft232h/mpsse2_internal.h"
#include "sdk_logger.h"

using namespace qb::mpsse;

namespace {

constexpr uint8_t kScl = BIT(0);
constexpr uint8_t kSda = BIT(1);

void append(mpsse2_handle* h, std::initializer_list<uint8_t> bytes) {
    if (h->i2c_overflow || h->i2c_buffer_pos + int(bytes.size()) > kI2cBufferSize) {
        h->i2c_overflow = true;
        return;
    }
    for (uint8_t b : bytes) h->i2c_buffer[h->i2c_buffer_pos++] = char(b);
}

// Each state is sent four times so it lasts long enough on the bus.
void line_state(mpsse2_handle* h, int scl, int sda) {
    h->port_val_l = (h->port_val_l & ~(kScl | kSda)) | (scl ? kScl : 0) | (sda ? kSda : 0);
    for (int i = 0; i < 4; i++) append(h, {SET_BITS_LOW, uint8_t(h->port_val_l), uint8_t(h->port_dir_l)});
}

void i2c_idle(mpsse2_handle* h) {
    free(h->i2c_buffer);
    h->i2c_buffer = static_cast<char*>(calloc(kI2cBufferSize, 1));
    h->i2c_buffer_pos = 0;
    h->i2c_answers = 0;
    h->i2c_overflow = h->i2c_buffer == nullptr;
    line_state(h, HIGH, HIGH);
}

void i2c_start(mpsse2_handle* h) {
    line_state(h, HIGH, LOW);
    line_state(h, LOW, LOW);
}

// From the middle of a transaction SDA must be high while SCL rises first.
void i2c_repeated_start(mpsse2_handle* h) {
    line_state(h, HIGH, HIGH);
    i2c_start(h);
}

void i2c_stop(mpsse2_handle* h) {
    line_state(h, LOW, LOW);
    line_state(h, HIGH, LOW);
    line_state(h, HIGH, HIGH);
}

// Per byte: 8 bits out on the falling edge, SDA released, the acknowledge bit
// read on the rising edge (one answer byte, the bit in bit 0).
void i2c_write_bytes(mpsse2_handle* h, const uint8_t* data, int length) {
    for (int i = 0; i < length && !h->i2c_overflow; i++) {
        append(h, {MPSSE_DO_WRITE | MPSSE_WRITE_NEG, 0x00, 0x00, data[i]});
        line_state(h, LOW, HIGH);
        append(h, {MPSSE_DO_READ | MPSSE_BITMODE, 0x00});
        h->i2c_answers++;
    }
}

// Exactly length bytes are clocked in: each acknowledged but the last, whose
// missing acknowledge tells the device to stop sending.
void i2c_read_bytes(mpsse2_handle* h, int length) {
    for (int i = 0; i < length && !h->i2c_overflow; i++) {
        uint8_t ack = i == length - 1 ? 0xFF : 0x00;
        append(h, {MPSSE_DO_READ, 0x00, 0x00});
        append(h, {MPSSE_DO_WRITE | MPSSE_BITMODE | MPSSE_WRITE_NEG, 0x00, ack});
        line_state(h, LOW, HIGH);
        h->i2c_answers++;
    }
}

uint8_t i2c_address_byte(uint8_t address, int read) { return uint8_t(address * 2 + (read != 0)); }

// Sends the transaction and collects its answers; -1 when it could not be
// built within the buffers or sent.
int i2c_transaction_end(mpsse2_handle* h, std::vector<uint8_t>& response) {
    append(h, {SEND_IMMEDIATE});
    bool fits = !h->i2c_overflow && h->i2c_answers <= kI2cAnswerSize;
    int rc = fits ? mpsse2_write(h, reinterpret_cast<uint8_t*>(h->i2c_buffer), h->i2c_buffer_pos) : -1;
    free(h->i2c_buffer);
    h->i2c_buffer = nullptr;
    h->i2c_buffer_pos = 0;
    if (!fits) LOGE(TAG, "I2C transaction too large");
    if (rc != 0) return -1;
    response.assign(kI2cAnswerSize, 0);
    response.resize(size_t(read_answers(h, response.data(), h->i2c_answers, kI2cAnswerSize)));
    return 0;
}

// The first `acks` answers are acknowledge bits of bytes we wrote.
bool acks_ok(const std::vector<uint8_t>& response, int acks) {
    for (int i = 0; i < acks; i++) {
        if (response[size_t(i)] & 1) {
            LOGE(TAG, "Verify ACK failed");
            return false;
        }
    }
    return true;
}

// A short answer (USB time-out) must not pass as acknowledged.
bool count_ok(const std::vector<uint8_t>& response, int expected, bool more_allowed) {
    int n = int(response.size());
    if (n == expected || (more_allowed && n > expected)) return true;
    LOGE(TAG, "Unexpected I2C answer, response=%d bytes, expected=%d bytes", int(response.size()), expected);
    return false;
}

// Every data byte costs 18 command bytes; a length that cannot fit is refused
// before any of the caller's data is touched.
bool length_fits(int length) {
    if (length <= kI2cBufferSize / 18) return true;
    LOGE(TAG, "I2C transaction too large");
    return false;
}

int write_transaction(mpsse2_handle* h, uint8_t address, const uint8_t* reg, const char* buffer, int length) {
    if (length < 0 || (length > 0 && !buffer) || !length_fits(length)) return -1;
    uint8_t addr = i2c_address_byte(address, 0);
    i2c_idle(h);
    i2c_start(h);
    i2c_write_bytes(h, &addr, 1);
    if (reg) i2c_write_bytes(h, reg, 1);
    i2c_write_bytes(h, reinterpret_cast<const uint8_t*>(buffer), length);
    i2c_stop(h);
    int expected = h->i2c_answers;
    std::vector<uint8_t> response;
    if (i2c_transaction_end(h, response) != 0 || !count_ok(response, expected, false)) return -1;
    return acks_ok(response, expected) ? 0 : -1;
}

int read_transaction(mpsse2_handle* h, uint8_t address, const uint8_t* reg, char* out_buffer, int length) {
    if (length <= 0 || !out_buffer || !length_fits(length)) return -1;
    i2c_idle(h);
    i2c_start(h);
    if (reg) {
        uint8_t addr = i2c_address_byte(address, 0);
        i2c_write_bytes(h, &addr, 1);
        i2c_write_bytes(h, reg, 1);
        i2c_repeated_start(h);
    }
    uint8_t addr = i2c_address_byte(address, 1);
    i2c_write_bytes(h, &addr, 1);
    int acks = h->i2c_answers;
    i2c_read_bytes(h, length);
    i2c_stop(h);
    std::vector<uint8_t> response;
    if (i2c_transaction_end(h, response) != 0 || !count_ok(response, acks + length, true) || !acks_ok(response, acks))
        return -1;
    if (int(response.size()) > acks + length) {
        if (reg)
            LOGE(TAG, "Buffer too small");
        else
            LOGE(TAG, "Buffer too small, response=%d bytes, expected=%d bytes", int(response.size()) - acks, length);
        return -1;
    }
    memcpy(out_buffer, response.data() + acks, size_t(length));
    return 0;
}

}  // namespace

extern "C" {

QB_API int mpsse2_i2c_init(MPSSE2_handle h) {
    if (!h) return -1;
    if (mpsse2_init_gpio_pin(h, I2C) != 0 || mpsse2_set_clock(h, ONE_HUNDRED_KHZ) != 0) return -1;
    // SCL and SDA (with DI) only pull low; the bus pull-ups make the highs.
    const uint8_t open_drain[] = {DRIVE_OPEN_COLLECTOR, 0x07, 0x00};
    return mpsse2_write(h, open_drain, sizeof open_drain);
}

QB_API int mpsse2_i2c_ping(MPSSE2_handle h, uint8_t address) {
    if (!h) return -1;
    uint8_t addr = i2c_address_byte(address, 0);
    i2c_idle(h);
    i2c_start(h);
    i2c_write_bytes(h, &addr, 1);
    i2c_stop(h);
    std::vector<uint8_t> response;
    if (i2c_transaction_end(h, response) != 0) return -1;
    LOGD(TAG, "ping addr=%x read %d bytes", address, int(response.size()));
    return response.size() == 1 && !(response[0] & 1) ? 0 : -1;
}

QB_API int mpsse2_i2c_write(MPSSE2_handle h, uint8_t address, char* buffer, int length) {
    if (!h) return -1;
    return write_transaction(h, address, nullptr, buffer, length);
}

QB_API int mpsse2_i2c_write_register(MPSSE2_handle h, uint8_t address, uint8_t reg, char* buffer, int length) {
    if (!h) return -1;
    return write_transaction(h, address, &reg, buffer, length);
}

QB_API int mpsse2_i2c_read(MPSSE2_handle h, uint8_t address, char* out_buffer, int length) {
    if (!h) return -1;
    return read_transaction(h, address, nullptr, out_buffer, length);
}

QB_API int mpsse2_i2c_read_register(MPSSE2_handle h, uint8_t address, uint8_t reg, char* out_buffer, int length) {
    if (!h) return -1;
    return read_transaction(h, address, &reg, out_buffer, length);
}

}  // extern "C"
