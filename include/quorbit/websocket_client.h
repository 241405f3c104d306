/** @file
 * A WebSocket client for one connection (subprotocol "data_trans", no TLS)
 * with its own service thread, which runs every hook. There is no
 * reconnection: stop the client and start a new one.
 *
 * - WS_Client_Start returns before the connection is up; onopen reports it,
 *   onclose reports its end or a failed attempt (at most once; not after Stop).
 * - WS_Client_Send may be called from any thread, hooks included, while the
 *   connection is open; each message keeps its own type (0 text, 1 binary).
 *   Sends that would queue more than WS_Set_Max_Send_Queue bytes (default
 *   64 MiB, websocket_server.h) close the connection with a log line; they
 *   and later sends fail (-1), and onclose follows.
 * - header_json: a JSON object whose members become extra handshake headers
 *   in order; members whose name or value holds CR or LF are skipped.
 * - A received message larger than WS_Set_Max_Message_Size (default 64 MiB)
 *   closes the connection with status 1009.
 * - WS_Client_Stop must not be called from the client's own hooks.
 */
#ifndef WEBSOCKET_CLIENT_H
#define WEBSOCKET_CLIENT_H

#include "qb_export.h"

QB_BEGIN_DECLS

typedef void* WS_Handle;

typedef void (*WS_Client_Callback)(WS_Handle client, int is_binary, char* data, int length, void* user_data);
typedef void (*WS_Client_On_Open)(WS_Handle client, void* user_data);
typedef void (*WS_Client_On_Close)(WS_Handle client, void* user_data);
typedef int (*WS_Client_Add_Header)(WS_Handle client, char** p, int len, void* user_data);
typedef void (*WS_Client_On_Loop)(void* user_data);

/** Owned by the caller; must outlive the client. */
typedef struct ws_client_cb_param {
    WS_Client_Callback callback;   /**< each complete message, NUL-terminated; valid during the call */
    WS_Client_On_Open onopen;      /**< may be NULL */
    WS_Client_On_Close onclose;    /**< may be NULL */
    WS_Client_Add_Header addheader; /**< carried, not called */
    WS_Client_On_Loop onloop;      /**< may be NULL; after each service pass */
    void* user;                    /**< for the owner; hooks get user_data instead */
} ws_client_cb_param;

/** Starts connecting to host:port at path url (NULL or empty: "/"); user_data is
 * the hooks' last argument. header_json is borrowed and must stay alive until
 * Stop. NULL for a missing host or callback, a port outside 1-65535, or a
 * connection that could not be started. */
QB_API WS_Handle WS_Client_Start(char* host, int port, char* url, char* header_json, ws_client_cb_param* param,
                                 void* user_data);
/** Closes the connection, joins the service thread and frees the client;
 * queued messages are dropped. -1 when called from a hook. */
QB_API int WS_Client_Stop(WS_Handle client);
/** 1 while the connection is open, else 0; -1 for a null client. */
QB_API int WS_Client_Connected(WS_Handle client);
/** Queues length bytes. flag: 0 text, non-zero binary; block has no effect (it
 * never waits for the peer). -1 while the connection is not open. */
QB_API int WS_Client_Send(WS_Handle client, char* data, int length, int flag, int block);
/** Queues length bytes as one binary message. */
QB_API int WS_Client_Send_Binary(WS_Handle client, char* data, int length);
/** Queues the NUL-terminated str as one text message (without the NUL). */
QB_API int WS_Client_Send_String(WS_Handle client, char* str);

QB_END_DECLS

#endif /* WEBSOCKET_CLIENT_H */
