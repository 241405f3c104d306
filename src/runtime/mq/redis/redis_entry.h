// Reading one entry out of an XREADGROUP reply, with no I/O, so the shape
// checks can be fed replies built from raw protocol bytes.
#pragma once

#include <hiredis/hiredis.h>

#include <cstddef>

namespace qb {

struct StreamEntry {
    // Point into the reply; valid while it lives.
    const char* stream = nullptr;
    const char* entry_id = nullptr;
    // Heap copies handed to the caller, or null when the field was absent.
    char* port_name = nullptr;
    char* data = nullptr;
    char* request_id = nullptr;

    void release();
};

enum class ReadResult {
    kEntry,    // stream and entry id found (the fields may still be unusable)
    kNil,      // the blocking read expired
    kUnknown,  // anything else; *bad_type holds the offending element's type
};

// A port field: at most 4 bytes and containing "in" or "out".
bool is_port_field(const char* name, size_t len);

// Walks reply -> stream -> entries -> entry -> fields, checking type and
// element count at each level. On kEntry the copies in *out are owned by it.
ReadResult parse_read_reply(const redisReply* reply, StreamEntry* out, int* bad_type);

// One [id, fields] element of a read or claim reply: on true, entry_id and
// the copies are set (stream is left alone).
bool parse_entry(const redisReply* entry, StreamEntry* out);

// A group read that found nothing: nil, or a stream whose entry list is empty
// (what a read of the consumer's own pending entries ends with).
bool read_is_empty(const redisReply* reply);

// XAUTOCLAIM's reply [next cursor, [entry...], ...]: the first claimed entry
// or null; *cursor points at the next start id inside the reply (or is null).
const redisReply* claimed_entry(const redisReply* reply, const char** cursor);

// XPENDING's range reply [[id, consumer, idle, count], ...]: the first row's
// delivery count, or -1.
long long pending_delivery_count(const redisReply* reply);

}  // namespace qb
