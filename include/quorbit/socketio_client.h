/** @file
 * A Socket.IO client (Engine.IO protocol 3, WebSocket transport only) for one
 * server, on top of the WebSocket client.
 *
 * - SIO_Client_Init copies every text; SIO_Client_Start connects, starts the
 *   ping clock (interval from the server's open packet, 10 s until then) and,
 *   when reconnection is enabled, the reconnection thread.
 * - Hooks run on the WebSocket client's thread (events, acks, "connect",
 *   "disconnect", "ping", "pong", "error") or on the reconnection thread
 *   ("reconnecting", "reconnect_failed", "connect_error"). Texts and payloads
 *   handed to a hook are valid only during the call. Hooks may emit; they must
 *   not call SIO_Client_Close (it is refused there).
 * - A packet that carries a message id goes to onack, on a named namespace
 *   as on the default one: the server's answer to an emit with need_callback
 *   (its first argument arrives as the event name), or the server asking for
 *   an acknowledgement.
 * - Emits need a running reconnection thread: a session without reconnection
 *   can only receive. While the WebSocket is down, packets wait in a resend
 *   buffer (SIO_TX_BUFFER_SIZE per QoS level, binary arguments included) and
 *   go out when the server confirms their namespace again.
 * - Reconnection: the pause starts at delay and grows by 1000 ms per failed
 *   attempt up to delay_max; each attempt also waits 1000 ms for the
 *   connection. With attempts = A the run gives up at the (A + 2)-th
 *   consecutive failure, or earlier once the pauses add up to more than
 *   timeout; it then reports "reconnect_failed" and "connect_error" and stops
 *   the session. Call SIO_Client_Close for every session in any case.
 * - Event names, namespaces and text arguments are sent as given: the caller
 *   escapes them for JSON.
 */
#ifndef SOCKETIO_CLIENT_H
#define SOCKETIO_CLIENT_H

#include "qb_export.h"
#include "socketio_def.h"

QB_BEGIN_DECLS

#define DEFAULT_URL "/socket.io/?EIO=3&transport=websocket"
#define DEFAULT_FINGERPRINT ""

typedef void* SIO_Handle;

/** Reconnection settings; times in milliseconds. */
typedef struct sio_reconnect {
    int enable;
    int attempts;
    int delay;
    int delay_max;
    int timeout;
} sio_reconnect;

/** namespace_ is NULL for the default namespace and for session events. */
typedef void (*SIO_Client_On_Event)(SIO_Handle session, char* namespace_, char* event, sio_payload* payloads,
                                    int count, void* user);
typedef void (*SIO_Client_On_Ack)(SIO_Handle session, char* namespace_, char* event, sio_payload* payloads,
                                  int count, int message_id, void* user);

/** Owned by the application; must outlive the session. Either hook may be NULL. */
typedef struct sio_client_cb_param {
    SIO_Client_On_Event onevent;
    SIO_Client_On_Ack onack;
    void* user;
} sio_client_cb_param;

/** Creates a session for host:port (not yet connected). url NULL means DEFAULT_URL; namespace_ (joined after the default namespace
 * connects) at most SIO_NAMESPACE_MAX characters. NULL on failure. */
QB_API SIO_Handle SIO_Client_Init(char* host, int port, char* url, char* header_json, char* namespace_,
                                  sio_reconnect reconnect);
/** Starts connecting with the given hooks. 0 once started with reconnection enabled. Without reconnection -1 unless
 * the WebSocket is already open, which it hardly ever is yet: connecting is
 * asynchronous, "connect" reports it. */
QB_API int SIO_Client_Start(SIO_Handle session, sio_client_cb_param* callback);
/** Stops the session: refuses every later emit; threads and memory are released by Close. */
QB_API int SIO_Client_Stop(SIO_Handle session);
/** Stops the reconnection thread, the ping clock and the WebSocket, then frees
 * the session. No "disconnect" is reported for this. */
QB_API int SIO_Client_Close(SIO_Handle session);

/**
 * Sends the event with payload_num arguments on namespace_ (NULL: the default
 * namespace), or buffers it at level qos (SIO_QOS_*) while disconnected. With
 * need_callback the packet carries the next message id, written to
 * *message_id (may be NULL); the server's answer arrives at onack with it.
 * 0 when sent or buffered; -1 when refused (stopped session or no
 * reconnection, bad arguments, namespace too long, level full) or failed.
 */
QB_API int SIO_Client_Emit_Ex(SIO_Handle session, char* event, sio_payload* payload, int payload_num, int qos,
                              int need_callback, int* message_id, char* namespace_);
/** As Emit_Ex with one text argument data, or none when data is NULL. */
QB_API int SIO_Client_Emit(SIO_Handle session, char* event, char* data, int qos, int need_callback,
                           int* message_id, char* namespace_);

QB_END_DECLS

#endif /* SOCKETIO_CLIENT_H */
