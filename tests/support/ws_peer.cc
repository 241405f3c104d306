#include "support/ws_peer.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>

#include "support/python_peer.h"

namespace qbtest {

PythonWsServer::PythonWsServer(const std::string& script) {
    const std::string path = dir_.file("server.py");
    write_file(path, script);
    int fds[2];
    if (pipe(fds) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
        dup2(fds[1], 1);
        dup2(fds[1], 2);
        close(fds[0]);
        close(fds[1]);
        execl(kSystemPython, kSystemPython, "-u", path.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    close(fds[1]);
    out_fd_ = fds[0];
    fcntl(out_fd_, F_SETFL, O_NONBLOCK);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
        output();
        size_t at = out_.find("PORT ");
        if (at != std::string::npos && out_.find('\n', at) != std::string::npos) {
            port_ = atoi(out_.c_str() + at + 5);
            break;
        }
        pollfd p{out_fd_, POLLIN, 0};
        if (poll(&p, 1, 100) > 0 && (p.revents & POLLHUP) && !(p.revents & POLLIN)) break;
    }
}

std::string PythonWsServer::output() {
    if (out_fd_ >= 0) {
        char buf[4096];
        ssize_t n;
        while ((n = read(out_fd_, buf, sizeof buf)) > 0) out_.append(buf, static_cast<size_t>(n));
    }
    return out_;
}

void PythonWsServer::stop() {
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        int status = 0;
        waitpid(pid_, &status, 0);
        pid_ = -1;
    }
    if (out_fd_ >= 0) {
        output();
        close(out_fd_);
        out_fd_ = -1;
    }
}

PythonWsServer::~PythonWsServer() { stop(); }

}  // namespace qbtest
