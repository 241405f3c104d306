// Counters a queue backend keeps about its own work, readable at any time
// from any thread, with an optional thread that logs them periodically.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

#include "qb_mq.h"

namespace qb {

class MqCounters {
public:
    MqCounters() = default;
    ~MqCounters() { stop_logging(); }
    MqCounters(const MqCounters&) = delete;
    MqCounters& operator=(const MqCounters&) = delete;

    std::atomic<uint64_t> requests{0};
    std::atomic<uint64_t> answers{0};
    std::atomic<uint64_t> triggers{0};
    std::atomic<uint64_t> send_failures{0};
    std::atomic<uint64_t> redeliveries{0};
    std::atomic<uint64_t> dead_lettered{0};

    // Counts one send by its kind (answer or trigger) and its result.
    void count_send(bool answer, int rc);
    // One callback's duration; the percentiles cover the latest kWindow.
    void record_callback_us(uint32_t us);
    // reconnections comes from the backend, which tracks its connections.
    void snapshot(qb_mq_stats* out, uint64_t reconnections) const;

    // Logs a snapshot every interval_s seconds under tag until stop_logging;
    // reconnections() is asked at each line. No thread for interval_s < 1.
    void start_logging(int interval_s, const char* tag, uint64_t (*reconnections)(void*), void* arg);
    void stop_logging();

    static constexpr size_t kWindow = 1024;

private:
    mutable std::mutex window_lock_;
    uint32_t window_[kWindow] = {};
    size_t filled_ = 0;
    size_t next_ = 0;

    std::mutex log_lock_;
    std::condition_variable log_cv_;
    bool log_stop_ = false;
    std::thread logger_;
};

// The counters of each backend's handle; false for a null handle.
bool redis_backend_stats(void* handle, qb_mq_stats* out);
bool fake_backend_stats(void* handle, qb_mq_stats* out);

// Reads a whole-number parameter; fallback when absent or not a number >= min.
long param_long(const char* key, long fallback, long min);

}  // namespace qb
