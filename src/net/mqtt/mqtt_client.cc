#include "mqtt_client.h"

#include <MQTTClient.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>
#include <string>

#include "sdk_logger.h"

namespace {
constexpr const char* TAG = "MQTT_CLIENT";
constexpr size_t kMaxHostLength = 190;
constexpr const char* kTrustStore = "cert/DigiCert.cer";

struct mqtt_client {
    MQTTClient client = nullptr;
    cmqtt_callback* cb = nullptr;
    std::string uri;
    std::string client_id;
    bool has_client_id = false;  // Paho refuses a null one; keep that
    std::string tls_uri;    // the same broker under a TLS scheme; empty when the URI has one
    bool upgraded = false;  // a TLS attempt went to tls_uri
    // Paho lets one QoS 1/2 message fly at a time ("reliable") and, while one
    // does, makes the next publish poll in 100 ms sleeps. We wait for the
    // acknowledgement ourselves, woken by the delivery-complete handler, so
    // Paho never has to sleep; order and delivery stay as Paho gives them.
    std::mutex mu;
    std::condition_variable acked;
    int unacked = 0;
    bool connected = false;
};

void settle(mqtt_client* c, bool connected) {
    std::lock_guard<std::mutex> lock(c->mu);
    c->unacked = 0;
    c->connected = connected;
    c->acked.notify_all();
}

void on_connection_lost(void* context, char* cause) {
    auto* c = static_cast<mqtt_client*>(context);
    char fallback[] = "connection lost";  // Paho passes no cause
    if (!cause) cause = fallback;
    LOGV(TAG, "MQTT connection lost, reason=%s", cause);
    settle(c, false);
    if (c->cb && c->cb->disconnected) c->cb->disconnected(c->cb->param, cause);
}

int on_message(void* context, char* topic, int topic_len, MQTTClient_message* message) {
    auto* c = static_cast<mqtt_client*>(context);
    // Paho gives 0 for a NUL-terminated topic.
    if (topic_len <= 0) topic_len = static_cast<int>(strlen(topic));
    LOGV(TAG, "MQTT Message arrived, payload=%.*s len=%d", message->payloadlen,
         static_cast<const char*>(message->payload), message->payloadlen);
    if (c->cb && c->cb->callback)
        c->cb->callback(c->cb->param, topic, topic_len, static_cast<char*>(message->payload), message->payloadlen);
    MQTTClient_freeMessage(&message);
    MQTTClient_free(topic);
    return 1;
}

void on_delivered(void* context, MQTTClient_deliveryToken) {
    auto* c = static_cast<mqtt_client*>(context);
    {
        std::lock_guard<std::mutex> lock(c->mu);
        if (c->unacked > 0) --c->unacked;
        c->acked.notify_all();
    }
    if (c->cb && c->cb->sent) c->cb->sent(c->cb->param);
}

// "tcp://h:p" -> "ssl://h:p"; empty when the scheme already means TLS.
std::string tls_form(const std::string& uri) {
    static const struct {
        const char* plain;
        const char* tls;
    } schemes[] = {{"tcp://", "ssl://"}, {"mqtt://", "mqtts://"}, {"ws://", "wss://"}};
    for (const char* secure : {"ssl://", "mqtts://", "wss://"})
        if (uri.rfind(secure, 0) == 0) return "";
    for (const auto& s : schemes)
        if (uri.rfind(s.plain, 0) == 0) return s.tls + uri.substr(strlen(s.plain));
    return "ssl://" + uri;
}

mqtt_client* checked(CMQTT_Handle handle, const char* op) {
    if (!handle) LOGE(TAG, "%s No MQTT Client", op);
    return static_cast<mqtt_client*>(handle);
}

int publish(mqtt_client* c, const char* op, char* topic, char* data, int len, int qos) {
    if (!topic) {
        LOGE(TAG, "%s Null topic!", op);
        return -1;
    }
    if (len < 0 || (!data && len > 0)) return -1;
    const bool needs_ack = qos > 0;
    {
        std::unique_lock<std::mutex> lock(c->mu);
        // Bounded waits: a lost acknowledgement cannot hang the caller once the connection is gone.
        while (c->unacked > 0 && c->connected) c->acked.wait_for(lock, std::chrono::milliseconds(100));
        if (!c->connected) c->unacked = 0;
        if (needs_ack) ++c->unacked;
    }
    const int rc = MQTTClient_publish(c->client, topic, len, data, qos, 0, nullptr);
    if (rc != MQTTCLIENT_SUCCESS && needs_ack) {
        std::lock_guard<std::mutex> lock(c->mu);
        if (c->unacked > 0) --c->unacked;
        c->acked.notify_all();
    }
    return rc;
}
// Creates the Paho client for c->uri with this file's handlers; false after logging.
bool make_paho_client(mqtt_client* c) {
    MQTTClient_createOptions create = MQTTClient_createOptions_initializer;
    create.struct_version = 0;
    int rc = MQTTClient_createWithOptions(&c->client, c->uri.c_str(), c->has_client_id ? c->client_id.c_str() : nullptr,
                                          MQTTCLIENT_PERSISTENCE_NONE,
                                          nullptr, &create);
    if (rc != MQTTCLIENT_SUCCESS) {
        LOGE(TAG, "MQTT Client failed %s", MQTTClient_strerror(rc));
        return false;
    }
    rc = MQTTClient_setCallbacks(c->client, c, on_connection_lost, on_message, on_delivered);
    if (rc != MQTTCLIENT_SUCCESS) {
        LOGE(TAG, "Failed to set callbacks, return code: %s\n", MQTTClient_strerror(rc));
        MQTTClient_destroy(&c->client);
        return false;
    }
    return true;
}
}  // namespace

