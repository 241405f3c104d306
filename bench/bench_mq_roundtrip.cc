// One request's round trip through the platform queue: the simulator appends
// a request to the receive stream and reads the answer from the send stream.
// Anchor: a raw hiredis loop doing the component's part (XREADGROUP, XACK,
// XADD) with nothing around it; ours: a component on qb_mq echoing the input.
// Both run against the same redis-server, started here, in one interleaved
// pass. "roundtrip": one request in flight; "burst16": 16 pipelined at once.
// The "mq_alo_*" groups put the at-least-once mode against the default mode
// as anchor, measured in alternating blocks of the same run.
#include <benchmark/benchmark.h>
#include <pthread.h>
#include <sched.h>
#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "support/redis_server.h"
#include "qb_mq.h"
#include "sdk_logger.h"

namespace {
using Clock = std::chrono::steady_clock;

qbtest::RedisServer& server() {
    static qbtest::RedisServer s;
    return s;
}

// Both component sides run on the same CPU, the simulator on another, so
// thread placement does not favour either side.
void pin_to(int cpu) {
    const int n = static_cast<int>(std::thread::hardware_concurrency());
    if (n < 2) return;
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(cpu % n, &set);
    pthread_setaffinity_np(pthread_self(), sizeof set, &set);
}

redisReply* run(redisContext* c, std::vector<const char*> argv) {
    return static_cast<redisReply*>(redisCommandArgv(c, static_cast<int>(argv.size()), argv.data(), nullptr));
}

// The component's side without the library: same commands, same fields.
class RawLoop {
public:
    RawLoop(const char* recv, const char* send) : recv_(recv), send_(send) {
        c_ = redisConnect("127.0.0.1", server().port());
        freeReplyObject(run(c_, {"XGROUP", "CREATE", recv, "default", "0", "MKSTREAM"}));
        thread_ = std::thread([this] { loop(); });
    }
    ~RawLoop() {
        running_ = false;
        shutdown(c_->fd, SHUT_RDWR);
        thread_.join();
        redisFree(c_);
    }

private:
    void loop() {
        pin_to(1);
        while (running_) {
            redisReply* r = run(c_, {"XREADGROUP", "GROUP", "default", "raw", "COUNT", "1", "BLOCK", "60000", "STREAMS",
                                     recv_, ">"});
            if (!r) return;
            if (r->type == REDIS_REPLY_ARRAY && r->elements == 1) {
                redisReply* stream = r->element[0];
                redisReply* entry = stream->element[1]->element[0];
                redisReply* fields = entry->element[1];
                const char* id = nullptr;
                const char* port = nullptr;
                const char* data = nullptr;
                for (size_t i = 0; i + 1 < fields->elements; i += 2) {
                    const char* name = fields->element[i]->str;
                    if (strcmp(name, "id") == 0) id = fields->element[i + 1]->str;
                    else if (strlen(name) <= 4 && (strstr(name, "in") || strstr(name, "out"))) {
                        port = name;
                        data = fields->element[i + 1]->str;
                    }
                }
                freeReplyObject(run(c_, {"XACK", stream->element[0]->str, "default", entry->element[0]->str}));
                if (id && port && data)
                    freeReplyObject(run(c_, {"XADD", send_, "MAXLEN", "~", "2000", "*", "node_id", "raw", "request_id",
                                             id, "type", "call", "extra", "{}", "out1", data, "success", "true"}));
            }
            freeReplyObject(r);
        }
    }

