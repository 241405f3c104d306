#include <pthread.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>

#include "qb_env.h"
#include "runtime/mq_counters.h"
#include "runtime/mq/redis/redis_reliable.h"

#include "qb_mq_impl.h"
#include "qb_mq_redis.h"
#include "redis_stream.h"
#include "runtime/mq/redis/redis_stream_internal.h"
#include "sdk_logger.h"
#include "sdk_os.h"
#include "uuid4.h"

namespace {
constexpr const char* TAG = "QB_MQ_REDIS";
constexpr int kPollMs = 10;
constexpr int kBackoffFirstMs = 100;
constexpr int kBackoffMaxMs = 2000;

struct quorbit_redis_handle {
    Redis_Client trigger_redis = nullptr;
    Redis_Client call_redis = nullptr;
    char uuid_buf[UUID4_LEN] = {};
    // cb, parent and user are set from the registering thread while the
    // receive thread may already hold a message for them.
    qb_mq_callback cb = nullptr;
    void* parent = nullptr;
    void* user = nullptr;
    std::atomic<int> running{0};
    std::mutex cb_lock;
    std::mutex trigger_lock;  // trigger_redis together with uuid_buf
    pthread_t thread{};
    // Set when deinit came from the callback: the thread frees the handle itself.
    bool release_on_exit = false;
    bool at_least_once = false;
    qb::ReliableOptions reliable;
    std::unique_ptr<qb::ReliableReader> reader;  // receive thread only
    qb::MqCounters counters;
};

uint64_t reconnections(void* arg) {
    auto* h = static_cast<quorbit_redis_handle*>(arg);
    return static_cast<redis_stream_handle*>(h->call_redis)->generation.load() +
           static_cast<redis_stream_handle*>(h->trigger_redis)->generation.load();
}

// --mq-delivery: "at-least-once" opts in; anything else keeps acknowledge-on-read.
bool wants_at_least_once() {
    char* mode = qb_get_env(const_cast<char*>("--mq-delivery"));
    if (!mode) return false;
    const bool alo = strcmp(mode, "at-least-once") == 0;
    if (!alo && strcmp(mode, "at-most-once") != 0)
        LOGW(TAG, "Unknown --mq-delivery %s, using at-most-once", mode);
    free(mode);
    return alo;
}

// The handle whose receive thread is the current thread, if any: answers
// given from the callback go out on call_redis, which that thread alone reads.
thread_local quorbit_redis_handle* t_receiving = nullptr;

redis_stream_handle* stream_of(Redis_Client c) { return static_cast<redis_stream_handle*>(c); }

// Sleeps ms in short steps so a stop is seen within one step.
void pause_while_running(quorbit_redis_handle* h, int ms) {
    for (int slept = 0; slept < ms && h->running.load(); slept += kPollMs) os_msleep(kPollMs);
}

// A request read before any callback was registered waits here instead of
// being dropped: it has been acknowledged already and exists nowhere else.
bool deliver(quorbit_redis_handle* h, char* port, char* data, char* id) {
    bool told = false;
    while (h->running.load()) {
        qb_mq_callback cb;
        void* parent;
        void* user;
        {
            std::lock_guard<std::mutex> lock(h->cb_lock);
            cb = h->cb;
            parent = h->parent;
            user = h->user;
        }
        if (cb) {
            h->counters.requests.fetch_add(1);
            const auto t0 = std::chrono::steady_clock::now();
            cb(parent, port, data, id, user);
            const auto us = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - t0);
            h->counters.record_callback_us(static_cast<uint32_t>(std::min<long long>(us.count(), UINT32_MAX)));
            return true;
        }
        if (!told) {
            LOGD(TAG, "Holding request %s until a callback is registered", id);
            told = true;
        }
        os_msleep(kPollMs);
    }
    return false;
}

// The reader needs the stream and consumer names; they are parameters that
// may be missing, in which case the loop backs off and asks again.
qb::ReliableReader* reliable_reader(quorbit_redis_handle* h) {
    if (h->reader) return h->reader.get();
    char* node = qb_get_env(const_cast<char*>("--stream-node-id"));
    if (!node) node = qb_get_env(const_cast<char*>("--node-id"));
    char* stream = qb_get_env(const_cast<char*>("--stream-recv-queue"));
    if (node && stream)
        h->reader.reset(new (std::nothrow) qb::ReliableReader(node, stream, h->reliable, &h->counters.dead_lettered));
    else
        LOGE(TAG, "Missing --stream-recv-queue or node id, nothing read");
    free(node);
    free(stream);
    return h->reader.get();
}

