// firmata-sim: a board running standard Firmata firmware, on a pseudo-terminal.
// It answers the host's queries as the firmware does, keeps its pins, reports
// digital inputs and analog channels, drives scripted I2C devices and echoes
// its UARTs, and prints one line for every message it receives.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

constexpr int kPins = 20;  // the Arduino Uno layout
constexpr int kFirstAnalogPin = 14;
constexpr int kSamplingMs = 19;  // the firmware's default sampling interval
constexpr uint8_t MODE_INPUT = 0, MODE_OUTPUT = 1, MODE_ANALOG = 2, MODE_PWM = 3, MODE_SERVO = 4, MODE_I2C = 6,
                  MODE_PULLUP = 11;

volatile sig_atomic_t g_stop = 0;

struct Pin {
    uint8_t mode = MODE_OUTPUT;
    uint32_t value = 0;  // output level, PWM duty or servo angle
    int level = 0;       // input level, driven by a jumper
};

struct I2cDevice {
    uint8_t regs[256] = {};
    uint8_t pointer = 0;
    int delay_ms = 0;  // reply latency, as of a device that stretches the clock
};

struct Reply {
    Clock::time_point due;
    Bytes bytes;
};

struct Board {
    int fd = -1;
    std::string name = "StandardFirmata";
    Pin pins[kPins];
    bool digital_report[16] = {};
    int sent_port[16];
    uint16_t analog_report = 0;
    int analog_value[kPins - kFirstAnalogPin] = {};
    std::map<int, int> wires;  // input pin -> output pin
    std::map<int, I2cDevice> i2c;
    std::vector<Reply> pending;
    bool serial_reading[16] = {};
};

bool digital_pin(int p) { return p >= 2 && p < kPins; }
bool analog_pin(int p) { return p >= kFirstAnalogPin && p < kPins; }
bool pwm_pin(int p) { return p == 3 || p == 5 || p == 6 || p == 9 || p == 10 || p == 11; }
bool i2c_pin(int p) { return p == 18 || p == 19; }

std::string hex(const Bytes& b) {
    std::string s;
    char h[4];
    for (uint8_t c : b) {
        snprintf(h, sizeof h, "%02x", c);
        s += h;
    }
    return s;
}

// The line drops what nobody reads, as a serial line without a listener does.
void send(Board& b, const Bytes& msg) {
    size_t done = 0;
    while (done < msg.size()) {
        const ssize_t n = write(b.fd, msg.data() + done, msg.size() - done);
        if (n <= 0) return;
        done += static_cast<size_t>(n);
    }
}

void push_pair(Bytes& out, int v) {
    out.push_back(static_cast<uint8_t>(v & 0x7F));
    out.push_back(static_cast<uint8_t>((v >> 7) & 0x7F));
}

Bytes sysex(uint8_t id, const Bytes& body) {
    Bytes m(body.size() + 3);
    m[0] = 0xF0;
    m[1] = id;
    std::copy(body.begin(), body.end(), m.begin() + 2);
    m.back() = 0xF7;
    return m;
}

// 7-bit pairs as values of up to 14 bits.
std::vector<int> pairs(const Bytes& data) {
    std::vector<int> v;
    for (size_t i = 0; i + 1 < data.size(); i += 2) v.push_back(data[i] | (data[i + 1] << 7));
    return v;
}

void reset(Board& b) {
    for (int p = 0; p < kPins; ++p) {
        b.pins[p].mode = analog_pin(p) ? MODE_ANALOG : MODE_OUTPUT;
        b.pins[p].value = 0;
    }
    for (int i = 0; i < 16; ++i) {
        b.digital_report[i] = false;
        b.sent_port[i] = -1;
        b.serial_reading[i] = false;
    }
    b.analog_report = 0;
    b.pending.clear();
}

