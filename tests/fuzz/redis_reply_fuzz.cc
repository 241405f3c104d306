// Any bytes a server could send, parsed by hiredis, then read as a group-read,
// claim and pending-range reply: the shape checks must hold for every tree
// the parser can build.
#include <hiredis/hiredis.h>

#include <cstddef>
#include <cstdint>

#include "runtime/mq/redis/redis_entry.h"

namespace {
// hiredis allocates an announced array up front; a header claiming millions
// of elements only measures the allocator, so such inputs are skipped.
bool announces_huge_length(const uint8_t* data, size_t size) {
    for (size_t i = 0; i < size; ++i) {
        if (data[i] != '*' && data[i] != '$') continue;
        unsigned long n = 0;
        for (size_t j = i + 1; j < size && data[j] >= '0' && data[j] <= '9'; ++j) {
            n = n * 10 + (data[j] - '0');
            if (n > 4096) return true;
        }
    }
    return false;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (announces_huge_length(data, size)) return 0;
    redisReader* reader = redisReaderCreate();
    if (!reader) return 0;
    redisReaderFeed(reader, reinterpret_cast<const char*>(data), size);
    void* reply = nullptr;
    while (redisReaderGetReply(reader, &reply) == REDIS_OK && reply) {
        qb::StreamEntry entry;
        int type = 0;
        const auto* r = static_cast<redisReply*>(reply);
        qb::parse_read_reply(r, &entry, &type);
        entry.release();
        qb::read_is_empty(r);
        qb::pending_delivery_count(r);
        const char* cursor = nullptr;
        if (const redisReply* claimed = qb::claimed_entry(r, &cursor)) {
            qb::StreamEntry e;
            qb::parse_entry(claimed, &e);
            e.release();
        }
        freeReplyObject(reply);
        reply = nullptr;
    }
    redisReaderFree(reader);
    return 0;
}
