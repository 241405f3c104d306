// At-least-once reading of the receive stream: requests are acknowledged
// only after they were handled. Entries still pending for this consumer are
// read again first, entries left idle at other consumers are claimed, and an
// entry delivered too often goes to the dead-letter stream instead.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>

#include "runtime/mq/redis/redis_entry.h"
#include "runtime/mq/redis/redis_stream_internal.h"

namespace qb {

struct ReliableOptions {
    long claim_idle_ms = 30000;
    long max_deliveries = 5;
};

// One request to hand to the callback, then to acknowledge.
struct Delivery {
    std::string stream;
    std::string entry_id;
    char* port = nullptr;  // heap copies (null when absent), freed by release()
    char* data = nullptr;
    char* id = nullptr;
    long long count = 1;  // times delivered, this one included
    void release();
};

class ReliableReader {
public:
    enum class Result { kEntry, kNone, kError };

    // node and stream are copied; *dead_lettered counts entries moved away.
    ReliableReader(const char* node, const char* stream, ReliableOptions options,
                   std::atomic<uint64_t>* dead_lettered);

    // The next entry to handle, waiting at most until the next claim scan is
    // due (bounded by 60 s). kNone: nothing yet; kError: the command failed.
    // Entries beyond the delivery limit are dead-lettered on the way.
    Result next(redis_stream_handle* h, Delivery* out);
    // Acknowledges a handled (or undeliverable) entry. wait: read the reply
    // now instead of with the next command.
    void ack(redis_stream_handle* h, const Delivery& d, bool wait);
    // After a reconnection: own pending entries first again, claims rescanned.
    void restart();

private:
    using Clock = std::chrono::steady_clock;
    Result take(redis_stream_handle* h, const redisReply* entry, Delivery* out, bool fresh);
    bool dead_letter(redis_stream_handle* h, const redisReply* entry, long long deliveries);
    long long delivery_count(redis_stream_handle* h, const std::string& entry_id);

    std::string node_;
    std::string stream_;
    std::string dead_stream_;
    ReliableOptions options_;
    bool own_done_ = false;
    std::string own_cursor_ = "0";
    std::string claim_cursor_ = "0-0";
    Clock::time_point next_claim_;
    std::atomic<uint64_t>* dead_lettered_;
};

}  // namespace qb
