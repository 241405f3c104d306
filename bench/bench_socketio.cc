// Socket.IO: the event/ack parser over typical frames against json-c parsing
// the same array text, and emits per second to a real Socket.IO 4 server from
// our client against the npm socket.io-client sending the same events in this
// run (first emit to the acknowledgement of the last).
#include <benchmark/benchmark.h>
#include <json-c/json.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "sdk_config.h"
#include "sdk_logger.h"
#include "support/node_peer.h"

#ifdef ENABLE_SOCKETIO_CLIENT
#include "net/socketio/socketio_parse.h"
#include "socketio_client.h"

namespace {
const std::string kNodeDir = QB_SOURCE_DIR "/tests/support/node/";
constexpr int kEmits = 2000;

// The text after the Socket.IO packet type of typical events and acks.
const std::vector<std::string>& frames() {
    static const std::vector<std::string> f = {
        R"(["message",{"user":"node-7","seq":1234,"tags":["a","b"]},"hello world"])",
        R"(/chat,17["status",{"temp":21.5,"ok":true,"note":"text with \"quotes\""},"x","y"])",
        R"(12["reading","sensor-3",{"v":[1,2,3,4,5,6,7,8],"unit":"mV"}])",
        R"(["log","a longer argument that carries a line of free text, as a dashboard would send it"])",
    };
    return f;
}

size_t frame_bytes() {
    size_t n = 0;
    for (const auto& f : frames()) n += f.size();
    return n;
}

void BM_parse_ours(benchmark::State& state) {
    std::vector<std::vector<char>> bufs;
    for (const auto& f : frames()) bufs.emplace_back(f.size() + 1);
    qb::sio::parsed_packet p;
    for (auto _ : state) {
        for (size_t k = 0; k < bufs.size(); k++) {
            // In place: each pass starts again from the received text.
            memcpy(bufs[k].data(), frames()[k].c_str(), frames()[k].size() + 1);
            benchmark::DoNotOptimize(qb::sio::parse_user_data(bufs[k].data(), frames()[k].size(), &p));
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * frame_bytes()));
}

void BM_parse_anchor_jsonc(benchmark::State& state) {
    json_tokener* tok = json_tokener_new();
    for (auto _ : state) {
        for (const auto& f : frames()) {
            const size_t at = f.find('[');  // json-c takes the array only
            json_tokener_reset(tok);
            json_object* o = json_tokener_parse_ex(tok, f.c_str() + at, static_cast<int>(f.size() - at));
            benchmark::DoNotOptimize(o);
            json_object_put(o);
        }
    }
    json_tokener_free(tok);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * frame_bytes()));
}

BENCHMARK(BM_parse_anchor_jsonc)->Name("sio_parse/anchor_jsonc");
BENCHMARK(BM_parse_ours)->Name("sio_parse/quorbit_parser");

struct Acks {
    std::mutex mu;
    std::condition_variable cv;
    int last = -1;
    bool connected = false;
};

// Our client: one session; each iteration emits kEmits events, the last with an ack, and waits for it.
void BM_emit_ours(benchmark::State& state) {
    sdk_set_log_level(SDK_LOG_LEVEL_WARN);
    qbtest::NodePeer server(kNodeDir + "sio_server.js");
    if (!server.port()) return state.SkipWithError("no Socket.IO server (run scripts/setup)");
    Acks acks;
    sio_client_cb_param hooks{};
    hooks.user = &acks;
    hooks.onevent = [](SIO_Handle, char* ns, char* ev, sio_payload*, int, void* u) {
        auto* a = static_cast<Acks*>(u);
        if (ns || strcmp(ev, "connect") != 0) return;
        std::lock_guard<std::mutex> l(a->mu);
        a->connected = true;
        a->cv.notify_all();
    };
    hooks.onack = [](SIO_Handle, char*, char*, sio_payload*, int, int id, void* u) {
        auto* a = static_cast<Acks*>(u);
        std::lock_guard<std::mutex> l(a->mu);
        a->last = id;
        a->cv.notify_all();
    };
    SIO_Handle s = SIO_Client_Init(const_cast<char*>("127.0.0.1"), server.port(), nullptr, nullptr, nullptr,
                                   sio_reconnect{1, 0, 1000, 1000, 1000});
    SIO_Client_Start(s, &hooks);
    {
        std::unique_lock<std::mutex> l(acks.mu);
        if (!acks.cv.wait_for(l, std::chrono::seconds(10), [&] { return acks.connected; })) {
            l.unlock();
            SIO_Client_Close(s);
            return state.SkipWithError("no connection");
        }
    }
    sio_payload args[] = {{const_cast<char*>("hello world"), 0}, {const_cast<char*>(R"({"a":1})"), 0}};
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        int id = -1;
        for (int i = 1; i < kEmits; i++) SIO_Client_Emit_Ex(s, const_cast<char*>("count"), args, 2, 0, 0, nullptr, nullptr);
        SIO_Client_Emit_Ex(s, const_cast<char*>("count"), args, 2, 0, 1, &id, nullptr);
        std::unique_lock<std::mutex> l(acks.mu);
        if (!acks.cv.wait_for(l, std::chrono::seconds(30), [&] { return acks.last == id; })) {
            state.SkipWithError("ack lost");
            break;
        }
        state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    SIO_Client_Close(s);
    state.SetItemsProcessed(state.iterations() * kEmits);
}

// The anchor: a fresh npm client per iteration, timed by itself from its first emit.
void BM_emit_anchor_npm(benchmark::State& state) {
    qbtest::NodePeer server(kNodeDir + "sio_server.js");
    if (!server.port()) return state.SkipWithError("no Socket.IO server (run scripts/setup)");
    for (auto _ : state) {
        qbtest::PeerProcess client({"node", kNodeDir + "sio_emit_client.js", "--port", std::to_string(server.port()),
                                    "--count", std::to_string(kEmits)});
        if (!client.wait_for_output("DONE ", 60000)) {
            state.SkipWithError(("npm client failed: " + client.output()).c_str());
            break;
        }
        const std::string out = client.output();
        state.SetIterationTime(std::stod(out.substr(out.find("DONE ") + 5)) / 1e9);
    }
    state.SetItemsProcessed(state.iterations() * kEmits);
}

BENCHMARK(BM_emit_anchor_npm)->Name("sio_emit/anchor_npm_client")->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_emit_ours)->Name("sio_emit/quorbit_client")->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);

}  // namespace
#endif  // ENABLE_SOCKETIO_CLIENT

BENCHMARK_MAIN();