    const char* recv_;
    const char* send_;
    redisContext* c_;
    std::atomic<bool> running_{true};
    std::thread thread_;
};

void echo(Qb_mq mq, char* port, char* data, char* id, void*) {
    thread_local bool pinned = false;
    if (!pinned) pin_to(1);
    pinned = true;
    qb_mq_send(mq, const_cast<char*>("out1"), data, id);
}

class Component {
public:
    Component(const char* recv, const char* send, const char* delivery = "at-most-once")
        : env_(server().port(), recv, send, "bench") {
        env_.set("QB_MQ_DELIVERY", delivery);
        sdk_set_log_level(SDK_LOG_LEVEL_ERROR);
        mq_ = qb_mq_init();
        qb_mq_register_callback(mq_, echo, nullptr);
    }
    ~Component() { qb_mq_deinit(mq_); }

private:
    qbtest::QueueEnv env_;
    Qb_mq mq_;
};

// The platform's side for one component: sends a batch of requests
// (pipelined) and reads every answer back.
class Simulator {
public:
    Simulator(const char* recv, const char* send) : recv_(recv), send_(send) {
        c_ = redisConnect("127.0.0.1", server().port());
        redisReply* r = run(c_, {"XREVRANGE", send, "+", "-", "COUNT", "1"});
        last_ = r && r->elements ? r->element[0]->element[0]->str : "0-0";
        freeReplyObject(r);
    }
    ~Simulator() { redisFree(c_); }

    // Seconds for the whole batch; each answer's latency goes to latency_us.
    double batch(int n, std::vector<double>* latency_us) {
        const auto t0 = Clock::now();
        for (int j = 0; j < n; ++j) {
            char id[32];
            snprintf(id, sizeof id, "b%ld", next_++);
            const char* argv[] = {"XADD", recv_, "MAXLEN", "~", "10000", "*", "id", id, "in1", "payload-16-bytes"};
            redisAppendCommandArgv(c_, 10, argv, nullptr);
        }
        for (int j = 0; j < n; ++j) {
            void* r = nullptr;
            redisGetReply(c_, &r);
            freeReplyObject(r);
        }
        for (int got = 0; got < n;) {
            redisReply* r = run(c_, {"XREAD", "COUNT", "64", "BLOCK", "5000", "STREAMS", send_, last_.c_str()});
            if (!r || r->type != REDIS_REPLY_ARRAY) {
                freeReplyObject(r);
                return -1;
            }
            const double us = std::chrono::duration<double, std::micro>(Clock::now() - t0).count();
            redisReply* entries = r->element[0]->element[1];
            for (size_t i = 0; i < entries->elements; ++i) latency_us->push_back(us);
            got += static_cast<int>(entries->elements);
            last_ = entries->element[entries->elements - 1]->element[0]->str;
            freeReplyObject(r);
        }
        return std::chrono::duration<double>(Clock::now() - t0).count();
    }

private:
    const char* recv_;
    const char* send_;
    redisContext* c_;
    std::string last_;
    long next_ = 0;
};

// The machine is shared, so the two sides are measured pairwise in one pass:
// batch k goes to the raw loop and to the component back to back (order
// alternating), and both see the same background load.
struct Side {
    std::vector<double> batch_s;
    std::vector<double> latency_us;
};
struct Pair {
    Side raw, ours;
    bool ok = true;
};

const Pair& measured(int batch, long rounds) {
    static std::map<int, Pair> cache;
    auto it = cache.find(batch);
    if (it != cache.end()) return it->second;
    Pair& p = cache[batch];
    const std::string tag = std::to_string(batch);
    const std::string raw_recv = "raw-recv-" + tag, raw_send = "raw-send-" + tag;
    const std::string qb_recv = "qb-recv-" + tag, qb_send = "qb-send-" + tag;
    RawLoop loop(raw_recv.c_str(), raw_send.c_str());
    Component component(qb_recv.c_str(), qb_send.c_str());
    pin_to(0);
    Simulator to_raw(raw_recv.c_str(), raw_send.c_str());
    Simulator to_ours(qb_recv.c_str(), qb_send.c_str());
    for (long k = 0; k < rounds && p.ok; ++k) {
        const bool raw_first = k % 2 == 0;
        for (int side = 0; side < 2; ++side) {
            const bool raw = (side == 0) == raw_first;
            Side& s = raw ? p.raw : p.ours;
            const double t = (raw ? to_raw : to_ours).batch(batch, &s.latency_us);
            if (t < 0) p.ok = false;
            s.batch_s.push_back(t);
        }
    }
    return p;
}

// The queue reads its stream names from the process environment, so the two
// modes cannot run side by side: they take turns in blocks, each with a
// fresh component on fresh streams, so load changes hit both alike.
const Pair& measured_modes(int batch, long rounds) {
    static std::map<int, Pair> cache;
    auto it = cache.find(batch);
    if (it != cache.end()) return it->second;
    Pair& p = cache[batch];
    constexpr long kBlocks = 10;
    pin_to(0);
    for (long b = 0; b < 2 * kBlocks && p.ok; ++b) {
        const bool alo = (b % 2 == 0) == (b / 2 % 2 == 0);
        Side& s = alo ? p.ours : p.raw;
        const std::string tag = std::to_string(batch) + "-" + std::to_string(b);
        const std::string recv = "mode-recv-" + tag, send = "mode-send-" + tag;
        Component component(recv.c_str(), send.c_str(), alo ? "at-least-once" : "at-most-once");
        Simulator sim(recv.c_str(), send.c_str());
        for (long k = 0; k < rounds / kBlocks && p.ok; ++k) {
            const double t = sim.batch(batch, &s.latency_us);
            if (t < 0) p.ok = false;
            s.batch_s.push_back(t);
        }
    }
    return p;
}

void report(benchmark::State& state, bool raw, bool modes = false) {
    if (!server().running()) return state.SkipWithError(server().error().c_str());
    const int batch = static_cast<int>(state.range(0));
    const Pair& p = modes ? measured_modes(batch, state.max_iterations) : measured(batch, state.max_iterations);
    if (!p.ok) return state.SkipWithError("no answer within 5 s");
    const Side& s = raw ? p.raw : p.ours;
    // The time reported is the median batch: stalls from other work on the
    // machine land on either side at random and would swing the mean.
    std::vector<double> t = s.batch_s;
    std::sort(t.begin(), t.end());
    const double median = t[t.size() / 2];
    double sum = 0;
    for (double x : t) sum += x;
    for (auto _ : state) state.SetIterationTime(median);
    state.SetItemsProcessed(state.iterations() * batch);
    state.counters["mean_batch_us"] = sum / static_cast<double>(t.size()) * 1e6;
    std::vector<double> lat = s.latency_us;
    std::sort(lat.begin(), lat.end());
    if (!lat.empty()) {
        state.counters["p50_us"] = lat[lat.size() / 2];
        state.counters["p99_us"] = lat[lat.size() * 99 / 100];
    }
}

void anchor(benchmark::State& state) { report(state, true); }
void quorbit(benchmark::State& state) { report(state, false); }
void anchor_default_mode(benchmark::State& state) { report(state, true, true); }
void quorbit_at_least_once(benchmark::State& state) { report(state, false, true); }

}  // namespace

