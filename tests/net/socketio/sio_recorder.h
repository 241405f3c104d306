// Records every Socket.IO hook call as one line: namespace (or -), event (or
// -), the arguments, and " #<id>" for an ack, so tests compare plain strings.
#pragma once

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "socketio_client.h"

namespace qbtest {

struct SioRecorder {
    std::mutex mu;
    std::condition_variable cv;
    std::vector<std::string> seen;
    sio_client_cb_param hooks{
        [](SIO_Handle, char* ns, char* ev, sio_payload* p, int n, void* u) {
            static_cast<SioRecorder*>(u)->add(ns, ev, p, n, -1);
        },
        [](SIO_Handle, char* ns, char* ev, sio_payload* p, int n, int id, void* u) {
            static_cast<SioRecorder*>(u)->add(ns, ev, p, n, id);
        },
        this};

    void add(const char* ns, const char* ev, sio_payload* p, int n, int id) {
        std::string line = std::string(ns ? ns : "-") + " " + (ev ? ev : "-");
        for (int k = 0; k < n; k++) line += std::string(" ") + p[k].message;
        if (id >= 0) line += " #" + std::to_string(id);
        std::lock_guard<std::mutex> l(mu);
        seen.push_back(line);
        cv.notify_all();
    }
    int count(const std::string& line) {
        std::lock_guard<std::mutex> l(mu);
        return static_cast<int>(std::count(seen.begin(), seen.end(), line));
    }
    std::vector<std::string> take() {
        std::lock_guard<std::mutex> l(mu);
        return std::exchange(seen, {});
    }
    bool wait_for(const std::string& line, int times = 1) {
        std::unique_lock<std::mutex> l(mu);
        return cv.wait_for(l, std::chrono::seconds(20),
                           [&] { return std::count(seen.begin(), seen.end(), line) >= times; });
    }
};

}  // namespace qbtest
