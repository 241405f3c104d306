// The board's UART and I2C bus behind the sensor channel API.
#include "channel_onboard.h"

#include <json-c/json.h>

#include <cstdint>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "i2c.h"
#include "sdk_logger.h"
#include "sensor_channel_api_impl.h"
#include "serial.h"

namespace {

constexpr const char* TAG = "CHANNEL_ONBORD";
constexpr const char* kDefaultUart = "/dev/ttyUSB0";
constexpr const char* kDefaultI2c = "/dev/i2c-0";
// A kernel I2C message carries a 16-bit length.
constexpr int kMaxI2cMessage = 0xFFFF;

struct onboard_handle {
    serial_t* serial;
    i2c_t* i2c;
    std::string uart_path;
    std::string i2c_path;
};

onboard_handle* handle_of(void* h) { return static_cast<onboard_handle*>(h); }

// Reads the optional device paths; false when the file cannot be used.
bool read_paths(const char* config_file, onboard_handle* h) {
    h->uart_path = kDefaultUart;
    h->i2c_path = kDefaultI2c;
    if (!config_file || !*config_file) return true;
    json_object* root = json_object_from_file(config_file);
    if (!root || !json_object_is_type(root, json_type_object)) {
        LOGE(TAG, "Config file %s is not a JSON object", config_file);
        json_object_put(root);
        return false;
    }
    bool ok = true;
    for (auto [key, path] : {std::pair{"uart_device", &h->uart_path}, {"i2c_device", &h->i2c_path}}) {
        json_object* value = nullptr;
        if (!json_object_object_get_ex(root, key, &value)) continue;
        if (!json_object_is_type(value, json_type_string)) {
            LOGE(TAG, "Config member %s is not a text", key);
            ok = false;
            break;
        }
        *path = json_object_get_string(value);
    }
    json_object_put(root);
    return ok;
}

int channel_onboard_open(void** out_handle, char* config_file) {
    if (!out_handle) return -1;
    *out_handle = nullptr;
    auto* h = new (std::nothrow) onboard_handle{};
    if (!h) return -1;
    h->serial = serial_new();
    if (!h->serial || !read_paths(config_file, h)) {
        serial_free(h->serial);
        delete h;
        return -1;
    }
    *out_handle = h;
    return 0;
}

int channel_onboard_poll(void* h) { return h ? 0 : -1; }

int channel_onboard_pwm_init(void* h, int /*pin*/, int /*frequency*/) { return h ? 0 : -1; }

int channel_onboard_pwm_write(void* h, int /*pin*/, int duty_cycle) {
    if (!h) return -1;
    if (duty_cycle < 0 || duty_cycle > 255) {
        LOGE(TAG, "duty_cycle exceeds 255");
        return -1;
    }
    return 0;
}

int channel_onboard_servo_init(void* h, int /*pin*/) { return h ? 0 : -1; }

int channel_onboard_servo_write(void* h, int /*pin*/, int angle) {
    if (!h) return -1;
    if (angle < 0) {
        LOGE(TAG, "angle exceeds 0");
        return -1;
    }
    if (angle > 180) {
        LOGE(TAG, "angle exceeds 180");
        return -1;
    }
    return 0;
}

// 8 data bits, no parity, 1 stop bit, no flow control. Opening again first
// closes the port, so a new rate does not leak the old descriptor.
int channel_onboard_uart_open(void* h, int /*uart_idx*/, int baudrate) {
    if (!h) return -1;
    onboard_handle* o = handle_of(h);
    serial_close(o->serial);
    // A negative rate becomes one the serial layer has no speed for.
    return serial_open(o->serial, o->uart_path.c_str(), uint32_t(baudrate));
}

int channel_onboard_uart_close(void* h, int /*uart_idx*/) {
    if (!h) return -1;
    return serial_close(handle_of(h)->serial);
}

int channel_onboard_uart_write(void* h, int /*uart_idx*/, char* buffer, int length) {
    if (!h || !buffer || length < 0) return -1;
    return serial_write(handle_of(h)->serial, reinterpret_cast<const uint8_t*>(buffer), size_t(length));
}

int channel_onboard_uart_register_cb(void* h, int /*uart_idx*/, uart_callback_func /*cb*/) { return h ? 0 : -1; }

// Pins and delay belong to the adapter. A second init replaces the first record.
int channel_onboard_i2c_init(void* h, int /*sck_pin*/, int /*sda_pin*/, int /*delay*/) {
    if (!h) return -1;
    onboard_handle* o = handle_of(h);
    if (o->i2c) {
        i2c_close(o->i2c);
        i2c_free(o->i2c);
        o->i2c = nullptr;
    }
    i2c_t* i2c = i2c_new();
    if (!i2c) return -1;
    if (i2c_open(i2c, o->i2c_path.c_str()) < 0) {
        LOGE(TAG, "I2C Open failed, message=%s", i2c_errmsg(i2c));
        i2c_free(i2c);
        return -1;
    }
    o->i2c = i2c;
    return 0;
}

// One combined transfer of the messages; -1 without an adapter or on failure.
int transfer(void* h, i2c_msg* msgs, size_t count) {
    onboard_handle* o = handle_of(h);
    if (!o->i2c) {
        LOGE(TAG, "I2C not initialised");
        return -1;
    }
    if (i2c_transfer(o->i2c, msgs, count) < 0) {
        LOGE(TAG, "I2C Transfer failed, message=%s", i2c_errmsg(o->i2c));
        return -1;
    }
    return 0;
}

bool valid_size(char* buffer, int size, int limit) {
    if (size >= 0 && size <= limit && (buffer || size == 0)) return true;
    LOGE(TAG, "Bad I2C size %d", size);
    return false;
}

i2c_msg message(int address, uint16_t flags, int size, void* buffer) {
    return i2c_msg{uint16_t(address), flags, uint16_t(size), static_cast<uint8_t*>(buffer)};
}

int channel_onboard_i2c_write(void* h, int address, char* buffer, int size) {
    if (!h || !valid_size(buffer, size, kMaxI2cMessage)) return -1;
    i2c_msg msg = message(address, 0, size, buffer);
    return transfer(h, &msg, 1);
}

int channel_onboard_i2c_read(void* h, int address, char* buffer, int size) {
    if (!h || !valid_size(buffer, size, kMaxI2cMessage)) return -1;
    i2c_msg msg = message(address, I2C_M_RD, size, buffer);
    return transfer(h, &msg, 1);
}

int channel_onboard_i2c_read_register(void* h, int address, int register_address, char* buffer, int size) {
    if (!h || !valid_size(buffer, size, kMaxI2cMessage)) return -1;
    uint8_t reg[2] = {uint8_t(register_address >> 8), uint8_t(register_address)};
    i2c_msg msgs[2] = {message(address, 0, 2, reg), message(address, I2C_M_RD, size, buffer)};
    return transfer(h, msgs, 2);
}

// Register bytes and data go in one message: a second message would begin
// with a repeated start and the device would take the data for a new
// register address.
int channel_onboard_i2c_write_register(void* h, int address, int register_address, char* buffer, int size) {
    if (!h || !valid_size(buffer, size, kMaxI2cMessage - 2)) return -1;
    std::vector<uint8_t> data(size_t(size) + 2);
    data[0] = uint8_t(register_address >> 8);
    data[1] = uint8_t(register_address);
    if (size > 0) memcpy(data.data() + 2, buffer, size_t(size));
    i2c_msg msg = message(address, 0, size + 2, data.data());
    return transfer(h, &msg, 1);
}

int channel_onboard_i2c_ping(void* h, int address) {
    if (!h) return -1;
    char byte = 0;
    if (channel_onboard_i2c_write(h, address, &byte, 1) != 0) return -1;
    return channel_onboard_i2c_read(h, address, &byte, 1);
}

// Slots left null are reported as not supported.
constinit sca_impl_t onboard_impl = [] {
    sca_impl_t t{};
    t.name = "Onboard";
    t.open = channel_onboard_open;
    t.pwm_init = channel_onboard_pwm_init;
    t.pwm_write = channel_onboard_pwm_write;
    t.servo_init = channel_onboard_servo_init;
    t.servo_write = channel_onboard_servo_write;
    t.uart_open = channel_onboard_uart_open;
    t.uart_close = channel_onboard_uart_close;
    t.uart_write = channel_onboard_uart_write;
    t.uart_register_cb = channel_onboard_uart_register_cb;
    t.i2c_init = channel_onboard_i2c_init;
    t.i2c_write = channel_onboard_i2c_write;
    t.i2c_read_register = channel_onboard_i2c_read_register;
    t.i2c_write_register = channel_onboard_i2c_write_register;
    t.i2c_read = channel_onboard_i2c_read;
    t.i2c_ping = channel_onboard_i2c_ping;
    t.poll = channel_onboard_poll;
    return t;
}();

}  // namespace

extern "C" {

QB_API void Sensor_Channel_module_register_onboard(void) { Sensor_Channel_module_register(&onboard_impl); }

}  // extern "C"
