// Pieces shared by the WebSocket server and client: the per-message send
// queue entry and the reassembly buffer with its size limit.
#pragma once

#include <libwebsockets.h>

#include <cstddef>

#include "sdk_list.h"

namespace qb::ws {

// Headroom libwebsockets needs in front of a payload it writes.
constexpr size_t kHeadroom = 16;

struct tx_data {
    list_head node;
    unsigned char* data;  // kHeadroom bytes, payload, one zero byte
    int length;
    int binary;  // write type of this message, not of the session
};

// NULL when length is negative, too large, or memory is short.
tx_data* tx_new(const void* payload, int length, int binary);
void tx_free(tx_data* tx);
void tx_free_all(list_head* list);

struct rx_info {
    char* buffer;
    size_t total_length;  // capacity, without the terminator byte
    size_t cur_len;
};

enum class RxResult { ok, too_large, no_memory };

// Appends one chunk; a first fragment starts a new message (a stale buffer is
// dropped). Capacity starts at max(first_capacity, chunk) and grows by the
// missing amount plus step, never past the message limit.
RxResult rx_append(rx_info* rx, const void* chunk, size_t len, bool first, size_t first_capacity, size_t step);
void rx_reset(rx_info* rx);

size_t max_message_size();
// Bytes one session (or client) may have queued for sending.
size_t max_send_queue();

enum class Admit { ok, refused, overflowed };
// Under the owner's queue lock: whether length more bytes fit the queue.
// overflowed: they did not, and this call dropped the queue and set
// *closing (the caller logs and closes); refused: it was closing already.
Admit tx_admit(list_head* list, size_t* queued, bool* closing, size_t length);

// Ends a connection from its service thread at the next service pass, also
// when its peer reads nothing (a write would never become possible).
void kill_connection(lws* wsi);

// The "data_trans" protocol table (one entry and the terminator) both ends
// register, with user as the protocol's user pointer; NULL when memory is short.
lws_protocols* make_protocols(lws_callback_function* callback, void* user, size_t per_session_size,
                              size_t rx_buffer_size);
// A context serving protocols on port (CONTEXT_PORT_NO_LISTEN for a client).
lws_context* create_context(lws_protocols* protocols, int port, void* user);

}  // namespace qb::ws
