/** @file
 * A thin MQTT client (Eclipse Paho, synchronous, with TLS). One client per
 * broker URI `"<host>:<port>"`, where host carries the scheme ("tcp://...",
 * "ssl://...").
 *
 * - Fixed options: keep-alive 300 s, clean session, connect time-out 30 s,
 *   one QoS 1/2 message in flight at a time (a publish waits until the
 *   previous one is acknowledged; order is kept).
 * - TLS (ssl_enable non-zero) trusts the PEM file "cert/DigiCert.cer" under
 *   the working directory and checks the server certificate against it, not
 *   the host name. A plain scheme is then replaced by its TLS form: the
 *   client never connects in clear when TLS was asked for.
 * - Callbacks run on Paho's thread; topic and payload are valid only during
 *   the call and the payload is not NUL-terminated. A record whose callback
 *   is NULL has arriving messages consumed without a call. Lost connections
 *   are not re-established: call CMQTT_Connect_Server again.
 * - Deinit disconnects without waiting: unacknowledged messages are lost.
 * - Results: 0 or Paho's return code (0 is success), -1 for a refused call;
 *   Connect gives -1 for any failure, Init NULL.
 */
#ifndef MQTT_CLIENT_H
#define MQTT_CLIENT_H

#include "qb_export.h"

QB_BEGIN_DECLS

typedef void* CMQTT_Handle;

typedef int (*cmqtt_message_callback)(void* param, char* topic, int topic_len, char* payload, int payload_len);
typedef int (*cmqtt_disconnected)(void* param, char* cause);
typedef int (*cmqtt_message_sent_callback)(void* param);

/** Owned by the caller; must outlive the client. */
typedef struct cmqtt_callback {
    cmqtt_message_callback callback;       /**< every arriving message */
    cmqtt_disconnected disconnected;       /**< may be NULL */
    cmqtt_message_sent_callback sent;      /**< may be NULL; one call per delivery complete */
    void* param;                           /**< first argument of every callback */
} cmqtt_callback;

/** Creates the client without connecting. host below 191 characters, port
 * 0-65535; cb may be NULL. */
QB_API CMQTT_Handle CMQTT_Init(char* host, int port, char* clientid, cmqtt_callback* cb);
/** Connects to the broker, blocking up to the 30 s time-out; 0, or -1 on any
 * failure (Paho's reason is logged). username and password may be NULL. */
QB_API int CMQTT_Connect_Server(CMQTT_Handle handle, char* username, char* password, int ssl_enable);
/** Subscribes to topic (wildcards allowed) at qos; returns Paho's code. */
QB_API int CMQTT_Subscribe(CMQTT_Handle handle, char* topic, int qos);
/** Publishes buffer_len bytes to topic; returns Paho's code. Not retained;
 * does not wait for the delivery. */
QB_API int CMQTT_Send_Binary_Data(CMQTT_Handle handle, char* topic, char* buffer, int buffer_len, int qos);
/** Publishes the NUL-terminated data (without the NUL), as CMQTT_Send_Binary_Data. */
QB_API int CMQTT_Send_Data(CMQTT_Handle handle, char* topic, char* data, int qos);
/** Disconnects without waiting and frees the client. Returns the disconnect's
 * code; the handle is gone afterwards. */
QB_API int CMQTT_Deinit(CMQTT_Handle handle);

QB_END_DECLS

#endif /* MQTT_CLIENT_H */
