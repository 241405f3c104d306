/** @file
 * Packet codes, limits and the argument record shared by the Socket.IO
 * client's send and receive paths (Socket.IO over Engine.IO protocol 3).
 */
#ifndef SOCKETIO_DEF_H
#define SOCKETIO_DEF_H

#include "qb_export.h"

QB_BEGIN_DECLS

/** First character of an Engine.IO packet. */
typedef enum eio_code {
    EIO_OPEN = '0',
    EIO_CLOSE = '1',
    EIO_PING = '2',
    EIO_PONG = '3',
    EIO_MESSAGE = '4'
} eio_code;

/** First character of a Socket.IO packet, after the Engine.IO '4'. */
typedef enum sio_code {
    SIO_CONNECT = '0',
    SIO_DISCONNECT = '1',
    SIO_EVENT = '2',
    SIO_ACK = '3',
    SIO_ERROR = '4',
    SIO_BINARY_EVENT = '5',
    SIO_BINARY_ACK = '6'
} sio_code;

/** States of the event and ack parser. */
typedef enum socketio_parse_state {
    PARSE_STATE_INIT = 0,
    PARSE_STATE_NAMESPACE = 1,
    PARSE_STATE_EVENT_ACK_ID = 2,
    PARSE_STATE_EVENT = 3,
    PARSE_STATE_EVENT_JSON = 4,
    PARSE_STATE_BODY = 5,
    PARSE_STATE_BODY_JSON = 6,
    PARSE_STATE_END = 7
} socketio_parse_state;

/* Resend buffer: QoS levels (resent in this order; only level 0 survives a
 * failed resend) and slots per level. */
#define SIO_QOS_HIGH 0
#define SIO_QOS_MID 1
#define SIO_QOS_LOW 2
#define SIO_TX_BUFFER_SIZE 1024

/** Payload entries of one received event; the parser delivers at most one
 * fewer (99) arguments. */
#define RX_PAYLOAD_NUMBER 100

/** Longest namespace a session accepts, in characters. */
#define SIO_NAMESPACE_MAX 48

/**
 * One argument. Sending: length > 0 means a binary argument of that many
 * bytes, otherwise message is NUL-terminated text (a text beginning with "{"
 * goes out as a JSON object, any other in double quotes, unescaped).
 * Receiving: length is 0 and message is NUL-terminated text (string
 * arguments without their quotes and with their escapes in place; objects as
 * JSON text).
 */
typedef struct sio_payload {
    char* message;
    int length;
} sio_payload;

QB_END_DECLS

#endif /* SOCKETIO_DEF_H */
