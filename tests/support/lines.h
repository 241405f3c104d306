// Lines recorded by callbacks on other threads, for a test to wait on:
// add() from any thread, wait_for() until a line has come (20 s at most).
#pragma once

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

namespace qbtest {

class Lines {
public:
    void add(std::string line) {
        std::lock_guard<std::mutex> l(mu_);
        seen_.push_back(std::move(line));
        cv_.notify_all();
    }
    bool wait_for(const std::string& line, int times = 1) {
        std::unique_lock<std::mutex> l(mu_);
        return cv_.wait_for(l, std::chrono::seconds(20), [&] { return count_locked(line) >= times; });
    }
    int count(const std::string& line) {
        std::lock_guard<std::mutex> l(mu_);
        return count_locked(line);
    }
    std::vector<std::string> all() {
        std::lock_guard<std::mutex> l(mu_);
        return seen_;
    }

private:
    int count_locked(const std::string& line) { return int(std::count(seen_.begin(), seen_.end(), line)); }
    std::mutex mu_;
    std::condition_variable cv_;
    std::vector<std::string> seen_;
};

}  // namespace qbtest