int read_port(const Board& b, int port) {
    int bits = 0;
    for (int i = 0; i < 8; ++i) {
        const int p = port * 8 + i;
        if (p < kPins && (b.pins[p].mode == MODE_INPUT || b.pins[p].mode == MODE_PULLUP) && b.pins[p].level)
            bits |= 1 << i;
    }
    return bits;
}

void report_port(Board& b, int port, bool force) {
    const int bits = read_port(b, port);
    if (!force && bits == b.sent_port[port]) return;
    b.sent_port[port] = bits;
    send(b, {static_cast<uint8_t>(0x90 | port), static_cast<uint8_t>(bits & 0x7F), static_cast<uint8_t>(bits >> 7)});
}

// Jumpers carry output levels to inputs; changed inputs of reported ports go out.
void update_inputs(Board& b) {
    for (auto [in, out] : b.wires) {
        if (in < kPins && out < kPins) b.pins[in].level = b.pins[out].mode == MODE_OUTPUT && b.pins[out].value;
    }
    for (int port = 0; port < 16; ++port)
        if (b.digital_report[port]) report_port(b, port, false);
}

void send_capabilities(Board& b) {
    Bytes body;
    for (int p = 0; p < kPins; ++p) {
        if (digital_pin(p)) body.insert(body.end(), {MODE_INPUT, 1, MODE_PULLUP, 1, MODE_OUTPUT, 1});
        if (analog_pin(p)) body.insert(body.end(), {MODE_ANALOG, 10});
        if (pwm_pin(p)) body.insert(body.end(), {MODE_PWM, 8});
        if (digital_pin(p)) body.insert(body.end(), {MODE_SERVO, 14});
        if (i2c_pin(p)) body.insert(body.end(), {MODE_I2C, 1});
        body.push_back(0x7F);
    }
    send(b, sysex(0x6C, body));
}

void send_analog_mapping(Board& b) {
    Bytes body;
    for (int p = 0; p < kPins; ++p) body.push_back(analog_pin(p) ? static_cast<uint8_t>(p - kFirstAnalogPin) : 0x7F);
    send(b, sysex(0x6A, body));
}

void send_pin_state(Board& b, int p) {
    if (p >= kPins) return;
    Bytes body = {static_cast<uint8_t>(p), b.pins[p].mode};
    uint32_t v = b.pins[p].mode == MODE_INPUT ? b.pins[p].level : b.pins[p].value;
    do {
        body.push_back(v & 0x7F);
        v >>= 7;
    } while (v);
    send(b, sysex(0x6E, body));
}

void send_string(Board& b, const char* text) {
    Bytes body;
    for (const char* c = text; *c; ++c) push_pair(body, static_cast<uint8_t>(*c));
    send(b, sysex(0x71, body));
}

void i2c_request(Board& b, const Bytes& m) {
    if (m.size() < 4) return;
    const int address = m[2];
    const int mode = (m[3] >> 3) & 3;
    const Bytes data(m.begin() + 4, m.end() - 1);
    if (mode == 0) {
        Bytes bytes;
        for (int v : pairs(data)) bytes.push_back(static_cast<uint8_t>(v));
        printf("i2c write 0x%02x %s\n", address, hex(bytes).c_str());
        auto dev = b.i2c.find(address);
        if (dev == b.i2c.end() || bytes.empty()) return;
        dev->second.pointer = bytes[0];
        for (size_t i = 1; i < bytes.size(); ++i) dev->second.regs[(bytes[0] + i - 1) & 0xFF] = bytes[i];
        return;
    }
    if (mode == 3) {
        printf("i2c stop 0x%02x\n", address);
        return;
    }
    const std::vector<int> v = pairs(data);
    if (v.empty()) return;
    const bool has_register = v.size() >= 2;
    const int count = has_register ? v[1] : v[0];
    auto dev = b.i2c.find(address);
    const int reg = has_register ? v[0] : dev != b.i2c.end() ? dev->second.pointer : 0;
    printf("i2c read 0x%02x 0x%02x %d\n", address, reg, count);
    Bytes body;
    push_pair(body, address);
    push_pair(body, reg);
    if (dev == b.i2c.end()) {
        send_string(b, "I2C: Too few bytes received");
    } else {
        for (int i = 0; i < count; ++i) push_pair(body, dev->second.regs[(reg + i) & 0xFF]);
    }
    const int delay = dev == b.i2c.end() ? 0 : dev->second.delay_ms;
    b.pending.push_back({Clock::now() + std::chrono::milliseconds(delay), sysex(0x77, body)});
}

