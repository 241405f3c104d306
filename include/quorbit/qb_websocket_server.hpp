/*
 * The WebSocket server in C++ (websocket_server.h); conventions in
 * qb_result.hpp.
 *
 *   auto server = qb::WsServer::start(0, [](qb::WsSession s, ws_callback_type type, std::string_view data) {
 *       (void)s.send_text(data);
 *   });
 *
 * The handler runs on the service thread. The open and close hooks of the C
 * server carry no user pointer, so they stay plain functions of the session
 * (a lambda without captures converts); wrap the session as
 * qb::WsSession{session} to answer.
 */
#ifndef QB_WEBSOCKET_SERVER_HPP
#define QB_WEBSOCKET_SERVER_HPP

#include "sdk_config.h"
#ifdef ENABLE_WEBSOCKET_SERVER

#include <functional>
#include <memory>
#include <string_view>
#include <utility>

#include "qb_result.hpp"
#include "websocket_server.h"

namespace qb {

// One client connection of a server; not owned. Sends may come from any
// thread while the session is open.
class WsSession {
public:
    explicit WsSession(void* session = nullptr) : s_(session) {}
    Result<void> send_text(std::string_view text) const { return send(text, 0); }
    Result<void> send_binary(std::string_view data) const { return send(data, 1); }
    void* native() const { return s_; }
    bool operator==(const WsSession&) const = default;

private:
    Result<void> send(std::string_view data, int flag) const {
        if (!detail::fits_int(data.size())) return Error{-1, "WS_Server_Send"};
        return detail::check(WS_Server_Send(s_, detail::bytes(data), static_cast<int>(data.size()), flag, 0),
                             "WS_Server_Send");
    }
    void* s_;
};

class WsServer {
public:
    // data is NUL-terminated after its last byte, valid during the call.
    using Handler = std::function<void(WsSession session, ws_callback_type type, std::string_view data)>;

    // port 0 picks a free port (see port()).
    static Result<WsServer> start(int port, Handler handler, WS_Server_On_Open on_open = nullptr,
                                  WS_Server_On_Close on_close = nullptr) {
        auto state = std::make_unique<State>();
        state->handler = std::move(handler);
        state->param = {&on_message, on_open, on_close, state.get()};
        WS_Server_Handle h = WS_Server_Start(port, &state->param);
        if (!h) return Error{-1, "WS_Server_Start"};
        return WsServer(h, std::move(state));
    }

    WsServer(WsServer&&) noexcept = default;
    WsServer& operator=(WsServer&&) noexcept = default;
    ~WsServer() { (void)stop(); }

    // Returns once the service thread has ended. Refused from a hook: the
    // server keeps running and keeps its handler.
    Result<void> stop() {
        if (int rc = h_.reset(); rc != 0) return Error{rc, "WS_Server_Stop"};
        state_.reset();
        return {};
    }
    Result<int> port() const { return detail::count(WS_Server_Port(h_.get()), "WS_Server_Port"); }
    WS_Server_Handle native() const { return h_.get(); }

private:
    struct State {
        Handler handler;
        ws_server_cb_param param;
    };
    WsServer(WS_Server_Handle h, std::unique_ptr<State> s) : h_(h), state_(std::move(s)) {}
    static void on_message(void* session, ws_callback_type type, char* data, int length, void* user) noexcept {
        auto* s = static_cast<State*>(user);
        if (s->handler) s->handler(WsSession(session), type, detail::view(data, length));
    }
    detail::Handle<WS_Server_Handle, WS_Server_Stop> h_;  // before state_: stopped first on moves
    std::unique_ptr<State> state_;
};

}  // namespace qb

#endif /* ENABLE_WEBSOCKET_SERVER */
#endif /* QB_WEBSOCKET_SERVER_HPP */
