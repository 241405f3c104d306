// The echo component in C++: answers each request with its input on port
// out1, on the platform (Redis streams) or stand-alone (JSON over the local
// WebSocket port 10000), until SIGINT or SIGTERM. The optional parameter
// --work-ms makes each request take that long.
#include <signal.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "quorbit.hpp"
#include "sdk_logger.h"

static const char* TAG = "ECHO_COMPONENT";

int main() {
    // Blocked before the queue starts, so its thread inherits the mask and
    // the signals wait for sigwait below.
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGINT);
    sigaddset(&stop, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stop, nullptr);

    const std::chrono::milliseconds work(std::atol(qb::get_env("--work-ms").value_or("0").c_str()));
    auto mq = qb::MessageQueue::open([work](qb::MqRef q, std::string_view port, std::string_view data,
                                            std::string_view id) {
        if (work.count() > 0) std::this_thread::sleep_for(work);
        if (!q.send("out1", data, id))
            LOGE(TAG, "answer to %.*s on %.*s failed", int(id.size()), id.data(), int(port.size()), port.data());
    });
    if (!mq) {
        LOGE(TAG, "message queue unavailable");
        return 1;
    }
    if (qb::on_platform())
        LOGI(TAG, "echoing requests as node %s", qb::get_env("--node-id").value_or("?").c_str());
    else
        LOGI(TAG, "stand-alone: echoing requests sent as JSON to ws://localhost:10000");

    int sig = 0;
    sigwait(&stop, &sig);
    LOGI(TAG, "stopping on signal %d", sig);
    return mq->close() ? 0 : 1;
}
