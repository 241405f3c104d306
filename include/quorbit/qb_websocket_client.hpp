/*
 * The WebSocket client in C++ (websocket_client.h); conventions in
 * qb_result.hpp. Every hook runs on the client's service thread and gets
 * the connection to send through; none of them may destroy the client.
 */
#ifndef QB_WEBSOCKET_CLIENT_HPP
#define QB_WEBSOCKET_CLIENT_HPP

#include "sdk_config.h"
#ifdef ENABLE_WEBSOCKET_CLIENT

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "qb_result.hpp"
#include "websocket_client.h"

namespace qb {

// The client's connection, not owned: what hooks send through.
class WsConnection {
public:
    explicit WsConnection(WS_Handle h = nullptr) : h_(h) {}
    bool connected() const { return WS_Client_Connected(h_) > 0; }
    Result<void> send_text(std::string_view text) const { return send(text, 0); }
    Result<void> send_binary(std::string_view data) const { return send(data, 1); }
    WS_Handle native() const { return h_; }

protected:
    Result<void> send(std::string_view data, int flag) const {
        if (!detail::fits_int(data.size())) return Error{-1, "WS_Client_Send"};
        return detail::check(WS_Client_Send(h_, detail::bytes(data), static_cast<int>(data.size()), flag, 0),
                             "WS_Client_Send");
    }
    WS_Handle h_;
};

// Any hook may be left empty.
struct WsClientHooks {
    std::function<void(WsConnection c, std::string_view data, bool binary)> on_message;
    std::function<void(WsConnection c)> on_open;
    std::function<void(WsConnection c)> on_close;  // the end, or a failed attempt; not after stop()
    std::function<void()> on_loop;                 // after each service pass
};

class WsClient : public WsConnection {
public:
    // Returns before the connection is up: on_open reports it. header_json
    // (a JSON object) adds handshake headers.
    static Result<WsClient> start(std::string_view host, int port, std::string_view path, WsClientHooks hooks,
                                  std::optional<std::string_view> header_json = std::nullopt) {
        auto s = std::make_unique<State>();
        s->hooks = std::move(hooks);
        if (header_json) s->headers = std::string(*header_json);
        s->param = {&on_message, s->hooks.on_open ? &on_open : nullptr, s->hooks.on_close ? &on_close : nullptr,
                    nullptr, s->hooks.on_loop ? &on_loop : nullptr, s.get()};
        WS_Handle h = WS_Client_Start(detail::CStr(host), port, detail::CStr(path),
                                      header_json ? s->headers.data() : nullptr, &s->param, s.get());
        if (!h) return Error{-1, "WS_Client_Start"};
        return WsClient(h, std::move(s));
    }

    WsClient(WsClient&& o) noexcept : WsConnection(std::exchange(o.h_, nullptr)), state_(std::move(o.state_)) {}
    WsClient& operator=(WsClient&& o) noexcept {
        if (this != &o) {
            (void)stop();
            h_ = std::exchange(o.h_, nullptr);
            state_ = std::move(o.state_);
        }
        return *this;
    }
    ~WsClient() { (void)stop(); }

    // Ends the connection and the service thread; hooks are not called afterwards.
    Result<void> stop() {
        if (!h_) return {};
        // Refused from a hook: the client keeps running and keeps its hooks.
        if (int rc = WS_Client_Stop(h_); rc != 0) return Error{rc, "WS_Client_Stop"};
        h_ = nullptr;
        state_.reset();
        return {};
    }

private:
    struct State {
        WsClientHooks hooks;
        std::string headers;  // borrowed by the client until it stops
        ws_client_cb_param param;
    };
    WsClient(WS_Handle h, std::unique_ptr<State> s) : WsConnection(h), state_(std::move(s)) {}
    static State* of(void* user) { return static_cast<State*>(user); }
    static void on_message(WS_Handle c, int binary, char* data, int length, void* user) noexcept {
        if (auto& f = of(user)->hooks.on_message) f(WsConnection(c), detail::view(data, length), binary != 0);
    }
    static void on_open(WS_Handle c, void* user) noexcept { of(user)->hooks.on_open(WsConnection(c)); }
    static void on_close(WS_Handle c, void* user) noexcept { of(user)->hooks.on_close(WsConnection(c)); }
    static void on_loop(void* user) noexcept { of(user)->hooks.on_loop(); }
    std::unique_ptr<State> state_;
};

}  // namespace qb

#endif /* ENABLE_WEBSOCKET_CLIENT */
#endif /* QB_WEBSOCKET_CLIENT_HPP */
