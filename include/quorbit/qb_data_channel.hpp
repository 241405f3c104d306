/*
 * Data channels in C++ (data_channel.h); conventions in qb_result.hpp.
 *
 *   qb::DataChannel::init_modules();
 *   qb::DataChannel::register_websocket_server();
 *   auto ch = qb::DataChannel::open("websocket_server", "channel.json",
 *                                   [](std::string_view block) { ... });
 *
 * The library never closes a channel, so neither does the owner: its
 * destructor only detaches the handler (it waits for a running call to end
 * and must not run inside the handler). The channel and a small slot that
 * held the handler stay with the library for the process's life.
 */
#ifndef QB_DATA_CHANNEL_HPP
#define QB_DATA_CHANNEL_HPP

#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>

#include "data_channel.h"
#include "qb_result.hpp"
#include "sdk_config.h"

namespace qb {

class DataChannel {
public:
    // Received blocks, on the transport's thread; valid only during the call.
    using Handler = std::function<void(std::string_view block)>;

    static void init_modules() { DC_module_Init(); }
#ifdef ENABLE_WEBSOCKET_SERVER
    static void register_websocket_server() { DC_module_register_websocket_server(); }
#endif
#ifdef ENABLE_WEBSOCKET_CLIENT
    static void register_websocket_client() { DC_module_register_websocket_client(); }
#endif

    // DC_Init with the module name and its JSON configuration file.
    static Result<DataChannel> open(std::string_view module, std::string_view config_file, Handler handler = {}) {
        auto* slot = new Slot{{}, std::move(handler)};
        DC_Handle h = DC_Init(detail::CStr(module), &on_block, slot, detail::CStr(config_file));
        if (!h) {
            delete slot;
            return Error{-1, "DC_Init"};
        }
        return DataChannel(h, slot);
    }

    DataChannel(DataChannel&& o) noexcept : h_(std::exchange(o.h_, nullptr)), slot_(std::exchange(o.slot_, nullptr)) {}
    DataChannel& operator=(DataChannel&& o) noexcept {
        if (this != &o) {
            detach();
            h_ = std::exchange(o.h_, nullptr);
            slot_ = std::exchange(o.slot_, nullptr);
        }
        return *this;
    }
    ~DataChannel() { detach(); }

    // The module's count (or 0) when sent.
    Result<int> send(std::string_view block) {
        if (!detail::fits_int(block.size())) return Error{-1, "DC_Transfer"};
        return detail::count(DC_Transfer(h_, detail::bytes(block), static_cast<int>(block.size())), "DC_Transfer");
    }
    // For modules that are read rather than pushing blocks.
    Result<std::string> receive() {
        char* data = nullptr;
        int size = 0;
        if (int rc = DC_Receive(h_, &data, &size); rc < 0) return Error{rc, "DC_Receive"};
        return detail::take(data, size);
    }
    DC_Handle native() const { return h_; }

private:
    struct Slot {
        std::mutex lock;
        Handler handler;
    };
    DataChannel(DC_Handle h, Slot* s) : h_(h), slot_(s) {}
    void detach() {
        if (!slot_) return;
        std::lock_guard<std::mutex> g(slot_->lock);
        slot_->handler = nullptr;
        slot_ = nullptr;
        h_ = nullptr;
    }
    static void on_block(DC_Handle, char* data, int length, void* user) noexcept {
        auto* s = static_cast<Slot*>(user);
        std::lock_guard<std::mutex> g(s->lock);
        if (s->handler) s->handler(detail::view(data, length));
    }
    DC_Handle h_;
    Slot* slot_;  // owned by the channel's record from open on
};

}  // namespace qb

#endif /* QB_DATA_CHANNEL_HPP */
