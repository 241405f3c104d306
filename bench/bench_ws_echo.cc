// Echo throughput through our WebSocket server against a minimal raw
// libwebsockets echo server, both driven by the same peer (our client) in
// this run: a window of messages goes out, the iteration ends when all came
// back. Plus the stand-alone queue's request-to-answer round trip against one
// echo round trip through the raw server.
#include <benchmark/benchmark.h>
#include <libwebsockets.h>

#include <atomic>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

#include "qb_mq.h"
#include "qb_mq_fake.h"
#include "sdk_logger.h"
#include "websocket_client.h"
#include "websocket_server.h"

namespace {

// The anchor: everything on the service thread, no queue lock, no wake-up.
class RawEcho {
public:
    RawEcho() {
        protocols_[0] = {"data_trans", callback, sizeof(Session), 4096, 0, this, 0};
        protocols_[1] = {nullptr, nullptr, 0, 0, 0, nullptr, 0};
        lws_context_creation_info info;
        memset(&info, 0, sizeof info);
        info.port = 0;
        info.protocols = protocols_;
        info.gid = -1;
        info.uid = -1;
        info.user = this;
        ctx_ = lws_create_context(&info);
        port_ = lws_get_vhost_listen_port(lws_get_vhost_by_name(ctx_, "default"));
        thread_ = std::thread([this] {
            while (running_) lws_service(ctx_, 1000);
        });
    }
    ~RawEcho() {
        running_ = false;
        lws_cancel_service(ctx_);
        thread_.join();
        lws_context_destroy(ctx_);
    }
    int port() const { return port_; }

private:
    struct Session {
        std::string* rx;
        std::deque<std::pair<std::string, bool>>* tx;
    };
    static int callback(lws* wsi, lws_callback_reasons reason, void* user, void* in, size_t len) {
        auto* s = static_cast<Session*>(user);
        switch (reason) {
        case LWS_CALLBACK_ESTABLISHED:
            s->rx = new std::string();
            s->tx = new std::deque<std::pair<std::string, bool>>();
            break;
        case LWS_CALLBACK_RECEIVE:
            s->rx->append(static_cast<char*>(in), len);
            if (lws_is_final_fragment(wsi)) {
                std::string m(LWS_PRE, '\0');
                m += *s->rx;
                s->tx->emplace_back(std::move(m), lws_frame_is_binary(wsi));
                s->rx->clear();
                lws_callback_on_writable(wsi);
            }
            break;
        case LWS_CALLBACK_SERVER_WRITEABLE:
            if (!s->tx->empty()) {
                auto& [m, bin] = s->tx->front();
                lws_write(wsi, reinterpret_cast<unsigned char*>(m.data()) + LWS_PRE, m.size() - LWS_PRE,
                          bin ? LWS_WRITE_BINARY : LWS_WRITE_TEXT);
                s->tx->pop_front();
                if (!s->tx->empty()) lws_callback_on_writable(wsi);
            }
            break;
        case LWS_CALLBACK_CLOSED:
            delete s->rx;
            delete s->tx;
            s->rx = nullptr;
            s->tx = nullptr;
            break;
        default:
            break;
        }
        return 0;
    }
    lws_protocols protocols_[2];
    lws_context* ctx_ = nullptr;
    int port_ = 0;
    std::atomic<bool> running_{true};
    std::thread thread_;
};

class OurEcho {
public:
    OurEcho() {
        param_.callback = [](void* s, ws_callback_type t, char* d, int n, void*) {
            WS_Server_Send(s, d, n, t == WS_CB_BINARY, 0);
        };
        server_ = WS_Server_Start(0, &param_);
    }
    ~OurEcho() { WS_Server_Stop(server_); }
    int port() const { return WS_Server_Port(server_); }

private:
    ws_server_cb_param param_{};
    WS_Server_Handle server_ = nullptr;
};

// The peer: counts what comes back; `until` is what completes a batch.
class Peer {
public:
    explicit Peer(int port, const char* until = nullptr) : until_(until) {
        hooks_.callback = [](WS_Handle, int, char* d, int, void* u) {
            auto* p = static_cast<Peer*>(u);
            if (p->until_ && strcmp(d, p->until_) != 0) return;
            std::lock_guard<std::mutex> l(p->mu_);
            p->received_++;
            p->cv_.notify_one();
        };
        hooks_.onopen = [](WS_Handle, void* u) {
            auto* p = static_cast<Peer*>(u);
            std::lock_guard<std::mutex> l(p->mu_);
            p->open_ = true;
            p->cv_.notify_one();
        };
        client_ = WS_Client_Start(const_cast<char*>("127.0.0.1"), port, const_cast<char*>("/"), nullptr, &hooks_,
                                  this);
        std::unique_lock<std::mutex> l(mu_);
        cv_.wait_for(l, std::chrono::seconds(5), [&] { return open_; });
    }
    ~Peer() { WS_Client_Stop(client_); }
    bool ok() const { return open_; }
    // Sends count copies of msg and waits until count answers came back.
    bool batch(std::string& msg, int count, bool binary) {
        const long target = sent_ + count;
        for (int i = 0; i < count; i++)
            if (WS_Client_Send(client_, msg.data(), static_cast<int>(msg.size()), binary, 0) != 0) return false;
        sent_ = target;
        std::unique_lock<std::mutex> l(mu_);
        return cv_.wait_for(l, std::chrono::seconds(10), [&] { return received_ >= target; });
    }

private:
    const char* until_;
    ws_client_cb_param hooks_{};
    WS_Handle client_ = nullptr;
    std::mutex mu_;
    std::condition_variable cv_;
    bool open_ = false;
    long received_ = 0;
    long sent_ = 0;
};

void quiet() { sdk_set_log_level(SDK_LOG_LEVEL_WARN); }

template <typename Server>
void echo(benchmark::State& state) {
    quiet();
    const size_t size = static_cast<size_t>(state.range(0));
    const int window = size < 4096 ? 64 : 4;
    Server server;
    Peer peer(server.port());
    if (!peer.ok()) {
        state.SkipWithError("no connection");
        return;
    }
    std::string msg(size, 'm');
    for (auto _ : state)
        if (!peer.batch(msg, window, true)) {
            state.SkipWithError("echo lost");
            return;
        }
    state.SetItemsProcessed(state.iterations() * window);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * window * static_cast<int64_t>(size));
}

