/// @file
/// The MQTT client in C++ (mqtt_client.h); conventions in qb_result.hpp.
///
///     qb::MqttHooks hooks;
///     hooks.on_message = [](std::string_view topic, std::string_view payload) { ... };
///     auto mqtt = qb::MqttClient::create("tcp://127.0.0.1", 1883, "sensor-1", std::move(hooks));
///     (void)mqtt->connect("user", "secret");
///     (void)mqtt->subscribe("plant/#", 1);
///     (void)mqtt->publish("plant/temp", "21.5", 1);
///
/// Hooks run on Paho's thread; they must not destroy the client that calls
/// them. The C client offers neither retained messages nor unsubscribing, so
/// neither does this one.
#ifndef QB_MQTT_HPP
#define QB_MQTT_HPP

#include "sdk_config.h"
#ifdef ENABLE_MQTT_CLIENT

#include <functional>
#include <memory>
#include <optional>
#include <string_view>
#include <utility>

#include "mqtt_client.h"
#include "qb_result.hpp"

namespace qb {

/// What an MqttClient calls; any hook may be left empty. Views are valid
/// only during the call.
struct MqttHooks {
    /// Every arriving message; the payload is raw bytes. When empty, messages
    /// are consumed without a call.
    std::function<void(std::string_view topic, std::string_view payload)> on_message;
    /// The connection was lost; it is not re-established (call connect again).
    std::function<void(std::string_view cause)> on_disconnected;
    /// One call per QoS 1/2 message the broker acknowledged.
    std::function<void()> on_sent;
};

/// One MQTT client (CMQTT_Handle) and its hooks: move-only, disconnected and
/// freed by its destructor or close().
class MqttClient {
public:
    /// CMQTT_Init: the client for broker "host:port" (host with its scheme,
    /// such as "tcp://" or "ssl://"), not yet connected. The hooks live until
    /// the client is closed.
    static Result<MqttClient> create(std::string_view host, int port, std::string_view client_id,
                                     MqttHooks hooks = {}) {
        auto s = std::make_unique<State>();
        s->hooks = std::move(hooks);
        s->record = {s->hooks.on_message ? &on_message : nullptr,
                     s->hooks.on_disconnected ? &on_disconnected : nullptr, s->hooks.on_sent ? &on_sent : nullptr,
                     s.get()};
        CMQTT_Handle h = CMQTT_Init(detail::CStr(host), port, detail::CStr(client_id), &s->record);
        if (!h) return Error{-1, "CMQTT_Init"};
        return MqttClient(h, std::move(s));
    }

    /// Takes over o's client; o holds nothing afterwards.
    MqttClient(MqttClient&& o) noexcept : h_(std::exchange(o.h_, nullptr)), state_(std::move(o.state_)) {}
    /// Closes the client held so far, then takes over o's.
    MqttClient& operator=(MqttClient&& o) noexcept {
        if (this != &o) {
            (void)close();
            h_ = std::exchange(o.h_, nullptr);
            state_ = std::move(o.state_);
        }
        return *this;
    }
    /// Closes the client (see close()).
    ~MqttClient() { (void)close(); }

    /// CMQTT_Connect_Server: blocks until connected or failed (30 s at most).
    /// tls asks for TLS whatever the host's scheme. Error code -1 for any
    /// failure; the reason is logged.
    Result<void> connect(std::optional<std::string_view> username = std::nullopt,
                         std::optional<std::string_view> password = std::nullopt, bool tls = false) {
        return detail::check(CMQTT_Connect_Server(h_, detail::CStr(username), detail::CStr(password), tls ? 1 : 0),
                             "CMQTT_Connect_Server");
    }
    /// CMQTT_Subscribe: topic may hold wildcards; the error code is Paho's.
    Result<void> subscribe(std::string_view topic, int qos) {
        return detail::check(CMQTT_Subscribe(h_, detail::CStr(topic), qos), "CMQTT_Subscribe");
    }
    /// CMQTT_Send_Binary_Data: publishes the bytes as they are, not retained.
    /// Returns once sent, not delivered (on_sent reports QoS 1/2 deliveries);
    /// a QoS 1/2 publish first waits for the previous one's acknowledgement.
    Result<void> publish(std::string_view topic, std::string_view payload, int qos) {
        if (!detail::fits_int(payload.size())) return Error{-1, "CMQTT_Send_Binary_Data"};
        return detail::check(CMQTT_Send_Binary_Data(h_, detail::CStr(topic), detail::bytes(payload),
                                                    static_cast<int>(payload.size()), qos),
                             "CMQTT_Send_Binary_Data");
    }
    /// CMQTT_Send_Data: as publish, with the text up to its first NUL.
    Result<void> publish_text(std::string_view topic, std::string_view text, int qos) {
        return detail::check(CMQTT_Send_Data(h_, detail::CStr(topic), detail::CStr(text), qos), "CMQTT_Send_Data");
    }
    /// CMQTT_Deinit: disconnects without waiting (unacknowledged messages are
    /// lost) and frees the client, then the hooks. The result is the
    /// disconnect's; the client is gone whatever it is.
    Result<void> close() {
        if (!h_) return {};
        // Deinit frees the client even when the disconnect fails: never call it twice.
        const int rc = CMQTT_Deinit(std::exchange(h_, nullptr));
        state_.reset();
        return detail::check(rc, "CMQTT_Deinit");
    }
    /// The C handle, for calls this class does not wrap; still owned here.
    CMQTT_Handle native() const { return h_; }

private:
    struct State {
        MqttHooks hooks;
        cmqtt_callback record;  // borrowed by the C client until it is freed
    };
    MqttClient(CMQTT_Handle h, std::unique_ptr<State> s) : h_(h), state_(std::move(s)) {}
    static State* of(void* param) { return static_cast<State*>(param); }
    static int on_message(void* param, char* topic, int topic_len, char* payload, int payload_len) noexcept {
        of(param)->hooks.on_message(detail::view(topic, topic_len), detail::view(payload, payload_len));
        return 0;
    }
    static int on_disconnected(void* param, char* cause) noexcept {
        of(param)->hooks.on_disconnected(detail::view(cause));
        return 0;
    }
    static int on_sent(void* param) noexcept {
        of(param)->hooks.on_sent();
        return 0;
    }
    CMQTT_Handle h_ = nullptr;
    std::unique_ptr<State> state_;
};

}  // namespace qb

#endif /* ENABLE_MQTT_CLIENT */
#endif /* QB_MQTT_HPP */
