// A WebSocket server that is not ours: Python's websockets package running a
// script in the background. The script binds 127.0.0.1 port 0 and prints
// "PORT <n>" as its first line; the fixture stops it in its destructor.
#pragma once

#include <memory>
#include <string>

#include "support/peer_process.h"
#include "support/test_support.h"

namespace qbtest {

class PythonWsServer {
public:
    explicit PythonWsServer(const std::string& script);

    // 0 when the server did not come up (the reason is in output()).
    int port() const { return port_; }
    // Everything the script printed so far (after stop(): all of it).
    std::string output() { return proc_->output(); }
    void stop() { proc_->stop(); }

private:
    TempDir dir_;
    std::unique_ptr<PeerProcess> proc_;
    int port_ = 0;
};

}  // namespace qbtest
