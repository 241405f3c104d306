// The event and ack parser: a single pass over the text of one packet, with
// no socket, thread or session, so tests and fuzzers feed it bytes.
#pragma once

#include <cstddef>

#include "socketio_def.h"

namespace qb::sio {

struct parsed_packet {
    char* namespace_;  // null: default namespace
    char* event;       // null when the array is empty or absent
    int message_id;    // -1 when absent
    int count;         // payloads[count].message is null
    sio_payload payloads[RX_PAYLOAD_NUMBER];
};

// Splits the text after an event or ack packet type in place: NUL bytes go
// over the delimiters, and every text in *out points into text. Only
// text[0, length) is read or written, and text[length] must be a NUL byte (the
// WebSocket client's receive buffer has one). False when the packet is to be
// dropped.
bool parse_user_data(char* text, size_t length, parsed_packet* out);

}  // namespace qb::sio
