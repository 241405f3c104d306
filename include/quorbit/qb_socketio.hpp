/*
 * The Socket.IO client in C++ (socketio_client.h); conventions in
 * qb_result.hpp.
 *
 *   auto sio = qb::SioClient::create("127.0.0.1", port, {1, 10, 500, 5000, 60000});
 *   (void)sio->start({.on_event = [](qb::SioSession s, const qb::SioEvent& e) { ... }});
 *   (void)sio->emit("hello", "world");
 *
 * Hooks run on the client's threads and get the session to emit through;
 * they must not destroy the client. Names, namespaces and text arguments go
 * out as given (the caller escapes them for JSON).
 */
#ifndef QB_SOCKETIO_HPP
#define QB_SOCKETIO_HPP

#include "sdk_config.h"
#ifdef ENABLE_SOCKETIO_CLIENT

#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "qb_result.hpp"
#include "socketio_client.h"

namespace qb {

// A received event or acknowledgement; views valid only during the hook.
struct SioEvent {
    std::string_view nsp;   // empty for the default namespace and session events
    std::string_view name;  // for an ack: its first argument
    std::span<const sio_payload> args;
    int message_id = -1;    // acks only
    std::string_view arg(size_t i) const { return i < args.size() ? detail::view(args[i].message) : std::string_view(); }
};

// One argument to send: text (an object when it starts with "{") or bytes.
// Bytes of length 0 go out as an empty text.
struct SioArg {
    std::string_view data;
    bool binary = false;
};

// The session, not owned: what hooks emit through.
class SioSession {
public:
    using Opt = std::optional<std::string_view>;
    explicit SioSession(SIO_Handle h = nullptr) : h_(h) {}

    // One text argument, or none for nullopt; nsp nullopt is the default namespace.
    Result<void> emit(std::string_view event, Opt text = std::nullopt, int qos = SIO_QOS_HIGH,
                      Opt nsp = std::nullopt) const {
        return detail::check(SIO_Client_Emit(h_, detail::CStr(event), detail::CStr(text), qos, 0, nullptr,
                                             detail::CStr(nsp)),
                             "SIO_Client_Emit");
    }
    // As emit, asking for an answer; returns the message id the ack will carry.
    Result<int> emit_with_ack(std::string_view event, Opt text = std::nullopt, int qos = SIO_QOS_HIGH,
                              Opt nsp = std::nullopt) const {
        int id = -1;
        if (int rc = SIO_Client_Emit(h_, detail::CStr(event), detail::CStr(text), qos, 1, &id, detail::CStr(nsp));
            rc != 0)
            return Error{rc, "SIO_Client_Emit"};
        return id;
    }
    Result<void> emit_args(std::string_view event, std::span<const SioArg> args, int qos = SIO_QOS_HIGH,
                           Opt nsp = std::nullopt) const {
        Result<int> r = emit_ex(event, args, qos, false, nsp);
        if (!r) return r.error();
        return {};
    }
    Result<int> emit_args_with_ack(std::string_view event, std::span<const SioArg> args, int qos = SIO_QOS_HIGH,
                                   Opt nsp = std::nullopt) const {
        return emit_ex(event, args, qos, true, nsp);
    }
    // Refuses every later emit (SIO_Client_Stop); the client's destructor releases it.
    Result<void> stop() const { return detail::check(SIO_Client_Stop(h_), "SIO_Client_Stop"); }
    SIO_Handle native() const { return h_; }

protected:
    Result<int> emit_ex(std::string_view event, std::span<const SioArg> args, int qos, bool ack, Opt nsp) const {
        std::vector<std::string> texts;
        texts.reserve(args.size());
        std::vector<sio_payload> payloads;
        payloads.reserve(args.size());
        for (const SioArg& a : args) {
            if (!detail::fits_int(a.data.size())) return Error{-1, "SIO_Client_Emit_Ex"};
            if (a.binary && !a.data.empty()) {
                payloads.push_back({detail::bytes(a.data), static_cast<int>(a.data.size())});
            } else {
                texts.emplace_back(a.data);
                payloads.push_back({texts.back().data(), 0});
            }
        }
        int id = -1;
        int rc = SIO_Client_Emit_Ex(h_, detail::CStr(event), payloads.data(), static_cast<int>(payloads.size()), qos,
                                    ack ? 1 : 0, &id, detail::CStr(nsp));
        if (rc != 0) return Error{rc, "SIO_Client_Emit_Ex"};
        return id;
    }
    SIO_Handle h_;
};

struct SioHooks {
    std::function<void(SioSession s, const SioEvent& e)> on_event;  // events and session events ("connect", ...)
    std::function<void(SioSession s, const SioEvent& e)> on_ack;    // answers and requests for an ack
};

class SioClient : public SioSession {
public:
    // SIO_Client_Init: copies every text. Emits need reconnection enabled.
    static Result<SioClient> create(std::string_view host, int port, sio_reconnect reconnect,
                                    Opt nsp = std::nullopt, Opt header_json = std::nullopt, Opt url = std::nullopt) {
        SIO_Handle h = SIO_Client_Init(detail::CStr(host), port, detail::CStr(url), detail::CStr(header_json),
                                       detail::CStr(nsp), reconnect);
        if (!h) return Error{-1, "SIO_Client_Init"};
        return SioClient(h);
    }

    SioClient(SioClient&& o) noexcept : SioSession(std::exchange(o.h_, nullptr)), state_(std::move(o.state_)) {}
    SioClient& operator=(SioClient&& o) noexcept {
        if (this != &o) {
            (void)close();
            h_ = std::exchange(o.h_, nullptr);
            state_ = std::move(o.state_);
        }
        return *this;
    }
    ~SioClient() { (void)close(); }

    // SIO_Client_Start with the hooks, which live until close().
    Result<void> start(SioHooks hooks) {
        if (state_) return Error{-1, "SIO_Client_Start"};
        state_ = std::make_unique<State>();
        state_->hooks = std::move(hooks);
        state_->param = {&on_event, &on_ack, state_.get()};
        return detail::check(SIO_Client_Start(h_, &state_->param), "SIO_Client_Start");
    }
    // SIO_Client_Close: stops every thread of the session, then frees it.
    Result<void> close() {
        if (!h_) return {};
        if (int rc = SIO_Client_Close(h_); rc != 0) return Error{rc, "SIO_Client_Close"};
        h_ = nullptr;
        state_.reset();
        return {};
    }

private:
    struct State {
        SioHooks hooks;
        sio_client_cb_param param;
    };
    explicit SioClient(SIO_Handle h) : SioSession(h) {}
    static void on_event(SIO_Handle s, char* nsp, char* event, sio_payload* p, int n, void* user) noexcept {
        auto& f = static_cast<State*>(user)->hooks.on_event;
        if (f) f(SioSession(s), SioEvent{detail::view(nsp), detail::view(event), {p, p ? size_t(n > 0 ? n : 0) : 0}});
    }
    static void on_ack(SIO_Handle s, char* nsp, char* event, sio_payload* p, int n, int id, void* user) noexcept {
        auto& f = static_cast<State*>(user)->hooks.on_ack;
        if (f)
            f(SioSession(s), SioEvent{detail::view(nsp), detail::view(event), {p, p ? size_t(n > 0 ? n : 0) : 0}, id});
    }
    std::unique_ptr<State> state_;
};

}  // namespace qb

#endif /* ENABLE_SOCKETIO_CLIENT */
#endif /* QB_SOCKETIO_HPP */
