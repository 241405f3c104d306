// Requests per second measured by wrk (keep-alive, 50 connections): our
// server answering a CGI JSON entry and a 4 KiB static file, against a
// minimal libmicrohttpd handler with the same thread pool answering the same
// bytes from memory, in the same run.
#include <benchmark/benchmark.h>
#include <microhttpd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "http_server.h"
#include "sdk_logger.h"

namespace {

constexpr char kJson[] = "{\"status\":\"ok\",\"value\":42}";
const std::string kFile(4096, 'q');

double wrk_requests_per_second(int port, const char* path) {
    char cmd[256];
    snprintf(cmd, sizeof cmd, "wrk -t2 -c50 -d3s http://127.0.0.1:%d%s 2>&1", port, path);
    FILE* p = popen(cmd, "r");
    if (!p) return 0;
    char line[512];
    double rps = 0;
    long errors = 0;
    while (fgets(line, sizeof line, p)) {
        sscanf(line, " Requests/sec: %lf", &rps);
        if (strstr(line, "Non-2xx")) errors = 1;
    }
    pclose(p);
    return errors ? 0 : rps;
}

void report(benchmark::State& state, int port, const char* path) {
    for (auto _ : state) {
        double rps = wrk_requests_per_second(port, path);
        if (rps <= 0) {
            state.SkipWithError("wrk failed or saw errors");
            return;
        }
        state.SetIterationTime(1.0 / rps);
        state.counters["req_per_s"] = rps;
    }
}

// The anchor: no decoding, no steps, the answer straight from memory.
MHD_Result raw_handler(void*, MHD_Connection* c, const char* url, const char*, const char*, const char*, size_t*,
                       void**) {
    bool json = strcmp(url, "/api/json") == 0;
    MHD_Response* r = json ? MHD_create_response_from_buffer(sizeof kJson - 1, const_cast<char*>(kJson),
                                                             MHD_RESPMEM_PERSISTENT)
                           : MHD_create_response_from_buffer(kFile.size(), const_cast<char*>(kFile.data()),
                                                             MHD_RESPMEM_PERSISTENT);
    MHD_add_response_header(r, MHD_HTTP_HEADER_CONTENT_TYPE, json ? "application/json" : "application/octet-stream");
    MHD_Result rc = MHD_queue_response(c, MHD_HTTP_OK, r);
    MHD_destroy_response(r);
    return rc;
}

class Servers {
public:
    Servers() {
        char tmpl[] = "/tmp/qb_bench_http_XXXXXX";
        dir_ = mkdtemp(tmpl);
        std::string root = dir_ + "/webroot";
        mkdir(root.c_str(), 0755);
        FILE* f = fopen((root + "/file4k.bin").c_str(), "wb");
        fwrite(kFile.data(), 1, kFile.size(), f);
        fclose(f);
        if (chdir(dir_.c_str()) != 0) abort();
        sdk_set_log_level(SDK_LOG_LEVEL_ERROR);
        ours_ = SDK_HTTP_Server_Start(0, nullptr, nullptr);
        SDK_HTTP_Server_Register_CGI(ours_, SDK_HTTP_METHOD_GET, const_cast<char*>("/api/json"), [](http_server_cb_param* p) {
            SDK_HTTP_Server_Send_Response(p->handle, 200, const_cast<char*>("application/json"), const_cast<char*>(kJson),
                                          sizeof kJson - 1);
        });
        unsigned pool = std::clamp(std::thread::hardware_concurrency(), 2u, 8u);
        raw_ = MHD_start_daemon(MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_EPOLL, 0, nullptr, nullptr, raw_handler,
                                nullptr, MHD_OPTION_THREAD_POOL_SIZE, pool, MHD_OPTION_END);
        if (!ours_ || !raw_) abort();
    }
    ~Servers() {
        SDK_HTTP_Server_Stop(ours_);
        MHD_stop_daemon(raw_);
        std::string cmd = "rm -rf '" + dir_ + "'";
        if (system(cmd.c_str()) != 0) fprintf(stderr, "could not remove %s\n", dir_.c_str());
    }
    int ours() const { return SDK_HTTP_Server_Port(ours_); }
    int raw() const { return MHD_get_daemon_info(raw_, MHD_DAEMON_INFO_BIND_PORT)->port; }

private:
    std::string dir_;
    HttpServerHandle ours_ = nullptr;
    MHD_Daemon* raw_ = nullptr;
};

Servers& servers() {
    static Servers s;
    return s;
}

void BM_JsonOurs(benchmark::State& s) { report(s, servers().ours(), "/api/json"); }
void BM_JsonAnchor(benchmark::State& s) { report(s, servers().raw(), "/api/json"); }
void BM_StaticOurs(benchmark::State& s) { report(s, servers().ours(), "/file4k.bin"); }
void BM_StaticAnchor(benchmark::State& s) { report(s, servers().raw(), "/file4k.bin"); }

BENCHMARK(BM_JsonAnchor)->Name("http_cgi_json/anchor_libmicrohttpd")->Iterations(1)->UseManualTime();
BENCHMARK(BM_JsonOurs)->Name("http_cgi_json/quorbit")->Iterations(1)->UseManualTime();
BENCHMARK(BM_StaticAnchor)->Name("http_static_4k/anchor_libmicrohttpd")->Iterations(1)->UseManualTime();
BENCHMARK(BM_StaticOurs)->Name("http_static_4k/quorbit")->Iterations(1)->UseManualTime();

}  // namespace
BENCHMARK_MAIN();
