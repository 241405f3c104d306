// The "Firmata" sensor channel: a board behind the sensor channel API, with
// a thread that receives for it while the channel is open.
#include "channel_firmata.h"

#include <json-c/json.h>
#include <pthread.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <string>
#include <system_error>
#include <thread>

#include "devices/firmata/firmata_board.h"
#include "firmata.h"
#include "sdk_file_ops.h"
#include "sdk_logger.h"
#include "sdk_os.h"
#include "sensor_channel_api_impl.h"

namespace {
constexpr const char* TAG = "CHANNEL_FIRMATA";
constexpr const char* kDefaultDevice = "/dev/ttyUSB0";
constexpr int kReadyPulls = 1000;  // about 10 s of 10 ms waits
constexpr int kSettleSeconds = 2;  // capability, mapping and pin states arrive meanwhile

struct firmata_handle {
    t_firmata* firmata;
    std::atomic<int> thread_running{0};
    std::thread thread;
};

firmata_handle* as_handle(void* h) { return static_cast<firmata_handle*>(h); }

// The board of a live channel; null (logged) when the device is gone.
t_firmata* live(void* h) {
    if (!h) return nullptr;
    t_firmata* f = as_handle(h)->firmata;
    if (qb::firmata::of(f)->lost) {
        LOGE(TAG, "Firmata device lost");
        return nullptr;
    }
    return f;
}

// Fire-and-forget operations report a failed send, and 0 for success.
int status(int r) { return r < 0 ? r : 0; }

// The device path: the configuration's "device" or "port" string, else the default.
bool device_path(const char* config_file, std::string* path) {
    *path = kDefaultDevice;
    if (!config_file) return true;
    char* text = File_Read_String(const_cast<char*>(config_file));
    if (!text) {
        LOGE(TAG, "Firmata config %s unreadable", config_file);
        return false;
    }
    json_object* root = json_tokener_parse(text);
    free(text);
    if (!root) {
        LOGE(TAG, "Firmata config %s is not JSON", config_file);
        return false;
    }
    for (const char* key : {"device", "port"}) {
        json_object* v = nullptr;
        if (json_object_object_get_ex(root, key, &v) && json_object_is_type(v, json_type_string)) {
            *path = json_object_get_string(v);
            break;
        }
    }
    json_object_put(root);
    return true;
}

void pull_loop(firmata_handle* h) {
    if (!h->firmata) {
        LOGE(TAG, "paramter failed");
        return;
    }
    LOGD(TAG, "Firmata Start pooling");
    while (h->thread_running.load()) {
        if (firmata_pull(h->firmata) < 0) {
            LOGE(TAG, "Firmata device lost");
            break;
        }
    }
    LOGD(TAG, "Firmata thread exits");
}

int channel_firmata_open(void** out_handle, char* config_file) {
    if (!out_handle) return -1;
    *out_handle = nullptr;
    std::string path;
    t_firmata* f = device_path(config_file, &path) ? firmata_new(path.data()) : nullptr;
    for (int pulls = 0; f && !qb::firmata::load(f->isReady) && pulls < kReadyPulls; ++pulls)
        if (firmata_pull(f) < 0) break;
    auto* h = f && qb::firmata::load(f->isReady) ? new (std::nothrow) firmata_handle() : nullptr;
    if (h) {
        h->firmata = f;
        h->thread_running = 1;
        try {
            h->thread = std::thread(pull_loop, h);
            pthread_setname_np(h->thread.native_handle(), "firmata pull");
        } catch (const std::system_error&) {
            delete h;
            h = nullptr;
        }
    }
    if (!h) {
        LOGE(TAG, "Firmata start failed");
        firmata_close(f);
        return -1;
    }
    LOGD(TAG, "READY");
    os_sleep(kSettleSeconds);
    *out_handle = h;
    return 0;
}

int channel_firmata_close(void* handle) {
    firmata_handle* h = as_handle(handle);
    if (!h) return -1;
    if (h->thread.get_id() == std::this_thread::get_id()) {
        LOGE(TAG, "A Firmata callback cannot close its own channel");
        return -1;
    }
    h->thread_running = 0;
    if (h->thread.joinable()) h->thread.join();
    firmata_close(h->firmata);
    delete h;
    return 0;
}

int channel_firmata_gpio_init(void* h, int pin, int mode) {
    t_firmata* f = live(h);
    if (!f) return -1;
    if (mode == GPIO_MODE_OUT) return status(firmata_pinMode(f, pin, MODE_OUTPUT));
    if (mode != GPIO_MODE_IN) {
        LOGE(TAG, "Unsupported mode");
        return -1;
    }
    LOGD(TAG, "Enable digital report");
    const int r = qb::firmata::enable_digital_report(f, 1);
    return status(r < 0 ? r : firmata_pinMode(f, pin, MODE_INPUT));
}

int channel_firmata_gpio_write(void* h, int pin, int value) {
    t_firmata* f = live(h);
    return f ? status(firmata_digitalWrite(f, pin, value)) : -1;
}

int channel_firmata_gpio_read(void* h, int pin, int* value) {
    t_firmata* f = live(h);
    const int v = f && value ? firmata_digitalRead(f, pin) : -1;
    if (v < 0) return -1;
    *value = v;
    return 0;
}

int channel_firmata_gpio_register_cb(void* h, gpio_callback_func cb) {
    t_firmata* f = live(h);
    if (!f) return -1;
    firmata_RegisterGpioCallback(f, cb);
    return 0;
}

int channel_firmata_analog_init(void* h, int pin, int mode) {
    t_firmata* f = live(h);
    if (!f) return -1;
    const int r = firmata_pinMode(f, pin, MODE_ANALOG);
    return status(r < 0 ? r : qb::firmata::enable_analog_report(f, 1));
}

int channel_firmata_analog_write(void* h, int pin, int value) {
    t_firmata* f = live(h);
    return f ? firmata_analogWrite(f, pin, value) : -1;
}

int channel_firmata_analog_read(void* h, int pin, int* value) {
    t_firmata* f = live(h);
    return f ? firmata_analogRead(f, pin, value) : -1;
}

int channel_firmata_poll(void* h) {
    t_firmata* f = live(h);
    if (!f) return -1;
    return firmata_pull(f) < 0 ? -1 : 0;
}

int channel_firmata_pwm_init(void* h, int pin, int frequency) {
    t_firmata* f = live(h);
    return f ? status(firmata_pinMode(f, pin, MODE_PWM)) : -1;
}

int channel_firmata_pwm_write(void* h, int pin, int duty_cycle) {
    t_firmata* f = live(h);
    if (!f) return -1;
    if (duty_cycle < 0 || duty_cycle > 255) {
        LOGE(TAG, "duty_cycle exceeds 255");
        return -1;
    }
    return status(firmata_analogWrite(f, pin, duty_cycle));
}

int channel_firmata_servo_init(void* h, int pin) {
    t_firmata* f = live(h);
    return f ? status(firmata_pinMode(f, pin, MODE_SERVO)) : -1;
}

int channel_firmata_servo_write(void* h, int pin, int angle) {
    t_firmata* f = live(h);
    if (!f) return -1;
    if (angle < 0) {
        LOGE(TAG, "angle exceeds 0");
        return -1;
    }
    if (angle > 180) {
        LOGE(TAG, "angle exceeds 180");
        return -1;
    }
    return status(firmata_analogWrite(f, pin, angle));
}

int channel_firmata_uart_open(void* h, int uart_idx, int baudrate) {
    t_firmata* f = live(h);
    if (!f) return -1;
    const int r = firmata_SerialPortOpen(f, uart_idx, baudrate);
    return status(r < 0 ? r : firmata_SerialPortStartRead(f, uart_idx, 0));
}

int channel_firmata_uart_close(void* h, int uart_idx) {
    t_firmata* f = live(h);
    return f ? firmata_SerialPortClose(f, uart_idx) : -1;
}

int channel_firmata_uart_write(void* h, int uart_idx, char* buffer, int length) {
    t_firmata* f = live(h);
    return f ? firmata_SerialPortWrite(f, uart_idx, buffer, length) : -1;
}

int channel_firmata_uart_register_cb(void* h, int uart_idx, uart_callback_func cb) {
    t_firmata* f = live(h);
    return f ? firmata_SerialRegisterCallback(f, uart_idx, cb) : -1;
}

int channel_firmata_i2c_init(void* h, int sck_pin, int sda_pin, int delay) {
    t_firmata* f = live(h);
    if (!f) return -1;
    const int r = firmata_pinMode(f, sck_pin, MODE_I2C);
    return status(r < 0 ? r : firmata_pinMode(f, sda_pin, MODE_I2C));
}

int channel_firmata_i2c_write(void* h, int address, char* buffer, int size) {
    t_firmata* f = live(h);
    return f ? status(firmata_I2CWriteBytes(f, address & 0xFF, buffer, size)) : -1;
}

int channel_firmata_i2c_read_register(void* h, int address, int register_address, char* buffer, int size) {
    t_firmata* f = live(h);
    return f ? firmata_I2CReadRegisterBytes(f, address & 0xFF, register_address & 0xFF, size,
                                            reinterpret_cast<uint8_t*>(buffer))
             : -1;
}

int channel_firmata_i2c_write_register(void* h, int address, int register_address, char* buffer, int size) {
    t_firmata* f = live(h);
    if (!f || size < 0 || (size > 0 && !buffer)) return -1;
    for (int i = 0; i < size; ++i) {
        const int r = firmata_I2CWriteRegisterBytes(f, address & 0xFF, register_address & 0xFF, buffer[i]);
        if (r < 0) return r;
    }
    return 0;
}

sca_impl_t make_table() {
    sca_impl_t t{};
    t.name = "Firmata";
    t.open = channel_firmata_open;
    t.close = channel_firmata_close;
    t.gpio_init = channel_firmata_gpio_init;
    t.gpio_write = channel_firmata_gpio_write;
    t.gpio_read = channel_firmata_gpio_read;
    t.gpio_register_cb = channel_firmata_gpio_register_cb;
    t.analog_init = channel_firmata_analog_init;
    t.analog_write = channel_firmata_analog_write;
    t.analog_read = channel_firmata_analog_read;
    t.pwm_init = channel_firmata_pwm_init;
    t.pwm_write = channel_firmata_pwm_write;
    t.servo_init = channel_firmata_servo_init;
    t.servo_write = channel_firmata_servo_write;
    t.uart_open = channel_firmata_uart_open;
    t.uart_close = channel_firmata_uart_close;
    t.uart_write = channel_firmata_uart_write;
    t.uart_register_cb = channel_firmata_uart_register_cb;
    t.i2c_init = channel_firmata_i2c_init;
    t.i2c_write = channel_firmata_i2c_write;
    t.i2c_read_register = channel_firmata_i2c_read_register;
    t.i2c_write_register = channel_firmata_i2c_write_register;
    t.poll = channel_firmata_poll;
    return t;
}

sca_impl_t firmata_impl = make_table();
}  // namespace

extern "C" QB_API void Sensor_Channel_module_register_firmata(void) { Sensor_Channel_module_register(&firmata_impl); }
