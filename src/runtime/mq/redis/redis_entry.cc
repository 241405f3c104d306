#include "runtime/mq/redis/redis_entry.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace qb {
namespace {

bool is_array(const redisReply* r, size_t min_elements) {
    return r && r->type == REDIS_REPLY_ARRAY && r->element && r->elements >= min_elements;
}

bool is_string(const redisReply* r) { return r && r->type == REDIS_REPLY_STRING && r->str; }

char* copy_of(const redisReply* r) {
    if (r->len == SIZE_MAX) return nullptr;
    const size_t len = r->len;
    char* s = static_cast<char*>(malloc(len + 1));
    if (!s) return nullptr;
    memcpy(s, r->str, len);
    s[len] = '\0';
    return s;
}

// A field that appears twice keeps its last value; the earlier copy goes.
void replace(char*& slot, char* value) {
    free(slot);
    slot = value;
}

void walk_fields(const redisReply* fields, StreamEntry* out) {
    for (size_t i = 0; i + 1 < fields->elements; i += 2) {
        const redisReply* name = fields->element[i];
        const redisReply* value = fields->element[i + 1];
        if (!is_string(name) || !is_string(value)) continue;
        const size_t len = name->len;
        if (is_port_field(name->str, len)) {
            char* n = copy_of(name);
            char* v = copy_of(value);
            if (!n || !v) {
                free(n);
                free(v);
                continue;
            }
            replace(out->port_name, n);
            replace(out->data, v);
        } else if (len == 2 && memcmp(name->str, "id", 2) == 0) {
            if (char* v = copy_of(value)) replace(out->request_id, v);
        }
    }
}

}  // namespace

void StreamEntry::release() {
    free(port_name);
    free(data);
    free(request_id);
    port_name = data = request_id = nullptr;
}

bool is_port_field(const char* name, size_t len) {
    if (!name || len > 4) return false;
    return memmem(name, len, "in", 2) || memmem(name, len, "out", 3);
}

ReadResult parse_read_reply(const redisReply* reply, StreamEntry* out, int* bad_type) {
    *bad_type = reply ? reply->type : 0;
    if (!reply) return ReadResult::kUnknown;
    if (reply->type == REDIS_REPLY_NIL) return ReadResult::kNil;
    if (!is_array(reply, 1)) return ReadResult::kUnknown;

    // reply: [stream]; stream: [name, entries]; entries: [entry]; entry: [id, fields]
    const redisReply* stream = reply->element[0];
    if (!is_array(stream, 2) || !is_string(stream->element[0]) || !is_array(stream->element[1], 1)) {
        *bad_type = stream ? stream->type : 0;
        return ReadResult::kUnknown;
    }
    const redisReply* entry = stream->element[1]->element[0];
    if (!parse_entry(entry, out)) {
        *bad_type = entry ? entry->type : 0;
        return ReadResult::kUnknown;
    }
    out->stream = stream->element[0]->str;
    return ReadResult::kEntry;
}

bool parse_entry(const redisReply* entry, StreamEntry* out) {
    if (!is_array(entry, 2) || !is_string(entry->element[0])) return false;
    out->entry_id = entry->element[0]->str;
    // A deleted entry still pending comes back with a nil field list.
    if (entry->element[1] && entry->element[1]->type == REDIS_REPLY_ARRAY && entry->element[1]->element)
        walk_fields(entry->element[1], out);
    return true;
}

bool read_is_empty(const redisReply* reply) {
    if (reply && reply->type == REDIS_REPLY_NIL) return true;
    if (!is_array(reply, 1)) return false;
    const redisReply* stream = reply->element[0];
    return is_array(stream, 2) && stream->element[1] && stream->element[1]->type == REDIS_REPLY_ARRAY &&
           stream->element[1]->elements == 0;
}

const redisReply* claimed_entry(const redisReply* reply, const char** cursor) {
    *cursor = nullptr;
    if (!is_array(reply, 2) || !is_string(reply->element[0])) return nullptr;
    *cursor = reply->element[0]->str;
    const redisReply* entries = reply->element[1];
    return is_array(entries, 1) ? entries->element[0] : nullptr;
}

long long pending_delivery_count(const redisReply* reply) {
    if (!is_array(reply, 1)) return -1;
    const redisReply* row = reply->element[0];
    if (!is_array(row, 4) || !row->element[3] || row->element[3]->type != REDIS_REPLY_INTEGER) return -1;
    return row->element[3]->integer;
}

}  // namespace qb
