#include "support/mosquitto_broker.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "support/redis_server.h"

extern char** environ;

namespace qbtest {
namespace {

// Runs a tool to completion with its output discarded; true on status 0.
bool run_quietly(std::vector<std::string> args) {
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    int status = -1;
    const bool started = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0;
    posix_spawn_file_actions_destroy(&actions);
    return started && waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace

MosquittoBroker::MosquittoBroker(MosquittoOptions options) : options_(std::move(options)) {
    char tmpl[] = "/tmp/qb-mosquitto-XXXXXX";
    if (!mkdtemp(tmpl)) {
        error_ = "mkdtemp failed";
        return;
    }
    dir_ = tmpl;
    if (!options_.user.empty() &&
        !run_quietly({"mosquitto_passwd", "-b", "-c", dir_ + "/passwd", options_.user, options_.password})) {
        error_ = "mosquitto_passwd failed";
        return;
    }
    if (options_.tls && !make_certificates()) {
        error_ = "openssl could not make the test certificates";
        return;
    }
    // Another process may take the probed port before the broker binds it.
    for (int attempt = 0; attempt < 3 && !running(); ++attempt) {
        port_ = free_loopback_port();
        if (port_ > 0) launch();
    }
}

MosquittoBroker::~MosquittoBroker() {
    stop();
    if (!dir_.empty()) {
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }
}

bool MosquittoBroker::make_certificates() {
    const std::string d = dir_ + "/";
    std::ofstream(d + "san.cnf") << "subjectAltName=IP:127.0.0.1,DNS:localhost\n";
    const std::vector<std::string> ec_key = {"-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes"};
    std::vector<std::string> ca = {"openssl", "req", "-x509"};
    ca.insert(ca.end(), ec_key.begin(), ec_key.end());
    ca.insert(ca.end(), {"-keyout", d + "ca.key", "-out", d + "ca.pem", "-subj", "/CN=quorbit test CA", "-days", "2"});
    std::vector<std::string> csr = {"openssl", "req"};
    csr.insert(csr.end(), ec_key.begin(), ec_key.end());
    csr.insert(csr.end(), {"-keyout", d + "server.key", "-out", d + "server.csr", "-subj", "/CN=localhost"});
    return run_quietly(ca) && run_quietly(csr) &&
           run_quietly({"openssl", "x509", "-req", "-in", d + "server.csr", "-CA", d + "ca.pem", "-CAkey", d + "ca.key",
                        "-CAcreateserial", "-out", d + "server.pem", "-days", "2", "-extfile", d + "san.cnf"});
}

bool MosquittoBroker::launch() {
    const std::string conf = dir_ + "/mosquitto.conf";
    {
        std::ofstream out(conf);
        out << "listener " << port_ << " 127.0.0.1\n"
            << "persistence false\n"
            << "log_dest stderr\n"
            // As root the broker would switch to the "mosquitto" user, who cannot read this folder.
            << "user root\n";
        if (options_.user.empty())
            out << "allow_anonymous true\n";
        else
            out << "allow_anonymous false\npassword_file " << dir_ << "/passwd\n";
        if (options_.tls)
            out << "cafile " << ca_file() << "\ncertfile " << dir_ << "/server.pem\nkeyfile " << dir_
                << "/server.key\n";
    }
    proc_ = std::make_unique<PeerProcess>(std::vector<std::string>{"mosquitto", "-c", conf});
    if (!proc_->wait_for_listen(port_)) {
        error_ = "mosquitto did not listen on port " + std::to_string(port_) + ": " + proc_->output();
        proc_->stop();
        return false;
    }
    error_.clear();
    return true;
}

std::string MosquittoBroker::host() const { return options_.tls ? "ssl://127.0.0.1" : "tcp://127.0.0.1"; }

std::vector<std::string> MosquittoBroker::client_args() const {
    std::vector<std::string> args = {"-h", "127.0.0.1", "-p", std::to_string(port_)};
    if (!options_.user.empty()) args.insert(args.end(), {"-u", options_.user, "-P", options_.password});
    if (options_.tls) args.insert(args.end(), {"--cafile", ca_file()});
    return args;
}

void MosquittoBroker::stop() {
    if (proc_) proc_->stop();
}

bool MosquittoBroker::restart() {
    if (running()) return true;
    return launch();
}

}  // namespace qbtest
