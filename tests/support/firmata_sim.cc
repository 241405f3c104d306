#include "support/firmata_sim.h"

#include <chrono>
#include <thread>

#include "support/test_support.h"

#ifndef QB_FIRMATA_SIM
#define QB_FIRMATA_SIM "firmata-sim"  // tools not built here: look it up on PATH
#endif

namespace qbtest {

FirmataSim::FirmataSim(const std::vector<std::string>& options) {
    std::vector<std::string> argv = {QB_FIRMATA_SIM};
    argv.insert(argv.end(), options.begin(), options.end());
    peer_ = std::make_unique<PeerProcess>(argv);
    if (!peer_->wait_for_output("\n", 10000)) return;
    const std::string out = peer_->output();
    if (out.rfind("DEVICE ", 0) == 0) device_ = out.substr(7, out.find('\n') - 7);
}

int FirmataSim::count(const std::string& line) { return count_of(peer_->output(), "\n" + line + "\n"); }

bool FirmataSim::wait_for_line(const std::string& line, int n, int timeout_ms) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (count(line) < n) {
        if (std::chrono::steady_clock::now() > deadline || !peer_->running()) return count(line) >= n;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

}  // namespace qbtest