// One pass of the at-least-once loop: 0 when something was read or nothing
// arrived, -1 when the read failed.
int receive_reliably(quorbit_redis_handle* h) {
    qb::ReliableReader* reader = reliable_reader(h);
    if (!reader) return -1;
    redis_stream_handle* call = stream_of(h->call_redis);
    qb::Delivery d;
    const auto result = reader->next(call, &d);
    if (result != qb::ReliableReader::Result::kEntry) return result == qb::ReliableReader::Result::kError ? -1 : 0;
    bool handled = true;
    if (d.port && d.data && d.id) {
        if (d.count > 1) h->counters.redeliveries.fetch_add(1);
        handled = deliver(h, d.port, d.data, d.id);
    } else {
        LOGW(TAG, "Entry %s lacks a port field or an id, acknowledged unread", d.entry_id.c_str());
    }
    // Not handled means stopping before a callback was registered: the entry
    // stays pending and comes back on the next start.
    if (handled) reader->ack(call, d, !h->running.load());
    d.release();
    return 0;
}

// Brings call_redis back after a break. A restarted server may have lost the
// streams and their groups, so they are created again once connected.
void restore_connection(quorbit_redis_handle* h, unsigned* groups_generation) {
    redis_stream_handle* call = stream_of(h->call_redis);
    int backoff = kBackoffFirstMs;
    while (h->running.load() && qb::redis_client_broken(call)) {
        if (qb::redis_client_reconnect(call) == 0) break;
        pause_while_running(h, backoff);
        backoff = std::min(backoff * 2, kBackoffMaxMs);
    }
    const unsigned generation = call->generation.load();
    if (h->running.load() && generation != *groups_generation) {
        redis_client_create_recv_group(h->call_redis);
        redis_client_create_send_group(h->call_redis);
        *groups_generation = generation;
        // What this consumer held before the break is delivered first again.
        if (h->reader) h->reader->restart();
    }
}

void release(quorbit_redis_handle* h) {
    h->counters.stop_logging();  // it reads the clients
    redis_client_deinit(h->call_redis);
    redis_client_deinit(h->trigger_redis);
    delete h;
}

}  // namespace

namespace qb {
bool redis_backend_stats(void* handle, qb_mq_stats* out) {
    auto* h = static_cast<quorbit_redis_handle*>(handle);
    if (!h) return false;
    h->counters.snapshot(out, reconnections(h));
    return true;
}
}  // namespace qb

namespace {
const qb_mq_impl_t mq_redis_impl = {qb_mq_redis_init, qb_mq_redis_register_callback, qb_mq_redis_send,
                                    qb_mq_redis_deinit};
}  // namespace

extern "C" QB_API void* quorbit_mq_recv_thread(void* arg) {
    auto* h = static_cast<quorbit_redis_handle*>(arg);
    t_receiving = h;
    qb::redis_client_block_sigpipe_on_this_thread();
    unsigned groups_generation = stream_of(h->call_redis)->generation.load();
    int backoff = kBackoffFirstMs;
    while (h->running.load()) {
        restore_connection(h, &groups_generation);
        if (!h->running.load()) break;
        if (h->at_least_once) {
            if (receive_reliably(h) != 0) {
                pause_while_running(h, backoff);
                backoff = std::min(backoff * 2, kBackoffMaxMs);
            } else {
                backoff = kBackoffFirstMs;
            }
            continue;
        }
        char* port = nullptr;
        char* data = nullptr;
        char* id = nullptr;
        if (redis_client_recv_data(h->call_redis, &port, &data, &id) != 0) {
            // Missing parameters: retrying fast would only repeat the error line.
            pause_while_running(h, backoff);
            backoff = std::min(backoff * 2, kBackoffMaxMs);
            continue;
        }
        backoff = kBackoffFirstMs;
        const bool complete = port && data && id;
        if (complete) deliver(h, port, data, id);
        free(port);
        free(data);
        free(id);
        if (!complete) os_msleep(kPollMs);
    }
    LOGD(TAG, "Thread Exit");
    if (h->release_on_exit) release(h);
    return nullptr;
}

