// Message rates of the transports, each against its reference in the same run.
// MQTT: 100-byte publishes through a mosquitto broker started here, QoS 0 and
// QoS 1, ours (CMQTT_*) vs one running mosquitto_pub publishing the same lines
// (-l); both connected beforehand, a batch counted until a subscriber has
// received all of it.
// ZeroMQ PUSH/PULL and nanomsg PAIR over loopback TCP, 64 B and 64 KiB: ours
// vs a raw libzmq / nanomsg loop; one iteration is a batch sent by one thread
// and received by another (2000 messages of 64 B, 200 of 64 KiB).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "sdk_config.h"
#include "sdk_logger.h"
#include "support/redis_server.h"

#ifdef ENABLE_MQTT_CLIENT
#include "mqtt_client.h"
#include "support/mosquitto_broker.h"
#endif
#ifdef ENABLE_ZMQ
#include <zmq.h>

#include "zmq_client.h"
#include "zmq_server.h"
#endif
#ifdef ENABLE_NANOMSG
#include <nanomsg/nn.h>
#include <nanomsg/pair.h>

#include "nanomsg_client.h"
#include "nanomsg_server.h"
#endif

extern char** environ;

namespace {
using Clock = std::chrono::steady_clock;

[[maybe_unused]] const bool quiet = [] {
    sdk_set_log_level(SDK_LOG_LEVEL_ERROR);
    return true;
}();

#ifdef ENABLE_MQTT_CLIENT
constexpr int kMqttBatch = 2000;

qbtest::MosquittoBroker& broker() {
    static qbtest::MosquittoBroker b;
    return b;
}

// Counts what arrives through the broker on one topic. It subscribes at QoS 0:
// the broker would drop QoS 1 messages queued beyond 1000 for a slower reader.
class Arrivals {
public:
    explicit Arrivals(const char* topic) {
        cb_.param = &count_;
        cb_.callback = [](void* p, char*, int, char*, int) {
            ++*static_cast<std::atomic<int>*>(p);
            return 0;
        };
        const std::string host = broker().host();
        h_ = CMQTT_Init(const_cast<char*>(host.c_str()), broker().port(), const_cast<char*>("bench-sub"), &cb_);
        ok_ = h_ && CMQTT_Connect_Server(h_, nullptr, nullptr, 0) == 0 && CMQTT_Subscribe(h_, const_cast<char*>(topic), 0) == 0;
    }
    ~Arrivals() {
        if (h_) CMQTT_Deinit(h_);
    }
    bool ok() const { return ok_; }
    void reset() { count_ = 0; }
    // False when they stop coming (nothing for 10 s).
    bool wait_for(int n) {
        int last = -1;
        auto since = Clock::now();
        while (count_ < n) {
            if (count_ != last) last = count_, since = Clock::now();
            if (Clock::now() - since > std::chrono::seconds(10)) return false;
            std::this_thread::sleep_for(std::chrono::microseconds(100));
        }
        return true;
    }

private:
    cmqtt_callback cb_{};
    std::atomic<int> count_{0};
    CMQTT_Handle h_ = nullptr;
    bool ok_ = false;
};

// One mosquitto_pub -l for the whole run: each line written to it is published (without its newline).
void anchor_mqtt(benchmark::State& state) {
    const int qos = static_cast<int>(state.range(0));
    if (!broker().running()) return state.SkipWithError(broker().error().c_str());
    Arrivals arrivals("bench/anchor");
    if (!arrivals.ok()) return state.SkipWithError("subscriber failed");
    int in[2];
    if (pipe(in) != 0) return state.SkipWithError("pipe");
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, in[0], 0);
    posix_spawn_file_actions_addclose(&fa, in[1]);
    posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
    std::vector<std::string> args = {"mosquitto_pub", "-h", "127.0.0.1", "-p", std::to_string(broker().port()),
                                     "-t", "bench/anchor", "-q", std::to_string(qos), "-l"};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    const bool started = posix_spawnp(&pid, "mosquitto_pub", &fa, nullptr, argv.data(), environ) == 0;
    posix_spawn_file_actions_destroy(&fa);
    close(in[0]);
    std::string input;
    for (int i = 0; i < kMqttBatch; ++i) input += std::string(100, 'm') + "\n";
    for (auto _ : state) {
        arrivals.reset();
        for (size_t off = 0; started && off < input.size();) {
            const ssize_t n = write(in[1], input.data() + off, input.size() - off);
            if (n <= 0) break;
            off += static_cast<size_t>(n);
        }
        if (!arrivals.wait_for(kMqttBatch)) {
            state.SkipWithError("messages lost");
            break;
        }
    }
    close(in[1]);
    if (started) waitpid(pid, nullptr, 0);
    state.SetItemsProcessed(state.iterations() * kMqttBatch);
}

