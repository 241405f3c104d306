#include "support/mosquitto_broker.h"

#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "support/redis_server.h"

namespace qbtest {
namespace {

bool run(const std::vector<std::string>& argv) { return PeerProcess(argv).finish() == 0; }

}  // namespace

MosquittoBroker::MosquittoBroker(MosquittoOptions options) : options_(std::move(options)) {
    char tmpl[] = "/tmp/qb-mosquitto-XXXXXX";
    dir_ = mkdtemp(tmpl) ? tmpl : "";
    if (dir_.empty() ||
        (!options_.user.empty() && !run({"mosquitto_passwd", "-b", "-c", dir_ + "/passwd", options_.user, options_.password})) ||
        (options_.tls && !make_certificates())) {
        error_ = "could not prepare the broker's files in " + dir_;
        return;
    }
    // Another process may take the probed port before the broker binds it.
    for (int attempt = 0; attempt < 3 && !running(); ++attempt) {
        port_ = free_loopback_port();
        std::ofstream(dir_ + "/mosquitto.conf")
            << "listener " << port_ << " 127.0.0.1\npersistence false\nlog_dest stderr\n"
            << "user root\n"  // as root it would switch to "mosquitto", who cannot read this folder
            << (options_.user.empty() ? "allow_anonymous true\n" : "allow_anonymous false\npassword_file " + dir_ + "/passwd\n")
            << (options_.tls ? "cafile " + ca_file() + "\ncertfile " + dir_ + "/server.pem\nkeyfile " + dir_ + "/server.key\n" : "");
        proc_ = std::make_unique<PeerProcess>(std::vector<std::string>{"mosquitto", "-c", dir_ + "/mosquitto.conf"});
        if (!proc_->wait_for_listen(port_)) error_ = "mosquitto did not listen: " + proc_->output();
    }
}

MosquittoBroker::~MosquittoBroker() {
    stop();
    std::error_code ec;
    if (!dir_.empty()) std::filesystem::remove_all(dir_, ec);
}

bool MosquittoBroker::make_certificates() {
    auto req = [&](const std::string& name, std::vector<std::string> more) {
        std::vector<std::string> argv = {"openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                                         "-nodes", "-days", "2", "-keyout", dir_ + "/" + name + ".key", "-out", dir_ + "/" + name + ".pem"};
        argv.insert(argv.end(), more.begin(), more.end());
        return run(argv);
    };
    return req("ca", {"-subj", "/CN=qb test CA"}) &&
           req("server", {"-subj", "/CN=localhost", "-CA", ca_file(), "-CAkey", dir_ + "/ca.key", "-addext", "subjectAltName=IP:127.0.0.1"});
}

std::vector<std::string> MosquittoBroker::client(const char* program, std::vector<std::string> more) const {
    std::vector<std::string> argv = {"stdbuf", "-oL", program, "-h", "127.0.0.1", "-p", std::to_string(port_)};
    if (!options_.user.empty()) argv.insert(argv.end(), {"-u", options_.user, "-P", options_.password});
    if (options_.tls) argv.insert(argv.end(), {"--cafile", ca_file()});
    argv.insert(argv.end(), more.begin(), more.end());
    return argv;
}

}  // namespace qbtest
