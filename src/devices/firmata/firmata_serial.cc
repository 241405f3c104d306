// The Firmata serial passthrough: the board's own UARTs, driven by SysEx
// frames; bytes the board received come back as reply frames.
#include <atomic>
#include <limits>
#include <vector>

#include "devices/firmata/firmata_board.h"
#include "firmata.h"
#include "sdk_logger.h"

namespace {
constexpr const char* TAG = "Firmata_serial_feature";
constexpr int kReplyMax = 1024;

std::atomic<firmata_serial_callback_func> g_callback{nullptr};

// The port travels in the low nibble of the sub-command byte.
bool valid_port(int portId) { return portId >= 0 && portId <= 0x0F; }

int send_frame(t_firmata* f, int command, std::initializer_list<uint8_t> body) {
    if (!f || !valid_port(command & 0x0F)) return -1;
    std::vector<uint8_t> msg = {0xF0, FIRMATA_SERIAL_MESSAGE, static_cast<uint8_t>(command)};
    msg.insert(msg.end(), body);
    msg.push_back(0xF7);
    return qb::firmata::send(f, msg.data(), static_cast<int>(msg.size()));
}
}  // namespace

extern "C" {

QB_API int firmata_SerialPortOpen(t_firmata* firmata, int portId, int baudrate) {
    if (portId < 0) return -1;
    if (portId >= 8) {
        LOGE(TAG, "Does not support software serial");
        return -1;
    }
    return send_frame(firmata, FIRMATA_SERIAL_CONFIG | portId,
                      {static_cast<uint8_t>(baudrate & 0x7F), static_cast<uint8_t>((baudrate >> 7) & 0x7F),
                       static_cast<uint8_t>((baudrate >> 14) & 0x7F)});
}

QB_API int firmata_SerialPortWrite(t_firmata* firmata, int portId, char* buffer_in, int length) {
    if (!firmata || !valid_port(portId)) return -1;
    if (length < 0 || (length > 0 && !buffer_in) || length > (std::numeric_limits<int>::max() - 4) / 2) {
        LOGE(TAG, "Length not match");
        return -1;
    }
    std::vector<uint8_t> msg;
    msg.reserve(static_cast<size_t>(2 * length + 4));
    msg.insert(msg.end(), {0xF0, FIRMATA_SERIAL_MESSAGE, static_cast<uint8_t>(FIRMATA_SERIAL_WRITE | portId)});
    for (int i = 0; i < length; ++i) {
        const auto b = static_cast<uint8_t>(buffer_in[i]);
        msg.push_back(b & 0x7F);
        msg.push_back((b >> 7) & 0x01);
    }
    msg.push_back(0xF7);
    return qb::firmata::send(firmata, msg.data(), static_cast<int>(msg.size()));
}

QB_API int firmata_SerialPortStartRead(t_firmata* firmata, int portId, int maxBytesToRead) {
    if (!valid_port(portId)) return -1;
    return send_frame(firmata, FIRMATA_SERIAL_READ | portId,
                      {SERIAL_MODE_CONTINUOUS_READ, static_cast<uint8_t>(maxBytesToRead & 0x7F),
                       static_cast<uint8_t>((maxBytesToRead >> 7) & 0x7F)});
}

QB_API int firmata_SerialPortStopRead(t_firmata* firmata, int portId) {
    if (!valid_port(portId)) return -1;
    return send_frame(firmata, FIRMATA_SERIAL_READ | portId, {SERIAL_MODE_STOP_READING});
}

QB_API int firmata_SerialPortClose(t_firmata* firmata, int portId) {
    if (!valid_port(portId)) return -1;
    return send_frame(firmata, FIRMATA_SERIAL_CLOSE | portId, {});
}

QB_API int firmata_SerialPortFlush(t_firmata* firmata, int portId, int maxBytesToRead) {
    if (!valid_port(portId)) return -1;
    return send_frame(firmata, FIRMATA_SERIAL_FLUSH | portId, {});
}

QB_API int firmata_SerialCallback(t_firmata* firmata) {
    if (!firmata) return -1;
    const uint8_t* b = firmata->parse_buff;
    const int n = firmata->parse_count;
    char data[kReplyMax];
    int count = 0;
    int i = 3;
    for (; i < n && b[i] != FIRMATA_END_SYSEX; i += 2) {
        // A pair must end before the end byte.
        if (count >= kReplyMax || i + 1 >= n - 1) {
            LOGE(TAG, "Fatal error: broken message");
            return -1;
        }
        data[count++] = static_cast<char>((b[i] & 0x7F) | (b[i + 1] << 7));
    }
    if (i >= n) {
        LOGE(TAG, "Fatal error: broken message");
        return -1;
    }
    if (firmata_serial_callback_func cb = g_callback.load()) cb(data, count);
    return 0;
}

QB_API int firmata_SerialRegisterCallback(t_firmata* firmata, int portId, firmata_serial_callback_func callback) {
    g_callback = callback;
    return 0;
}

}  // extern "C"