void serial_message(Board& b, const Bytes& m) {
    if (m.size() < 4) return;
    const int command = m[2] & 0xF0, port = m[2] & 0x0F;
    const Bytes data(m.begin() + 3, m.end() - 1);
    switch (command) {
        case 0x10: {
            const int baud = data.size() >= 3 ? data[0] | data[1] << 7 | data[2] << 14 : 0;
            printf("serial config %d %d\n", port, baud);
            break;
        }
        case 0x20: {
            Bytes bytes, echo;
            for (int v : pairs(data)) bytes.push_back(static_cast<uint8_t>(v));
            printf("serial write %d %s\n", port, hex(bytes).c_str());
            if (!b.serial_reading[port]) break;
            // TX is jumpered to RX: what goes out comes back.
            for (uint8_t c : bytes) push_pair(echo, c);
            Bytes reply = {0xF0, 0x60, static_cast<uint8_t>(0x40 | port)};
            reply.insert(reply.end(), echo.begin(), echo.end());
            reply.push_back(0xF7);
            send(b, reply);
            break;
        }
        case 0x30: {
            const int mode = data.empty() ? 0 : data[0];
            const int max = data.size() >= 3 ? data[1] | data[2] << 7 : 0;
            b.serial_reading[port] = mode == 0;
            printf("serial read %d %d %d\n", port, mode, max);
            break;
        }
        case 0x50:
            b.serial_reading[port] = false;
            printf("serial close %d\n", port);
            break;
        case 0x60: printf("serial flush %d\n", port); break;
        default: printf("serial unknown 0x%02x\n", m[2]); break;
    }
}

void on_sysex(Board& b, const Bytes& m) {
    if (m.size() < 3) return;
    switch (m[1]) {
        case 0x79: {
            printf("firmware query\n");
            Bytes body = {2, 5};
            for (char c : b.name) push_pair(body, static_cast<uint8_t>(c));
            send(b, sysex(0x79, body));
            break;
        }
        case 0x6B:
            printf("capability query\n");
            send_capabilities(b);
            break;
        case 0x69:
            printf("analog mapping query\n");
            send_analog_mapping(b);
            break;
        case 0x6D:
            if (m.size() < 4) return;
            printf("pin state query %d\n", m[2]);
            send_pin_state(b, m[2]);
            break;
        case 0x6F: {
            if (m.size() < 4) return;
            uint32_t v = 0;
            for (size_t i = 3; i + 1 < m.size() && i < 7; ++i) v |= static_cast<uint32_t>(m[i]) << (7 * (i - 3));
            if (m[2] < kPins) b.pins[m[2]].value = v;
            printf("analog write %d %u\n", m[2], v);
            break;
        }
        case 0x76: i2c_request(b, m); break;
        case 0x78: printf("i2c config %d\n", m.size() >= 5 ? m[2] | m[3] << 7 : 0); break;
        case 0x60: serial_message(b, m); break;
        default: printf("unknown sysex 0x%02x\n", m[1]); break;
    }
}