void quorbit_mqtt(benchmark::State& state) {
    const int qos = static_cast<int>(state.range(0));
    if (!broker().running()) return state.SkipWithError(broker().error().c_str());
    Arrivals arrivals("bench/quorbit");
    const std::string host = broker().host();
    CMQTT_Handle h = CMQTT_Init(const_cast<char*>(host.c_str()), broker().port(), const_cast<char*>("bench-pub"), nullptr);
    if (!arrivals.ok() || !h || CMQTT_Connect_Server(h, nullptr, nullptr, 0) != 0) {
        if (h) CMQTT_Deinit(h);
        return state.SkipWithError("connect failed");
    }
    std::string payload(100, 'm');
    for (auto _ : state) {
        arrivals.reset();
        for (int i = 0; i < kMqttBatch; ++i)
            CMQTT_Send_Binary_Data(h, const_cast<char*>("bench/quorbit"), payload.data(), 100, qos);
        if (!arrivals.wait_for(kMqttBatch)) {
            state.SkipWithError("messages lost");
            break;
        }
    }
    CMQTT_Deinit(h);
    state.SetItemsProcessed(state.iterations() * kMqttBatch);
}

BENCHMARK(anchor_mqtt)->Name("mqtt_qos0/anchor_mosquitto_pub")->Arg(0)->MinTime(3)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(quorbit_mqtt)->Name("mqtt_qos0/quorbit_cmqtt")->Arg(0)->MinTime(3)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(anchor_mqtt)->Name("mqtt_qos1/anchor_mosquitto_pub")->Arg(1)->MinTime(3)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(quorbit_mqtt)->Name("mqtt_qos1/quorbit_cmqtt")->Arg(1)->MinTime(3)->Unit(benchmark::kMillisecond)->UseRealTime();
#endif

// Runs send() count times on this thread while recv() takes count messages on another.
template <typename Send, typename Recv>
void batch(int count, Send send, Recv recv) {
    std::thread receiver([&] {
        for (int i = 0; i < count; ++i) recv();
    });
    for (int i = 0; i < count; ++i) send();
    receiver.join();
}

#ifdef ENABLE_ZMQ
void anchor_zmq(benchmark::State& state) {
    const std::string endpoint = "tcp://127.0.0.1:" + std::to_string(qbtest::free_loopback_port());
    void* ctx = zmq_ctx_new();
    void* pull = zmq_socket(ctx, ZMQ_PULL);
    void* push = zmq_socket(ctx, ZMQ_PUSH);
    zmq_bind(pull, endpoint.c_str());
    zmq_connect(push, endpoint.c_str());
    const int count = static_cast<int>(state.range(1));
    std::string payload(static_cast<size_t>(state.range(0)), 'z');
    for (auto _ : state)
        batch(count, [&] { zmq_send(push, payload.data(), payload.size(), 0); },
              [&] {
                  zmq_msg_t m;
                  zmq_msg_init(&m);
                  zmq_msg_recv(&m, pull, 0);
                  benchmark::DoNotOptimize(zmq_msg_data(&m));
                  zmq_msg_close(&m);
              });
    state.SetItemsProcessed(state.iterations() * count);
    zmq_close(push);
    zmq_close(pull);
    zmq_ctx_term(ctx);
}

