// A Node.js peer: a script in tests/support/node/, whose packages scripts/setup
// installs there with npm. The script listens on a loopback port and prints
// "PORT <n>"; the fixture stops it in its destructor. Free of GoogleTest so
// benchmarks can use it too.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "support/peer_process.h"

namespace qbtest {

class NodePeer {
public:
    // script: path of the .js file; args follow it on the command line.
    explicit NodePeer(const std::string& script, const std::vector<std::string>& args = {});

    // 0 when the peer did not come up (the reason is in output()).
    int port() const { return port_; }
    std::string output() { return proc_ ? proc_->output() : missing_; }
    PeerProcess& process() { return *proc_; }

private:
    std::unique_ptr<PeerProcess> proc_;
    std::string missing_;
    int port_ = 0;
};

}  // namespace qbtest
