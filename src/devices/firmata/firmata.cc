// The Firmata engine: board set-up, the pin mirror, the message assembler
// and handler (free of I/O apart from the replies the protocol asks for),
// and the pin, analog and report messages.
#include "firmata.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "devices/firmata/firmata_board.h"
#include "sdk_logger.h"
#include "sdk_os.h"

namespace {
constexpr const char* TAG = "Firmata";
constexpr int kPullWaitMs = 10;
constexpr unsigned kDiscardCapMs = 2000;
constexpr int kNameMax = 135;

std::atomic<firmata_gpio_callback_func> gpio_func{nullptr};
thread_local bool in_pull = false;  // a callback that polls must not wait for itself

using qb::firmata::load;
using qb::firmata::store;
using qb::firmata::valid_pin;

// 7-bit pairs (lsb, msb) from buff[from] up to the end byte, as 8-bit values.
std::string decode_pairs(const uint8_t* buff, int from, int n, size_t cap) {
    std::string out;
    for (int i = from; i + 1 < n - 1 && out.size() < cap; i += 2)
        out.push_back(static_cast<char>((buff[i] & 0x7F) | (buff[i + 1] << 7)));
    return out;
}

void on_analog(t_firmata* f, const uint8_t* b) {
    const int channel = b[0] & 0x0F;
    for (t_pin& p : f->pins) {
        if (p.analog_channel == channel) {
            store(p.value, b[1] | (b[2] << 7));
            return;
        }
    }
}

void on_digital(t_firmata* f, const uint8_t* b) {
    const int port = b[0] & 0x0F;
    const int bits = b[1] | (b[2] << 7);
    const firmata_gpio_callback_func cb = gpio_func.load();
    for (int i = 0; i < 8; ++i) {
        const int pin = port * 8 + i;
        if (load(f->pins[pin].mode) != MODE_INPUT) continue;
        const int value = (bits >> i) & 1;
        store(f->pins[pin].value, value);
        if (cb) cb(pin, value);
    }
}

void on_firmware(t_firmata* f, const uint8_t* b, int n) {
    if (n < 5) return;  // no room for the version bytes
    const std::string name = decode_pairs(b, 4, n, kNameMax);
    snprintf(f->firmware, sizeof f->firmware, "%s-%c.%c", name.c_str(), '0' + b[2], '0' + b[3]);
    LOGD(TAG, "Name :: %s", f->firmware);
    store(f->isReady, 1);
    static const uint8_t queries[] = {0xF0, FIRMATA_ANALOG_MAPPING_QUERY, 0xF7,
                                      0xF0, FIRMATA_CAPABILITY_QUERY,     0xF7};
    qb::firmata::send(f, queries, sizeof queries);
}

void on_capabilities(t_firmata* f, const uint8_t* b, int n) {
    for (t_pin& p : f->pins) store(p.supported_modes, 0);
    int pin = 0;
    bool resolution = false;
    for (int i = 2; i < n - 1 && pin < 128; ++i) {
        if (b[i] == 0x7F) {
            ++pin;
            resolution = false;
            continue;
        }
        if (!resolution && b[i] < 64) store(f->pins[pin].supported_modes, f->pins[pin].supported_modes | (1ULL << b[i]));
        resolution = !resolution;
    }
    for (int p = 0; p < 128; ++p) {
        if (!load(f->pins[p].supported_modes)) continue;
        const uint8_t query[] = {0xF0, FIRMATA_PIN_STATE_QUERY, static_cast<uint8_t>(p), 0xF7};
        qb::firmata::send(f, query, sizeof query);
    }
}

void on_analog_mapping(t_firmata* f, const uint8_t* b, int n) {
    for (int k = 2; k < n - 1 && k - 2 < 128; ++k) store(f->pins[k - 2].analog_channel, b[k]);
}

void on_pin_state(t_firmata* f, const uint8_t* b, int n) {
    if (n <= 5 || !valid_pin(b[2])) return;
    uint32_t value = b[4];
    if (n > 6) value |= b[5] << 7;
    if (n > 7) value |= b[6] << 14;
    store(f->pins[b[2]].mode, b[3]);
    store(f->pins[b[2]].value, value);
}

void on_i2c_reply(t_firmata* f, const uint8_t* b, int n) {
    if (n < 7) return;  // no room for address and register
    const int reg = (b[4] & 0x7F) | ((b[5] << 7) & 0x3F80);
    auto* bd = qb::firmata::of(f);
    std::lock_guard<std::mutex> lock(bd->slot_lock);
    if (reg != f->i2c.address) return;
    const std::string data = decode_pairs(b, 6, n, sizeof f->i2c.value);
    memcpy(f->i2c.value, data.data(), data.size());
    f->i2c.number_bytes = static_cast<uint8_t>(data.size());
    std::atomic_ref<uint8_t>(f->i2c.ok).store(1, std::memory_order_release);
}

void on_unknown(const uint8_t* b, int n) {
    LOGE(TAG, "Received unknown message");
    std::string line;
    char hex[4];
    for (int i = 0; i < n; ++i) {
        snprintf(hex, sizeof hex, "%02x ", b[i]);
        line += hex;
    }
    line += '\n';
    fwrite(line.data(), 1, line.size(), stdout);
    fflush(stdout);
}

int enable_reports(t_firmata* f, uint8_t command, int enable) {
    uint8_t msg[32];
    for (int i = 0; i < 16; ++i) {
        msg[2 * i] = static_cast<uint8_t>(command | i);
        msg[2 * i + 1] = enable ? 1 : 0;
    }
    return qb::firmata::send(f, msg, sizeof msg);
}
}  // namespace

