// Any text frame a Socket.IO server could send: first through the event/ack
// parser alone, whose results must all point inside the frame, then through
// the whole receive path of a session that is never started.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "sdk_config.h"
#include "sdk_logger.h"

#ifdef ENABLE_SOCKETIO_CLIENT
#include "net/socketio/socketio_internal.h"
#include "net/socketio/socketio_parse.h"

namespace {
// A copy of the frame in a block of exactly its size plus the NUL the WebSocket client adds.
char* frame_copy(const uint8_t* data, size_t size) {
    auto* buf = static_cast<char*>(malloc(size + 1));
    memcpy(buf, data, size);
    buf[size] = 0;
    return buf;
}

void inside(const char* p, const char* buf, size_t size) {
    if (!p) return;
    if (p < buf || p > buf + size || memchr(p, 0, static_cast<size_t>(buf + size + 1 - p)) == nullptr)
        __builtin_trap();
}

sio_context* session() {
    static sio_context* ctx = [] {
        sdk_set_log_level(SDK_LOG_LEVEL_NONE);
        static sio_client_cb_param hooks{};
        // Only acks: a namespace connect sleeps before reporting to onevent.
        hooks.onack = [](SIO_Handle, char* ns, char* ev, sio_payload* p, int n, int, void*) {
            size_t total = (ns ? strlen(ns) : 0) + (ev ? strlen(ev) : 0);
            for (int k = 0; k < n; k++) total += strlen(p[k].message);
            (void)total;
        };
        auto* c = static_cast<sio_context*>(SIO_Client_Init(const_cast<char*>("127.0.0.1"), 1, nullptr, nullptr,
                                                            const_cast<char*>("/chat"), sio_reconnect{}));
        c->callback = &hooks;
        return c;
    }();
    return ctx;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 1 << 20) return 0;
    sio_context* ctx = session();

    char* buf = frame_copy(data, size);
    qb::sio::parsed_packet p;
    if (qb::sio::parse_user_data(buf, size, &p)) {
        if (p.count < 0 || p.count >= RX_PAYLOAD_NUMBER || p.payloads[p.count].message) __builtin_trap();
        inside(p.namespace_, buf, size);
        inside(p.event, buf, size);
        for (int k = 0; k < p.count; k++) inside(p.payloads[k].message, buf, size);
    }
    free(buf);

    buf = frame_copy(data, size);
    engine_io_process(ctx, reinterpret_cast<engine_io_packet*>(buf), static_cast<int>(size));
    free(buf);
    return 0;
}
#else
extern "C" int LLVMFuzzerTestOneInput(const uint8_t*, size_t) { return 0; }
#endif
