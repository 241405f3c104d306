/** @file
 * Data channels: named, pluggable transports that move opaque byte blocks.
 * A program calls DC_module_Init once, registers the modules it wants
 * (DC_module_register_websocket_server, ...), then opens channels by module
 * name with a JSON configuration file ({"url": ..., "port": ...}).
 *
 * - Received blocks of push modules reach the callback on the transport's
 *   thread; the data is valid only during the call.
 * - Registration and DC_Init are for start-up on one thread.
 * - "websocket_server" (with ENABLE_WEBSOCKET_SERVER): listens on "port" (0: any free port); DC_Transfer
 *   sends binary to the session that last delivered data, -1 while none is.
 * - "websocket_client" (with ENABLE_WEBSOCKET_CLIENT): connects during DC_Init to "url" ws://host[:port][/path]
 *   ("port" when the url names none, path "/" by default) and fails when the
 *   connection is not up within 5 s; DC_Transfer sends binary.
 * - "zmq_client" / "zmq_server" (with ENABLE_ZMQ): a ZeroMQ PUSH / PULL
 *   socket on "url:port"; "nanomsg_client" / "nanomsg_server" (with
 *   ENABLE_NANOMSG): a nanomsg PAIR socket connected / bound to "url:port".
 *   Nothing is pushed: DC_Receive blocks for one message, whose bytes stay
 *   valid until the next DC_Receive on the channel.
 * - Results: 0 or a module's count for success, -1 for failure; DC_Init
 *   returns NULL on failure. Channels are never closed.
 */
#ifndef DATA_CHANNEL_H
#define DATA_CHANNEL_H

#include "qb_export.h"
#include "sdk_config.h"

QB_BEGIN_DECLS

/** An open channel. */
typedef void* DC_Handle;
/** Pushed data: (channel, data valid during the call, length, the user pointer given to DC_Init). */
typedef void (*DC_Callback_Func)(DC_Handle handle, char* data, int length, void* param);

/** Empties the module registry; call once before registering (a second call forgets every registration). */
QB_API void DC_module_Init(void);
#ifdef ENABLE_WEBSOCKET_SERVER
/** Registers "websocket_server". */
QB_API void DC_module_register_websocket_server(void);
#endif
#ifdef ENABLE_WEBSOCKET_CLIENT
/** Registers "websocket_client". */
QB_API void DC_module_register_websocket_client(void);
#endif
#ifdef ENABLE_ZMQ
/** Registers "zmq_client" (PUSH). */
QB_API void DC_module_register_zmq_client(void);
/** Registers "zmq_server" (PULL). */
QB_API void DC_module_register_zmq_server(void);
#endif
#ifdef ENABLE_NANOMSG
/** Registers "nanomsg_client" (PAIR, connecting). */
QB_API void DC_module_register_nanomsg_client(void);
/** Registers "nanomsg_server" (PAIR, bound). */
QB_API void DC_module_register_nanomsg_server(void);
#endif

/** Opens a channel of the registered module channel_name, configured by the JSON file config_file;
 * callback (may be NULL) gets pushed data with user. NULL with "module %s not found" or when the
 * transport does not start. Channels live until the program ends. */
QB_API DC_Handle DC_Init(char* channel_name, DC_Callback_Func callback, void* user, char* config_file);
/** Sends size bytes through the channel: the module's result, -1 for a NULL channel or a module that cannot send. */
QB_API int DC_Transfer(DC_Handle handle, char* data, int size);
/** Waits for one block from a polled module (ZeroMQ, nanomsg): its result, -1 when the module cannot receive.
 * *data stays valid until the next DC_Receive on the channel. */
QB_API int DC_Receive(DC_Handle handle, char** data, int* size);
/** Does nothing: the entry point for programs that run without channels. */
QB_API void DC_Init_Fake(char* channel_name);

QB_END_DECLS

#endif /* DATA_CHANNEL_H */