void on_message(Board& b, const Bytes& m) {
    const uint8_t cmd = m[0] < 0xF0 ? m[0] & 0xF0 : m[0];
    const int low = m[0] & 0x0F;
    switch (cmd) {
        case 0x90: {
            const int bits = m[1] | m[2] << 7;
            printf("digital write port %d 0x%02x\n", low, bits);
            for (int i = 0; i < 8; ++i) {
                const int p = low * 8 + i;
                if (p < kPins && b.pins[p].mode == MODE_OUTPUT) b.pins[p].value = (bits >> i) & 1;
            }
            update_inputs(b);
            break;
        }
        case 0xE0:
            b.pins[low].value = m[1] | m[2] << 7;
            printf("analog write %d %u\n", low, b.pins[low].value);
            break;
        case 0xC0:
            if (m[1]) b.analog_report |= 1 << low;
            else b.analog_report &= ~(1 << low);
            printf("report analog %d %d\n", low, m[1]);
            break;
        case 0xD0:
            b.digital_report[low] = m[1] != 0;
            printf("report digital %d %d\n", low, m[1]);
            if (m[1]) report_port(b, low, true);
            break;
        case 0xF4:
            if (m[1] < kPins) b.pins[m[1]].mode = m[2];
            printf("pin mode %d %d\n", m[1], m[2]);
            update_inputs(b);
            break;
        case 0xF9:
            printf("version query\n");
            send(b, {0xF9, 2, 5});
            break;
        case 0xFF:
            printf("reset\n");
            reset(b);
            break;
        case 0xF0: on_sysex(b, m); break;
        default: break;
    }
}

// The firmware's own message assembly: a command byte starts a message of
// known length; SysEx runs to its end byte.
struct Assembler {
    Bytes msg;
    size_t want = 0;
    bool in_sysex = false;

    void feed(Board& b, uint8_t c) {
        if (in_sysex) {
            if (c == 0xF7) {
                msg.push_back(c);
                in_sysex = false;
                on_message(b, msg);
                msg.clear();
            } else if (c & 0x80) {
                in_sysex = false;  // a broken frame; this command starts afresh
                msg.clear();
                feed(b, c);
            } else if (msg.size() < 4096) {
                msg.push_back(c);
            }
            return;
        }
        if (c & 0x80) {
            msg.assign(1, c);
            const uint8_t cmd = c < 0xF0 ? c & 0xF0 : c;
            in_sysex = c == 0xF0;
            want = cmd == 0x90 || cmd == 0xE0 || cmd == 0xF4 ? 3 : cmd == 0xC0 || cmd == 0xD0 ? 2 : 1;
            if (in_sysex) want = 0;
        } else if (!msg.empty() && msg.size() < want) {
            msg.push_back(c);
        } else {
            return;
        }
        if (!in_sysex && msg.size() == want) {
            on_message(b, msg);
            msg.clear();
        }
    }
};

void report_analog(Board& b) {
    for (int p = kFirstAnalogPin; p < kPins; ++p) {
        const int ch = p - kFirstAnalogPin;
        if (b.pins[p].mode != MODE_ANALOG || !(b.analog_report & (1 << ch))) continue;
        const int v = b.analog_value[ch];
        send(b, {static_cast<uint8_t>(0xE0 | ch), static_cast<uint8_t>(v & 0x7F), static_cast<uint8_t>(v >> 7)});
    }
}

void usage(FILE* to = stderr) {
    fprintf(to,
            "usage: firmata-sim [--link PATH] [--name NAME] [--wire OUT:IN]... [--analog CH=VALUE]...\n"
            "                   [--i2c ADDR[:REG=HEXBYTES]...]... [--i2c-delay ADDR=MS]...\n"
            "  prints \"DEVICE <tty>\" and then one line per message from the host.\n");
}

bool parse_i2c(Board& b, const char* arg) {
    char* end = nullptr;
    const long addr = strtol(arg, &end, 0);
    if (end == arg || addr < 0 || addr > 127) return false;
    I2cDevice& dev = b.i2c[static_cast<int>(addr)];
    while (*end == ':' || *end == ',') {
        const char* p = end + 1;
        const long reg = strtol(p, &end, 0);
        if (end == p || *end != '=' || reg < 0 || reg > 255) return false;
        const char* h = end + 1;
        int i = 0;
        while (isxdigit(static_cast<unsigned char>(h[0])) && isxdigit(static_cast<unsigned char>(h[1]))) {
            const char two[3] = {h[0], h[1], 0};
            dev.regs[(reg + i++) & 0xFF] = static_cast<uint8_t>(strtol(two, nullptr, 16));
            h += 2;
        }
        end = const_cast<char*>(h);
    }
    return *end == 0;
}

