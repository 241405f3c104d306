// The Firmata stream parser over arbitrary device bytes, on a board without a
// line (its replies fail quietly).
#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "sdk_config.h"
#include "sdk_logger.h"

#ifdef ENABLE_CHANNEL_FIRMATA
#include "devices/firmata/firmata_board.h"

namespace {
void on_gpio(int, int) {}
int on_serial(char*, int) { return 0; }
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool once = [] {
        sdk_set_log_level(SDK_LOG_LEVEL_NONE);
        freopen("/dev/null", "w", stdout);  // unknown messages are dumped there
        firmata_RegisterGpioCallback(nullptr, on_gpio);
        firmata_SerialRegisterCallback(nullptr, 0, on_serial);
        return true;
    }();
    (void)once;
    t_firmata* f = qb::firmata::board_new(nullptr);
    if (!f) return 0;
    // Some pins as inputs so digital messages reach the callback.
    for (int p = 0; p < 128; p += 3) f->pins[p].mode = MODE_INPUT;
    firmata_parse(f, data, static_cast<int>(size));
    firmata_close(f);
    return 0;
}
#else
extern "C" int LLVMFuzzerTestOneInput(const uint8_t*, size_t) { return 0; }
#endif