// Iterations are fixed so both sides report the same interleaved pass.
BENCHMARK(anchor)->Name("mq_roundtrip/anchor_raw_hiredis")->Arg(1)->Iterations(15000)->UseManualTime();
BENCHMARK(quorbit)->Name("mq_roundtrip/quorbit_component")->Arg(1)->Iterations(15000)->UseManualTime();
BENCHMARK(anchor)->Name("mq_burst16/anchor_raw_hiredis")->Arg(16)->Iterations(1000)->UseManualTime();
BENCHMARK(quorbit)->Name("mq_burst16/quorbit_component")->Arg(16)->Iterations(1000)->UseManualTime();

BENCHMARK(anchor_default_mode)->Name("mq_alo_roundtrip/anchor_default_mode")->Arg(1)->Iterations(6000)->UseManualTime();
BENCHMARK(quorbit_at_least_once)->Name("mq_alo_roundtrip/quorbit_at_least_once")->Arg(1)->Iterations(6000)
    ->UseManualTime();
BENCHMARK(anchor_default_mode)->Name("mq_alo_burst16/anchor_default_mode")->Arg(16)->Iterations(600)->UseManualTime();
BENCHMARK(quorbit_at_least_once)->Name("mq_alo_burst16/quorbit_at_least_once")->Arg(16)->Iterations(600)
    ->UseManualTime();

BENCHMARK_MAIN();
