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

}  // namespace qb