extern "C" {

QB_API CMQTT_Handle CMQTT_Init(char* host, int port, char* clientid, cmqtt_callback* cb) {
    LOGD(TAG, "Init MQTT With Host=%s Port=%d Client=%s", host ? host : "(null)", port,
         clientid ? clientid : "(null)");
    if (!host) {
        LOGE(TAG, "MQTT Client failed %s", "no host");
        return nullptr;
    }
    if (strlen(host) > kMaxHostLength) {
        LOGE(TAG, "Host too long, dont attack me");
        return nullptr;
    }
    if (port < 0 || port > 65535) {
        LOGE(TAG, "MQTT Client failed %s", "port out of range");
        return nullptr;
    }
    char uri[200];
    snprintf(uri, sizeof uri, "%s:%d", host, port);
    auto* c = new (std::nothrow) mqtt_client();
    if (!c) return nullptr;
    c->cb = cb;
    c->uri = uri;
    c->tls_uri = tls_form(uri);
    c->has_client_id = clientid != nullptr;
    if (clientid) c->client_id = clientid;
    if (!make_paho_client(c)) {
        delete c;
        return nullptr;
    }
    return c;
}

QB_API int CMQTT_Connect_Server(CMQTT_Handle handle, char* username, char* password, int ssl_enable) {
    mqtt_client* c = checked(handle, "CMQTT_Connect_Server");
    if (!c) return -1;
    MQTTClient_connectOptions opts = MQTTClient_connectOptions_initializer;
    opts.struct_version = 6;
    opts.keepAliveInterval = 300;
    opts.cleansession = 1;
    opts.reliable = 1;
    opts.connectTimeout = 30;
    opts.retryInterval = 0;
    opts.MQTTVersion = MQTTVERSION_DEFAULT;
    opts.maxInflightMessages = -1;
    opts.will = nullptr;
    opts.username = username;
    opts.password = password;
    MQTTClient_SSLOptions ssl = MQTTClient_SSLOptions_initializer;
    ssl.struct_version = 4;
    ssl.trustStore = kTrustStore;
    ssl.enableServerCertAuth = 1;
    ssl.verify = 0;
    ssl.sslVersion = MQTT_SSL_VERSION_DEFAULT;
    ssl.CApath = nullptr;
    // A plain scheme would connect in clear although TLS was asked for. Paho
    // keeps the TLS scheme for later attempts, so a plain one needs a new client.
    char* tls_uri[] = {c->tls_uri.data()};
    if (ssl_enable) {
        opts.ssl = &ssl;
        if (!c->tls_uri.empty()) {
            opts.serverURIcount = 1;
            opts.serverURIs = tls_uri;
            c->upgraded = true;
        }
    } else if (c->upgraded) {
        MQTTClient_destroy(&c->client);
        c->upgraded = false;
        if (!make_paho_client(c)) return -1;
    }
    settle(c, false);
    const int rc = MQTTClient_connect(c->client, &opts);
    if (rc != MQTTCLIENT_SUCCESS) {
        LOGE(TAG, "Connect failed return code: %s\n", MQTTClient_strerror(rc));
        return -1;
    }
    settle(c, true);
    LOGD(TAG, "MQTT Connected");
    return 0;
}

QB_API int CMQTT_Subscribe(CMQTT_Handle handle, char* topic, int qos) {
    mqtt_client* c = checked(handle, "CMQTT_Subscribe");
    if (!c) return -1;
    if (!topic) {
        LOGE(TAG, "%s Null topic!", "CMQTT_Subscribe");
        return -1;
    }
    LOGD(TAG, "MQTT Subscribe %s", topic);
    return MQTTClient_subscribe(c->client, topic, qos);
}

QB_API int CMQTT_Send_Binary_Data(CMQTT_Handle handle, char* topic, char* buffer, int buffer_len, int qos) {
    mqtt_client* c = checked(handle, "CMQTT_Send_Binary_Data");
    return c ? publish(c, "CMQTT_Send_Binary_Data", topic, buffer, buffer_len, qos) : -1;
}

QB_API int CMQTT_Send_Data(CMQTT_Handle handle, char* topic, char* data, int qos) {
    mqtt_client* c = checked(handle, "CMQTT_Send_Data");
    if (!c || !data) return -1;
    return publish(c, "CMQTT_Send_Data", topic, data, static_cast<int>(strlen(data)), qos);
}

QB_API int CMQTT_Deinit(CMQTT_Handle handle) {
    mqtt_client* c = checked(handle, "CMQTT_Deinit");
    if (!c) return -1;
    const int rc = MQTTClient_disconnect(c->client, 0);
    MQTTClient_destroy(&c->client);
    delete c;
    return rc;
}

}  // extern "C"