namespace qb::firmata {

t_firmata* board_new(t_serial* serial) {
    auto* b = new (std::nothrow) board();
    if (!b) return nullptr;
    b->pub.serial = serial;
    firmata_initPins(&b->pub);
    return &b->pub;
}

int send(t_firmata* f, const void* bytes, int len) {
    std::lock_guard<std::mutex> lock(of(f)->write_lock);
    return fserial_write(f->serial, const_cast<void*>(bytes), len);
}

int enable_digital_report(t_firmata* f, int enable) { return enable_reports(f, FIRMATA_REPORT_DIGITAL, enable); }
int enable_analog_report(t_firmata* f, int enable) { return enable_reports(f, FIRMATA_REPORT_ANALOG, enable); }

}  // namespace qb::firmata

extern "C" {

QB_API t_firmata* firmata_new(char* name) {
    LOGD(TAG, "Opening device at: %s", name ? name : "(null)");
    t_serial* serial = fserial_new();
    if (!serial) {
        LOGE(TAG, "firmata_new::Failed malloc");
        return nullptr;
    }
    if (fserial_open(serial, name) != 0) {
        LOGE(TAG, "firmata_new::Failed serial open");
        free(serial);
        return nullptr;
    }
    t_firmata* f = qb::firmata::board_new(serial);
    if (!f) {
        perror("firmata_new::Failed malloc");
        fserial_close(serial);
        free(serial);
        return nullptr;
    }
    fserial_setBaud(serial, 57600);
    fserial_discardInput(serial);
    firmata_resetDeviceConfig(f);
    firmata_askFirmware(f);
    LOGD(TAG, "Device opened at: %s", name);
    return f;
}

QB_API void firmata_close(t_firmata* firmata) {
    if (!firmata) return;
    if (firmata->serial) {
        fserial_close(firmata->serial);
        free(firmata->serial);
    }
    delete qb::firmata::of(firmata);
}

QB_API int firmata_pull(t_firmata* firmata) {
    if (!firmata || in_pull) return 0;
    auto* b = qb::firmata::of(firmata);
    std::lock_guard<std::mutex> lock(b->pull_lock);
    const int r = fserial_waitInput(firmata->serial, kPullWaitMs);
    if (r <= 0) {
        if (r < 0) b->lost = true;
        return r;
    }
    uint8_t buf[FIRMATA_MSG_LEN];
    const int n = fserial_read(firmata->serial, buf, sizeof buf);
    if (n < 0) b->lost = true;
    if (n > 0) {
        in_pull = true;
        firmata_parse(firmata, buf, n);
        in_pull = false;
    }
    return n;
}

QB_API void firmata_parse(t_firmata* firmata, const uint8_t* buf, int len) {
    if (!firmata || !buf) return;
    for (int i = 0; i < len; ++i) {
        const uint8_t b = buf[i];
        const uint8_t hi = b & 0xF0;
        if (hi == FIRMATA_ANALOG_MESSAGE || hi == FIRMATA_DIGITAL_MESSAGE || b == FIRMATA_REPORT_VERSION) {
            firmata->parse_command_len = 3;
            firmata->parse_count = 0;
        } else if (hi == FIRMATA_REPORT_ANALOG || hi == FIRMATA_REPORT_DIGITAL) {
            firmata->parse_command_len = 2;
            firmata->parse_count = 0;
        } else if (b == FIRMATA_START_SYSEX) {
            firmata->parse_count = 0;
            firmata->parse_command_len = FIRMATA_MSG_LEN;
        } else if (b == FIRMATA_END_SYSEX) {
            firmata->parse_command_len = firmata->parse_count + 1;
        } else if (b & 0x80) {
            firmata->parse_command_len = 1;
            firmata->parse_count = 0;
        }
        if (firmata->parse_count < FIRMATA_MSG_LEN) firmata->parse_buff[firmata->parse_count++] = b;
        if (firmata->parse_count == firmata->parse_command_len) {
            firmata_endParse(firmata);
            firmata->parse_count = 0;
            firmata->parse_command_len = 0;
        }
    }
}

QB_API void firmata_endParse(t_firmata* firmata) {
    if (!firmata) return;
    const uint8_t* b = firmata->parse_buff;
    const int n = firmata->parse_count;
    if (n < 1 || n > FIRMATA_MSG_LEN) return;
    const uint8_t hi = b[0] & 0xF0;
    if (hi == FIRMATA_ANALOG_MESSAGE && n == 3) return on_analog(firmata, b);
    if (hi == FIRMATA_DIGITAL_MESSAGE && n == 3) return on_digital(firmata, b);
    if (n < 2 || b[0] != FIRMATA_START_SYSEX || b[n - 1] != FIRMATA_END_SYSEX) return;
    switch (b[1]) {
        case FIRMATA_REPORT_FIRMWARE: return on_firmware(firmata, b, n);
        case FIRMATA_CAPABILITY_RESPONSE: return on_capabilities(firmata, b, n);
        case FIRMATA_ANALOG_MAPPING_RESPONSE: return on_analog_mapping(firmata, b, n);
        case FIRMATA_PIN_STATE_RESPONSE: return on_pin_state(firmata, b, n);
        case FIRMATA_SERIAL_MESSAGE: firmata_SerialCallback(firmata); return;
        case FIRMATA_STRING_DATA:
            LOGD(TAG, "Received Debug message: %s", decode_pairs(b, 2, n, FIRMATA_MSG_LEN).c_str());
            return;
        case FIRMATA_I2C_REPLY: return on_i2c_reply(firmata, b, n);
        default: return on_unknown(b, n);
    }
}

QB_API void firmata_initPins(t_firmata* firmata) {
    if (!firmata) return;
    for (t_pin& p : firmata->pins) {
        store(p.mode, 0xFF);
        store(p.analog_channel, 127);
        store(p.supported_modes, 0);
        store(p.value, 0);
    }
    firmata->parse_count = 0;
    firmata->parse_command_len = 0;
    store(firmata->isReady, 0);
}

QB_API void firmata_resetDeviceConfig(t_firmata* firmata) {
    if (!firmata) return;
    const uint8_t reset = FIRMATA_SYSTEM_RESET;
    qb::firmata::send(firmata, &reset, 1);
    // A board that never stops sending must not hold the opener forever.
    const unsigned start = os_time_now_ms();
    uint8_t junk[FIRMATA_MSG_LEN];
    while (fserial_waitInput(firmata->serial, kPullWaitMs) > 0) {
        if (fserial_read(firmata->serial, junk, sizeof junk) < 0) break;
        if (os_time_now_ms() - start >= kDiscardCapMs) {
            LOGW(TAG, "Board keeps sending; discard stopped");
            break;
        }
    }
}

QB_API int firmata_askFirmware(t_firmata* firmata) {
    if (!firmata) return -1;
    static const uint8_t ask[] = {0xF0, FIRMATA_REPORT_FIRMWARE, 0xF7};
    return qb::firmata::send(firmata, ask, sizeof ask);
}

QB_API int firmata_pinMode(t_firmata* firmata, int pin, int mode) {
    if (!firmata || !valid_pin(pin) || mode < 0 || mode > 127) return -1;
    store(firmata->pins[pin].mode, mode);
    const uint8_t msg[] = {FIRMATA_SET_PIN_MODE, static_cast<uint8_t>(pin), static_cast<uint8_t>(mode)};
    return qb::firmata::send(firmata, msg, sizeof msg);
}

QB_API int firmata_digitalWrite(t_firmata* firmata, int pin, int value) {
    if (!firmata) return -1;
    if (!valid_pin(pin)) return 0;
    auto* b = qb::firmata::of(firmata);
    // The port byte is built and sent under the write lock so that writes to
    // two pins of one port cannot leave the older byte last on the wire.
    std::lock_guard<std::mutex> lock(b->write_lock);
    store(firmata->pins[pin].value, value);
    const int port = pin / 8;
    int bits = 0;
    for (int i = 0; i < 8; ++i) {
        t_pin& p = firmata->pins[port * 8 + i];
        const uint8_t mode = load(p.mode);
        if ((mode == MODE_OUTPUT || mode == MODE_INPUT) && load(p.value)) bits |= 1 << i;
    }
    uint8_t msg[] = {static_cast<uint8_t>(FIRMATA_DIGITAL_MESSAGE | port), static_cast<uint8_t>(bits & 0x7F),
                     static_cast<uint8_t>((bits >> 7) & 0x7F)};
    return fserial_write(firmata->serial, msg, sizeof msg);
}

QB_API int firmata_digitalRead(t_firmata* firmata, int pin) {
    if (!firmata || !valid_pin(pin)) return -1;
    return static_cast<int>(load(firmata->pins[pin].value));
}

QB_API int firmata_analogWrite(t_firmata* firmata, int pin, int value) {
    if (!firmata || !valid_pin(pin)) return -1;
    const uint8_t lsb = value & 0x7F, msb = (value >> 7) & 0x7F;
    if (pin < 16) {
        const uint8_t msg[] = {static_cast<uint8_t>(FIRMATA_ANALOG_MESSAGE | pin), lsb, msb};
        return qb::firmata::send(firmata, msg, sizeof msg);
    }
    const uint8_t msg[] = {0xF0, FIRMATA_EXTENDED_ANALOG, static_cast<uint8_t>(pin), lsb, msb, 0xF7};
    return qb::firmata::send(firmata, msg, sizeof msg);
}

QB_API int firmata_analogRead(t_firmata* firmata, int pin, int* value) {
    if (!firmata || !value || !valid_pin(pin)) return -1;
    *value = static_cast<int>(load(firmata->pins[pin].value));
    return 0;
}

QB_API void firmata_EnableDigitalReport(t_firmata* firmata, int enable) {
    if (firmata) enable_reports(firmata, FIRMATA_REPORT_DIGITAL, enable);
}

QB_API void firmata_EnableAnalogReport(t_firmata* firmata, int enable) {
    if (firmata) enable_reports(firmata, FIRMATA_REPORT_ANALOG, enable);
}

QB_API void firmata_RegisterGpioCallback(t_firmata* firmata, firmata_gpio_callback_func func) { gpio_func = func; }

}  // extern "C"