extern "C" {

QB_API qb_mq_impl_t* qb_mq_get_redis(void) { return const_cast<qb_mq_impl_t*>(&mq_redis_impl); }

QB_API Qb_mq_impl qb_mq_redis_init(void) {
    Redis_Client trigger = redis_client_init();
    if (!trigger) return nullptr;
    Redis_Client call = redis_client_init();
    if (!call) {
        redis_client_deinit(trigger);
        return nullptr;
    }
    auto* h = new (std::nothrow) quorbit_redis_handle;
    if (!h) {
        redis_client_deinit(call);
        redis_client_deinit(trigger);
        return nullptr;
    }
    h->trigger_redis = trigger;
    h->call_redis = call;
    h->at_least_once = wants_at_least_once();
    if (h->at_least_once) {
        h->reliable.claim_idle_ms = qb::param_long("--mq-claim-idle-ms", 30000, 1);
        h->reliable.max_deliveries = qb::param_long("--mq-max-deliveries", 5, 1);
        LOGI(TAG, "At-least-once delivery: claim after %ld ms idle, dead letter after %ld deliveries",
             h->reliable.claim_idle_ms, h->reliable.max_deliveries);
    }
    redis_client_create_recv_group(call);
    redis_client_create_send_group(call);
    uuid4_init();
    h->running.store(1);
    // Joinable: deinit must know the thread has left before freeing what it reads.
    int rc = pthread_create(&h->thread, nullptr, quorbit_mq_recv_thread, h);
    if (rc != 0) {
        LOGE(TAG, "Can't create thread quorbit_mq_redis: %d", rc);
        redis_client_deinit(call);
        redis_client_deinit(trigger);
        delete h;
        return nullptr;
    }
    pthread_setname_np(h->thread, "quorbit_mq_redi");
    h->counters.start_logging(static_cast<int>(qb::param_long("--mq-stats-interval", 0, 0)), "QB_MQ", reconnections, h);
    return h;
}

QB_API int qb_mq_redis_register_callback(Qb_mq handle, qb_mq_callback cb, void* user, void* parent) {
    auto* h = static_cast<quorbit_redis_handle*>(handle);
    if (!h) {
        LOGE(TAG, "Null handle");
        return -1;
    }
    std::lock_guard<std::mutex> lock(h->cb_lock);
    h->cb = cb;
    h->parent = parent;
    h->user = user;
    return 0;
}

QB_API int qb_mq_redis_send(Qb_mq_impl handle, char* output_port_name, char* output_data, char* recv_uuid) {
    auto* h = static_cast<quorbit_redis_handle*>(handle);
    if (!h) {
        LOGE(TAG, "Null handle");
        return -1;
    }
    char call_type[] = "call";
    int rc;
    if (recv_uuid) {
        if (t_receiving == h) {
            rc = redis_client_send_data(h->call_redis, recv_uuid, output_port_name, output_data, call_type, 0);
        } else {
            // Elsewhere call_redis may be inside a 60 s read; the answer must not
            // wait behind it, and trigger_redis carries the same entry layout.
            rc = redis_client_send_data(h->trigger_redis, recv_uuid, output_port_name, output_data, call_type, 0);
        }
    } else {
        char trigger_type[] = "trigger";
        std::lock_guard<std::mutex> lock(h->trigger_lock);
        uuid4_generate(h->uuid_buf);
        rc = redis_client_send_data(h->trigger_redis, h->uuid_buf, output_port_name, output_data, trigger_type, 0);
    }
    h->counters.count_send(recv_uuid != nullptr, rc);
    return rc;
}

QB_API int qb_mq_redis_deinit(Qb_mq_impl handle) {
    auto* h = static_cast<quorbit_redis_handle*>(handle);
    if (!h) {
        LOGE(TAG, "Null handle");
        return -1;
    }
    h->running.store(0);
    if (t_receiving == h) {
        // Called from the callback: the thread cannot join itself, so it
        // leaves once the callback returns and frees the handle on its way out.
        h->release_on_exit = true;
        pthread_detach(h->thread);
        return 0;
    }
    // Ends a read that could otherwise block for up to 60 s.
    qb::redis_client_interrupt(stream_of(h->call_redis));
    pthread_join(h->thread, nullptr);
    release(h);
    return 0;
}

}  // extern "C"