void quorbit_zmq(benchmark::State& state) {
    const int port = qbtest::free_loopback_port();
    ZMQS_Handle server = ZMQ_Server_Start(const_cast<char*>("tcp://127.0.0.1"), port);
    ZMQC_Handle client = ZMQ_Client_Start(const_cast<char*>("tcp://127.0.0.1"), port);
    if (!server || !client) return state.SkipWithError("start failed");
    const int count = static_cast<int>(state.range(1));
    std::string payload(static_cast<size_t>(state.range(0)), 'z');
    for (auto _ : state)
        batch(count, [&] { ZMQ_Client_Send_Data(client, payload.data(), static_cast<int>(payload.size())); },
              [&] {
                  char* data = nullptr;
                  int size = 0;
                  ZMQ_Server_Recv_Data(server, &data, &size);
                  benchmark::DoNotOptimize(data);
              });
    state.SetItemsProcessed(state.iterations() * count);
    ZMQ_Client_Stop(client);
    ZMQ_Server_Stop(server);
}

BENCHMARK(anchor_zmq)->Name("zmq_64/anchor_libzmq")->Args({64, 2000})->MinTime(2)->UseRealTime();
BENCHMARK(quorbit_zmq)->Name("zmq_64/quorbit")->Args({64, 2000})->MinTime(2)->UseRealTime();
BENCHMARK(anchor_zmq)->Name("zmq_65536/anchor_libzmq")->Args({65536, 200})->MinTime(2)->UseRealTime();
BENCHMARK(quorbit_zmq)->Name("zmq_65536/quorbit")->Args({65536, 200})->MinTime(2)->UseRealTime();
#endif

#ifdef ENABLE_NANOMSG
void anchor_nanomsg(benchmark::State& state) {
    const std::string endpoint = "tcp://127.0.0.1:" + std::to_string(qbtest::free_loopback_port());
    const int server = nn_socket(AF_SP, NN_PAIR);
    const int client = nn_socket(AF_SP, NN_PAIR);
    nn_bind(server, endpoint.c_str());
    nn_connect(client, endpoint.c_str());
    std::vector<char> buffer(NANO_MSG_INTERNAL_BUFFER_SIZE);
    const int count = static_cast<int>(state.range(1));
    std::string payload(static_cast<size_t>(state.range(0)), 'n');
    for (auto _ : state)
        batch(count, [&] { nn_send(client, payload.data(), payload.size(), 0); },
              [&] { benchmark::DoNotOptimize(nn_recv(server, buffer.data(), buffer.size(), 0)); });
    state.SetItemsProcessed(state.iterations() * count);
    nn_close(client);
    nn_close(server);
}

void quorbit_nanomsg(benchmark::State& state) {
    const int port = qbtest::free_loopback_port();
    NanoMsgS_Handle server = NanoMsg_Server_Start(const_cast<char*>("tcp://127.0.0.1"), port);
    NanoMsgC_Handle client = NanoMsg_Client_Start(const_cast<char*>("tcp://127.0.0.1"), port);
    if (!server || !client) return state.SkipWithError("start failed");
    const int count = static_cast<int>(state.range(1));
    std::string payload(static_cast<size_t>(state.range(0)), 'n');
    for (auto _ : state)
        batch(count, [&] { NanoMsg_Client_Send_Data(client, payload.data(), static_cast<int>(payload.size())); },
              [&] {
                  char* data = nullptr;
                  int size = 0;
                  NanoMsg_Server_Recv_Data(server, &data, &size);
                  benchmark::DoNotOptimize(data);
              });
    state.SetItemsProcessed(state.iterations() * count);
    NanoMsg_Client_Stop(client);
    NanoMsg_Server_Stop(server);
}

BENCHMARK(anchor_nanomsg)->Name("nanomsg_64/anchor_nanomsg")->Args({64, 2000})->MinTime(2)->UseRealTime();
BENCHMARK(quorbit_nanomsg)->Name("nanomsg_64/quorbit")->Args({64, 2000})->MinTime(2)->UseRealTime();
BENCHMARK(anchor_nanomsg)->Name("nanomsg_65536/anchor_nanomsg")->Args({65536, 200})->MinTime(2)->UseRealTime();
BENCHMARK(quorbit_nanomsg)->Name("nanomsg_65536/quorbit")->Args({65536, 200})->MinTime(2)->UseRealTime();
#endif

}  // namespace

BENCHMARK_MAIN();
