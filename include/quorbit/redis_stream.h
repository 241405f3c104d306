/** @file
 * Thin client for the platform's Redis streams: read the receive stream as a
 * member of consumer group "default" one entry at a time (acknowledged as soon
 * as read) and append result entries to the send stream. Stream names and the
 * consumer name come from the component parameters --stream-recv-queue,
 * --stream-send-queue and --stream-node-id (else --node-id), fetched on every
 * call; the server from --mq-redis-host / --mq-redis-port.
 *
 * Each client holds one connection and a lock, so one command runs at a time;
 * a blocking read holds the lock for its whole wait.
 */
#ifndef REDIS_STREAM_H
#define REDIS_STREAM_H

#include "qb_export.h"

QB_BEGIN_DECLS

typedef void* Redis_Client;
struct redisReply;

/** Connects, trying 11 times one second apart; after the last failure logs
 * "Failed to connect redis, exit" and ends the process with exit(-1).
 * NULL only when no connection object could be allocated. */
QB_API Redis_Client redis_client_init(void);
/** Closes the connection and frees the client (NULL is ignored). */
QB_API void redis_client_deinit(Redis_Client client);

/* Consumer groups: XGROUP CREATE <stream> "default" "0" MKSTREAM. 0 whatever
 * Redis answers (an existing group is not an error); -1 for a null client or a
 * missing stream parameter. */

/** Creates the group on the receive stream (--stream-recv-queue). */
QB_API int redis_client_create_recv_group(Redis_Client client);
/** Creates the group on the send stream (--stream-send-queue). */
QB_API int redis_client_create_send_group(Redis_Client client);
/** Waits up to 60 s for one entry and acknowledges it. Each out-value is set
 * (to a heap copy the caller frees) only when its field was present; callers
 * initialise them to NULL. 0 also when nothing arrived or the connection
 * failed; -1 for a null client or a missing parameter. */
QB_API int redis_client_recv_data(Redis_Client client, char** port_name, char** recv_data, char** recv_uuid);
/** Appends node_id, request_id, type, extra, `<port_name>` (port_data as its
 * value) and success to the send stream, trimmed to about 2000 entries. debug
 * non-zero sets extra to {"global": {"debug": true}}. After a broken
 * connection it reconnects and retries once. -1 for a null client, a missing
 * argument or parameter, or an append Redis did not accept. */
QB_API int redis_client_send_data(Redis_Client client, char* request_id, char* port_name, char* port_data, char* type,
                                  int debug);
/** Sends "info" and discards the reply; 0, or -1 for a null client. */
QB_API int redis_client_get_info(Redis_Client client);
/** Releases a reply (NULL is ignored); it prints nothing. */
QB_API void redis_print_reply(struct redisReply* reply);

QB_END_DECLS

#endif /* REDIS_STREAM_H */