bool parse_args(Board& b, int argc, char** argv, std::string* link) {
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const char* v = i + 1 < argc ? argv[i + 1] : nullptr;
        if (!v) return false;
        ++i;
        int x = 0, y = 0;
        if (a == "--link") {
            *link = v;
        } else if (a == "--name") {
            b.name = v;
        } else if (a == "--wire" && sscanf(v, "%d:%d", &x, &y) == 2 && x >= 0 && x < kPins && y >= 0 && y < kPins) {
            b.wires[y] = x;
        } else if (a == "--analog" && sscanf(v, "%d=%d", &x, &y) == 2 && x >= 0 && x < kPins - kFirstAnalogPin &&
                   y >= 0 && y < 16384) {
            b.analog_value[x] = y;
        } else if (a == "--i2c" && parse_i2c(b, v)) {
        } else if (a == "--i2c-delay" && sscanf(v, "%i=%d", &x, &y) == 2 && b.i2c.count(x) && y >= 0) {
            b.i2c[x].delay_ms = y;
        } else {
            return false;
        }
    }
    return true;
}

void on_signal(int) { g_stop = 1; }

}  // namespace

int main(int argc, char** argv) {
    Board b;
    std::string link;
    if (argc == 2 && (strcmp(argv[1], "-h") == 0 || strcmp(argv[1], "--help") == 0)) {
        usage(stdout);
        return 0;
    }
    if (!parse_args(b, argc, argv, &link)) {
        usage();
        return 2;
    }
    setvbuf(stdout, nullptr, _IOLBF, 0);
    reset(b);

    b.fd = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (b.fd < 0 || grantpt(b.fd) != 0 || unlockpt(b.fd) != 0) {
        perror("firmata-sim: pseudo-terminal");
        return 1;
    }
    const std::string tty = ptsname(b.fd);
    // Holding the board's end open keeps the line up while hosts come and go.
    const int hold = open(tty.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios t{};
    if (hold < 0 || tcgetattr(hold, &t) != 0) {
        perror("firmata-sim: terminal");
        return 1;
    }
    cfmakeraw(&t);
    tcsetattr(hold, TCSANOW, &t);
    if (!link.empty()) {
        struct stat st{};
        if (lstat(link.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) unlink(link.c_str());
        if (symlink(tty.c_str(), link.c_str()) != 0) {
            perror("firmata-sim: link");
            return 1;
        }
    }

    struct sigaction sa{};
    sa.sa_handler = on_signal;
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
    signal(SIGPIPE, SIG_IGN);

    printf("DEVICE %s\n", tty.c_str());
    Assembler in;
    auto next_sample = Clock::now();
    while (!g_stop) {
        const auto now = Clock::now();
        if (now >= next_sample) {
            report_analog(b);
            next_sample = now + std::chrono::milliseconds(kSamplingMs);
        }
        for (size_t i = 0; i < b.pending.size();) {
            if (b.pending[i].due <= now) {
                send(b, b.pending[i].bytes);
                b.pending.erase(b.pending.begin() + static_cast<long>(i));
            } else {
                ++i;
            }
        }
        auto wake = next_sample;
        for (const Reply& r : b.pending) wake = std::min(wake, r.due);
        const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(wake - Clock::now()).count();
        pollfd p{b.fd, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(wait < 0 ? 0 : wait + 1)) <= 0) continue;
        uint8_t buf[1024];
        const ssize_t n = read(b.fd, buf, sizeof buf);
        for (ssize_t i = 0; i < n; ++i) in.feed(b, buf[i]);
    }
    if (!link.empty()) unlink(link.c_str());
    close(hold);
    close(b.fd);
    return 0;
}
