// tools/firmata-sim for one test: a Firmata board on a pseudo-terminal that
// prints one line per message it receives from the host.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "support/peer_process.h"

namespace qbtest {

class FirmataSim {
public:
    // Starts the simulator with its options (see tools/firmata-sim/README.md)
    // and waits for its device line; device() is empty when that failed.
    explicit FirmataSim(const std::vector<std::string>& options = {});
    const std::string& device() const { return device_; }
    PeerProcess& process() { return *peer_; }
    // Lines printed so far that equal line.
    int count(const std::string& line);
    // Waits until at least n lines equal line.
    bool wait_for_line(const std::string& line, int n = 1, int timeout_ms = 5000);

private:
    std::unique_ptr<PeerProcess> peer_;
    std::string device_;
};

}  // namespace qbtest