void BM_anchor_raw(benchmark::State& s) { echo<RawEcho>(s); }
void BM_quorbit_server(benchmark::State& s) { echo<OurEcho>(s); }
BENCHMARK(BM_anchor_raw)->Name("ws_echo_64B/anchor_raw_lws")->Arg(64)->UseRealTime();
BENCHMARK(BM_quorbit_server)->Name("ws_echo_64B/quorbit_server")->Arg(64)->UseRealTime();
BENCHMARK(BM_anchor_raw)->Name("ws_echo_1MiB/anchor_raw_lws")->Arg(1 << 20)->UseRealTime();
BENCHMARK(BM_quorbit_server)->Name("ws_echo_1MiB/quorbit_server")->Arg(1 << 20)->UseRealTime();

// One request in flight: a raw echo round trip vs request-to-answer through
// the stand-alone queue (JSON in, callback, JSON answer and separator out).
void BM_anchor_roundtrip(benchmark::State& state) {
    quiet();
    RawEcho server;
    Peer peer(server.port());
    std::string msg = R"({"port":"in1","message":"hello"})";
    for (auto _ : state)
        if (!peer.batch(msg, 1, false)) return state.SkipWithError("echo lost");
    state.SetItemsProcessed(state.iterations());
}

void BM_quorbit_standalone(benchmark::State& state) {
    quiet();
    Qb_mq mq = qb_mq_init();  // stand-alone: port 10000
    qb_mq_register_callback(
        mq, [](Qb_mq q, char*, char* data, char* id, void*) { qb_mq_send(q, const_cast<char*>("out1"), data, id); },
        nullptr);
    {
        Peer peer(QB_MQ_FAKE_PORT, QB_MQ_FAKE_SEPARATOR);
        std::string msg = R"({"port":"in1","message":"hello"})";
        if (!peer.ok()) state.SkipWithError("port 10000 busy?");
        else
            for (auto _ : state)
                if (!peer.batch(msg, 1, false)) {
                    state.SkipWithError("answer lost");
                    break;
                }
    }
    qb_mq_deinit(mq);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_anchor_roundtrip)->Name("ws_request/anchor_raw_lws_echo")->UseRealTime();
BENCHMARK(BM_quorbit_standalone)->Name("ws_request/quorbit_standalone_queue")->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
