// A real mosquitto broker on a free loopback port: plain, with a user name and
// password, or TLS with a test CA and a server certificate made for it by
// openssl. Stopped in the destructor. Free of GoogleTest so benchmarks can
// use it too.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "support/peer_process.h"

namespace qbtest {

struct MosquittoOptions {
    std::string user;  // non-empty: only this user with password may connect
    std::string password;
    bool tls = false;
};

class MosquittoBroker {
public:
    explicit MosquittoBroker(MosquittoOptions options = {});
    ~MosquittoBroker();
    MosquittoBroker(const MosquittoBroker&) = delete;
    MosquittoBroker& operator=(const MosquittoBroker&) = delete;

    bool running() { return proc_ && proc_->running(); }
    const std::string& error() const { return error_; }
    int port() const { return port_; }
    // The host text of a client URI: "tcp://127.0.0.1", or "ssl://127.0.0.1" with TLS.
    std::string host() const;
    // PEM of the CA that signed the server certificate (TLS only).
    std::string ca_file() const { return dir_ + "/ca.pem"; }
    // Arguments pointing mosquitto_pub / mosquitto_sub at this broker.
    std::vector<std::string> client_args() const;
    // Everything the broker logged so far.
    std::string log() { return proc_ ? proc_->output() : ""; }

    // SIGTERM and wait: connected clients see the connection drop.
    void stop();
    // Starts again on the same port.
    bool restart();

private:
    bool make_certificates();
    bool launch();

    MosquittoOptions options_;
    std::string dir_;
    std::string error_;
    int port_ = 0;
    std::unique_ptr<PeerProcess> proc_;
};

}  // namespace qbtest
