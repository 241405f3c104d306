// A real mosquitto broker on a free loopback port: plain, with one user and password, or TLS with a
// test CA and server certificate made by openssl. Stopped in the destructor; usable by benchmarks too.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "support/peer_process.h"

namespace qbtest {

struct MosquittoOptions {
    std::string user;  // non-empty: only this user, with password, may connect
    std::string password;
    bool tls = false;
};

class MosquittoBroker {
public:
    explicit MosquittoBroker(MosquittoOptions options = {});
    ~MosquittoBroker();

    bool running() { return proc_ && proc_->running(); }
    const std::string& error() const { return error_; }
    int port() const { return port_; }
    // The host text of a client URI: "tcp://127.0.0.1", or "ssl://127.0.0.1" with TLS.
    std::string host() const { return options_.tls ? "ssl://127.0.0.1" : "tcp://127.0.0.1"; }
    std::string ca_file() const { return dir_ + "/ca.pem"; }  // TLS only
    // program (mosquitto_pub, mosquitto_sub), line-buffered, pointed at this broker, then more.
    std::vector<std::string> client(const char* program, std::vector<std::string> more) const;
    // SIGTERM and wait: connected clients see the connection drop.
    void stop() { proc_.reset(); }

private:
    bool make_certificates();

    MosquittoOptions options_;
    std::string dir_, error_;
    int port_ = 0;
    std::unique_ptr<PeerProcess> proc_;
};

}  // namespace qbtest
