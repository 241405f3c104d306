#include "runtime/mq/redis/redis_reliable.h"

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "redis_stream.h"
#include "sdk_logger.h"

namespace qb {
namespace {
constexpr const char* TAG = "QB_MQ_REDIS";
constexpr char kGroup[] = "default";
constexpr long kMaxBlockMs = 60000;
constexpr long kMinScanMs = 100;

struct ReplyHolder {
    redisReply* r;
    explicit ReplyHolder(redisReply* reply) : r(reply) {}
    ~ReplyHolder() { redis_print_reply(r); }
    ReplyHolder(const ReplyHolder&) = delete;
    ReplyHolder& operator=(const ReplyHolder&) = delete;
};

// The entry node of a group read that parse_read_reply accepted.
const redisReply* read_entry_node(const redisReply* reply) { return reply->element[0]->element[1]->element[0]; }
}  // namespace

void Delivery::release() {
    free(port);
    free(data);
    free(id);
    port = data = id = nullptr;
}

ReliableReader::ReliableReader(const char* node, const char* stream, ReliableOptions options,
                               std::atomic<uint64_t>* dead_lettered)
    : node_(node), stream_(stream), dead_stream_(std::string(stream) + "-dead"), options_(options),
      next_claim_(Clock::now()), dead_lettered_(dead_lettered) {}

void ReliableReader::restart() {
    own_done_ = false;
    own_cursor_ = "0";
    claim_cursor_ = "0-0";
    next_claim_ = Clock::now();
}

long long ReliableReader::delivery_count(redis_stream_handle* h, const std::string& entry_id) {
    const char* argv[] = {"XPENDING", stream_.c_str(), kGroup, entry_id.c_str(), entry_id.c_str(), "1"};
    ReplyHolder reply(redis_run(h, 6, argv));
    return pending_delivery_count(reply.r);
}

bool ReliableReader::dead_letter(redis_stream_handle* h, const redisReply* entry, long long deliveries) {
    const redisReply* fields = entry->element[1];
    std::vector<const char*> argv = {"XADD", dead_stream_.c_str(), "*"};
    std::vector<size_t> lens = {4, dead_stream_.size(), 1};
    for (size_t i = 0; fields && fields->type == REDIS_REPLY_ARRAY && i + 1 < fields->elements; i += 2) {
        const redisReply* name = fields->element[i];
        const redisReply* value = fields->element[i + 1];
        if (name->type != REDIS_REPLY_STRING || value->type != REDIS_REPLY_STRING) continue;
        argv.insert(argv.end(), {name->str, value->str});
        lens.insert(lens.end(), {name->len, value->len});
    }
    if (argv.size() == 3) return true;  // deleted from the stream meanwhile: nothing to keep
    const std::string count = std::to_string(deliveries);
    argv.insert(argv.end(), {"deliveries", count.c_str()});
    lens.insert(lens.end(), {10, count.size()});
    ReplyHolder reply(redis_run(h, static_cast<int>(argv.size()), argv.data(), lens.data()));
    if (!reply.r || reply.r->type == REDIS_REPLY_ERROR) {
        LOGE(TAG, "Dead-letter append to %s failed: %s", dead_stream_.c_str(),
             reply.r && reply.r->str ? reply.r->str : "no connection");
        return false;
    }
    return true;
}

ReliableReader::Result ReliableReader::take(redis_stream_handle* h, const redisReply* entry, Delivery* out,
                                            bool fresh) {
    StreamEntry e;
    if (!parse_entry(entry, &e)) return Result::kNone;
    out->stream = stream_;
    out->entry_id = e.entry_id;
    const long long count = fresh ? 1 : delivery_count(h, out->entry_id);
    if (count < 0) {
        // No longer pending (another consumer acknowledged it meanwhile).
        e.release();
        return Result::kNone;
    }
    if (count - 1 >= options_.max_deliveries) {
        LOGW(TAG, "Request %s (entry %s) delivered %lld times without acknowledgement, moving it to %s",
             e.request_id ? e.request_id : "-", out->entry_id.c_str(), count - 1, dead_stream_.c_str());
        e.release();
        if (!dead_letter(h, entry, count - 1)) return Result::kError;
        ack(h, *out, true);
        dead_lettered_->fetch_add(1);
        return Result::kNone;
    }
    out->port = e.port_name;
    out->data = e.data;
    out->id = e.request_id;
    out->count = count;
    return Result::kEntry;
}

ReliableReader::Result ReliableReader::next(redis_stream_handle* h, Delivery* out) {
    if (!own_done_) {
        // Own pending entries, oldest first: what a crash or restart left.
        const char* argv[] = {"XREADGROUP", "GROUP", kGroup, node_.c_str(), "COUNT", "1", "STREAMS",
                              stream_.c_str(), own_cursor_.c_str()};
        ReplyHolder reply(redis_run(h, 9, argv));
        if (!reply.r) return Result::kError;
        if (read_is_empty(reply.r)) {
            own_done_ = true;
        } else {
            StreamEntry probe;
            int type = 0;
            const bool ok = parse_read_reply(reply.r, &probe, &type) == ReadResult::kEntry;
            probe.release();
            if (!ok) {
                LOGD(TAG, "redis unknown reply type = %d", type);
                return Result::kError;
            }
            const redisReply* entry = read_entry_node(reply.r);
            own_cursor_ = entry->element[0]->str;
            return take(h, entry, out, false);
        }
    }
    const auto interval = std::chrono::milliseconds(std::max(options_.claim_idle_ms / 2, kMinScanMs));
    if (Clock::now() >= next_claim_) {
        const std::string idle = std::to_string(options_.claim_idle_ms);
        const char* argv[] = {"XAUTOCLAIM", stream_.c_str(), kGroup, node_.c_str(), idle.c_str(),
                              claim_cursor_.c_str(), "COUNT", "1"};
        ReplyHolder reply(redis_run(h, 8, argv));
        if (!reply.r) return Result::kError;
        const char* cursor = nullptr;
        const redisReply* entry = claimed_entry(reply.r, &cursor);
        claim_cursor_ = cursor ? cursor : "0-0";
        if (!cursor) LOGD(TAG, "Claim refused: %s", reply.r->type == REDIS_REPLY_ERROR ? reply.r->str : "?");
        // One scan step per pass; a finished scan waits for the next interval.
        if (claim_cursor_ == "0-0") next_claim_ = Clock::now() + interval;
        if (entry) {
            LOGI(TAG, "Claimed entry %s idle at another consumer", entry->type == REDIS_REPLY_ARRAY &&
                 entry->elements > 0 && entry->element[0]->str ? entry->element[0]->str : "?");
            return take(h, entry, out, false);
        }
    }
    const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(next_claim_ - Clock::now()).count();
    // BLOCK 0 would wait for ever.
    const std::string block = std::to_string(std::clamp<long>(static_cast<long>(wait), 1, kMaxBlockMs));
    const char* argv[] = {"XREADGROUP", "GROUP", kGroup, node_.c_str(), "COUNT", "1", "BLOCK", block.c_str(),
                          "STREAMS", stream_.c_str(), ">"};
    ReplyHolder reply(redis_run_blocking(h, 11, argv));
    if (!reply.r) return Result::kError;
    StreamEntry probe;
    int type = 0;
    switch (parse_read_reply(reply.r, &probe, &type)) {
    case ReadResult::kEntry:
        probe.release();
        return take(h, read_entry_node(reply.r), out, true);
    case ReadResult::kNil:
        return Result::kNone;
    case ReadResult::kUnknown:
        break;
    }
    LOGD(TAG, "redis unknown reply type = %d", type);
    return Result::kError;
}

void ReliableReader::ack(redis_stream_handle* h, const Delivery& d, bool wait) {
    const char* argv[] = {"XACK", d.stream.c_str(), kGroup, d.entry_id.c_str()};
    if (wait) redis_print_reply(redis_run(h, 4, argv));
    else redis_run_deferred(h, 4, argv);
}

}  // namespace qb
