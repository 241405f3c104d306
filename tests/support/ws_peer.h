// A WebSocket server that is not ours: Python's websockets package running a
// script in the background. The script binds 127.0.0.1 port 0 and prints
// "PORT <n>" as its first line; the fixture stops it in its destructor.
#pragma once

#include <sys/types.h>

#include <string>

#include "support/test_support.h"

namespace qbtest {

class PythonWsServer {
public:
    explicit PythonWsServer(const std::string& script);
    ~PythonWsServer();
    PythonWsServer(const PythonWsServer&) = delete;
    PythonWsServer& operator=(const PythonWsServer&) = delete;

    // 0 when the server did not come up (the reason is in output()).
    int port() const { return port_; }
    // Everything the script printed so far (after stop(): all of it).
    std::string output();
    void stop();

private:
    TempDir dir_;
    pid_t pid_ = -1;
    int out_fd_ = -1;
    int port_ = 0;
    std::string out_;
};

}  // namespace qbtest
