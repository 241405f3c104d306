#include "runtime/mq_counters.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <vector>

#include "qb_env.h"
#include "sdk_logger.h"

namespace qb {

void MqCounters::count_send(bool answer, int rc) {
    if (rc != 0) send_failures.fetch_add(1, std::memory_order_relaxed);
    else (answer ? answers : triggers).fetch_add(1, std::memory_order_relaxed);
}

void MqCounters::record_callback_us(uint32_t us) {
    std::lock_guard<std::mutex> lock(window_lock_);
    window_[next_] = us;
    next_ = (next_ + 1) % kWindow;
    filled_ = std::min(filled_ + 1, kWindow);
}

void MqCounters::snapshot(qb_mq_stats* out, uint64_t reconnections) const {
    out->requests = requests.load();
    out->answers = answers.load();
    out->triggers = triggers.load();
    out->send_failures = send_failures.load();
    out->reconnections = reconnections;
    out->redeliveries = redeliveries.load();
    out->dead_lettered = dead_lettered.load();
    std::vector<uint32_t> v;
    {
        std::lock_guard<std::mutex> lock(window_lock_);
        v.assign(window_, window_ + filled_);
    }
    out->callback_p50_us = out->callback_p99_us = 0;
    if (v.empty()) return;
    std::sort(v.begin(), v.end());
    out->callback_p50_us = v[(v.size() - 1) * 50 / 100];
    out->callback_p99_us = v[(v.size() - 1) * 99 / 100];
}

void MqCounters::start_logging(int interval_s, const char* tag, uint64_t (*reconnections)(void*), void* arg) {
    if (interval_s < 1 || logger_.joinable()) return;
    log_stop_ = false;
    try {
        logger_ = std::thread([this, interval_s, tag, reconnections, arg] {
            std::unique_lock<std::mutex> lock(log_lock_);
            while (!log_cv_.wait_for(lock, std::chrono::seconds(interval_s), [this] { return log_stop_; })) {
                qb_mq_stats s;
                snapshot(&s, reconnections ? reconnections(arg) : 0);
                LOGI(tag,
                     "stats requests=%llu answers=%llu triggers=%llu send_failures=%llu reconnections=%llu "
                     "redeliveries=%llu dead_lettered=%llu callback_p50_us=%u callback_p99_us=%u",
                     s.requests, s.answers, s.triggers, s.send_failures, s.reconnections, s.redeliveries,
                     s.dead_lettered, s.callback_p50_us, s.callback_p99_us);
            }
        });
    } catch (...) {
        LOGE(tag, "Statistics thread not started");
    }
}

void MqCounters::stop_logging() {
    if (!logger_.joinable()) return;
    {
        std::lock_guard<std::mutex> lock(log_lock_);
        log_stop_ = true;
    }
    log_cv_.notify_all();
    logger_.join();
}

long param_long(const char* key, long fallback, long min) {
    char* text = qb_get_env(const_cast<char*>(key));
    if (!text) return fallback;
    errno = 0;
    char* end = nullptr;
    long v = strtol(text, &end, 10);
    const bool ok = errno == 0 && end != text && *end == '\0' && v >= min;
    if (!ok) LOGW("QB_MQ", "Parameter %s=%s ignored, using %ld", key, text, fallback);
    free(text);
    return ok ? v : fallback;
}

}  // namespace qb
