/** @file
 * A WebSocket server on one TCP port (subprotocol "data_trans") with one
 * service thread. Each client connection is a session; every complete
 * message (text or binary) reaches the owner's callback on the service
 * thread, NUL-terminated after its last byte and valid only during the call.
 *
 * - WS_Server_Send may be called from any thread with a session known from
 *   onopen or callback; it queues the message and wakes the service thread.
 *   A session that has closed is refused (-1). A session whose queued bytes
 *   would pass WS_Set_Max_Send_Queue (default 64 MiB) is closed with a log
 *   line: that send and every later one to it fail (-1); other sessions go on.
 * - A message larger than the limit (WS_Set_Max_Message_Size, default
 *   64 MiB) closes its session with status 1009.
 * - The server listens on all interfaces.
 * - Results: 0 for success, -1 for failure; Start returns NULL on failure.
 */
#ifndef WEBSOCKET_SERVER_H
#define WEBSOCKET_SERVER_H

#include "qb_export.h"

QB_BEGIN_DECLS

/** Message kinds; the callback gets only WS_CB_TEXT and WS_CB_BINARY. */
typedef enum ws_callback_type {
    WS_CB_CONTINUE = 0,
    WS_CB_TEXT = 1,
    WS_CB_BINARY = 2,
    WS_CB_CLOSE = 3,
    WS_CB_PING = 4,
    WS_CB_PONG = 5
} ws_callback_type;

typedef void* WS_Server_Handle;

typedef void (*WS_Server_Callback)(void* session, ws_callback_type type, char* data, int length, void* user);
typedef void (*WS_Server_On_Open)(void* session);
typedef void (*WS_Server_On_Close)(void* session);

/** Owned by the caller; must outlive the server. */
typedef struct ws_server_cb_param {
    WS_Server_Callback callback; /**< required */
    WS_Server_On_Open onopen;    /**< may be NULL */
    WS_Server_On_Close onclose;  /**< may be NULL */
    void* user;                  /**< last argument of callback */
} ws_server_cb_param;

#define WS_DEFAULT_MAX_MESSAGE_SIZE (64 * 1024 * 1024)

/* Largest message the server and client reassemble (bytes, process-wide). */

/** Sets the largest message; values below 1 restore the default. */
QB_API void WS_Set_Max_Message_Size(int bytes);
/** The largest message in bytes. */
QB_API int WS_Get_Max_Message_Size(void);

#define WS_DEFAULT_MAX_SEND_QUEUE (64 * 1024 * 1024)

/* Largest number of bytes queued for sending on one server session or one
 * client (process-wide), so a peer that stops reading cannot exhaust memory. */

/** Sets the send-queue limit; values below 1 restore the default. */
QB_API void WS_Set_Max_Send_Queue(int bytes);
/** The send-queue limit in bytes. */
QB_API int WS_Get_Max_Send_Queue(void);

/** Starts listening and the service thread; port 0 picks a free port (see
 * WS_Server_Port). NULL for a port outside 0-65535, a missing callback, or a
 * port that cannot be bound. */
QB_API WS_Server_Handle WS_Server_Start(int port, ws_server_cb_param* param);
/** Stops the server and frees it. Returns once the service thread has ended;
 * each open session's onclose has run. -1 when called from a server hook. */
QB_API int WS_Server_Stop(WS_Server_Handle server);
/** The port the server listens on, or -1. */
QB_API int WS_Server_Port(WS_Server_Handle server);
/** Queues length bytes for the session. flag: 0 text, non-zero binary; block
 * has no effect (it never waits for the peer). */
QB_API int WS_Server_Send(void* session, char* data, int length, int flag, int block);
/** Queues length bytes as one binary message. */
QB_API int WS_Server_Send_Binary(void* session, char* data, int length);
/** Queues the NUL-terminated str as one text message (without the NUL). */
QB_API int WS_Server_Send_String(void* session, char* str);

QB_END_DECLS

#endif /* WEBSOCKET_SERVER_H */
