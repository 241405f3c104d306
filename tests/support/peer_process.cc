#include "support/peer_process.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

extern char** environ;

namespace qbtest {
namespace {
using Clock = std::chrono::steady_clock;

bool accepts(int port) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool ok = connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    close(fd);
    return ok;
}
}  // namespace

PeerProcess::PeerProcess(const std::vector<std::string>& argv, const std::vector<std::string>& env) {
    if (argv.empty()) return;
    std::vector<std::string> envs;
    for (char** e = environ; *e; ++e) envs.emplace_back(*e);
    envs.insert(envs.end(), env.begin(), env.end());
    std::vector<char*> args, envp;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    for (const auto& e : envs) envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
        dup2(fds[1], 1);
        dup2(fds[1], 2);
        int in = open("/dev/null", O_RDONLY);
        if (in >= 0) dup2(in, 0);
        execvpe(args[0], args.data(), envp.data());
        dprintf(2, "cannot run %s: %s\n", args[0], strerror(errno));
        _exit(127);
    }
    close(fds[1]);
    if (pid_ < 0) {
        close(fds[0]);
        return;
    }
    out_fd_ = fds[0];
    fcntl(out_fd_, F_SETFL, O_NONBLOCK);
}

PeerProcess::~PeerProcess() { stop(); }

bool PeerProcess::running() {
    if (pid_ <= 0) return false;
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return false;
    }
    return true;
}

std::string PeerProcess::output() {
    if (out_fd_ >= 0) {
        char buf[4096];
        ssize_t n;
        while ((n = read(out_fd_, buf, sizeof buf)) > 0) out_.append(buf, static_cast<size_t>(n));
    }
    return out_;
}

bool PeerProcess::wait_for_output(const std::string& needle, int timeout_ms) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    while (Clock::now() < deadline) {
        if (output().find(needle) != std::string::npos) return true;
        if (out_fd_ < 0) return false;
        pollfd p{out_fd_, POLLIN, 0};
        if (poll(&p, 1, 50) > 0 && (p.revents & POLLHUP) && !(p.revents & POLLIN))
            return output().find(needle) != std::string::npos;
    }
    return false;
}

int PeerProcess::wait_for_port_line(int timeout_ms) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    while (Clock::now() < deadline) {
        const std::string out = output();
        const size_t at = out.find("PORT ");
        if (at != std::string::npos && out.find('\n', at) != std::string::npos) return atoi(out.c_str() + at + 5);
        if (!wait_for_output("PORT ", 50) && !running()) return 0;
    }
    return 0;
}

bool PeerProcess::wait_for_listen(int port, int timeout_ms) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    while (Clock::now() < deadline) {
        if (accepts(port)) return true;
        if (!running()) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

void PeerProcess::signal(int sig) {
    if (pid_ > 0) ::kill(pid_, sig);
}

int PeerProcess::wait_exit(int sig) {
    int result = -1;
    if (pid_ > 0) {
        ::kill(pid_, sig);
        const auto deadline = Clock::now() + std::chrono::seconds(5);
        int status = 0;
        pid_t r;
        while ((r = waitpid(pid_, &status, WNOHANG)) == 0) {
            if (Clock::now() > deadline) {
                ::kill(pid_, SIGKILL);
                r = waitpid(pid_, &status, 0);
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        if (r == pid_ && WIFEXITED(status)) result = WEXITSTATUS(status);
        pid_ = -1;
    }
    if (out_fd_ >= 0) {
        output();
        close(out_fd_);
        out_fd_ = -1;
    }
    return result;
}

int PeerProcess::stop() { return wait_exit(SIGTERM); }

int PeerProcess::finish(int timeout_ms) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    int status = 0;
    while (pid_ > 0 && Clock::now() < deadline) {
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            wait_exit(0);  // collects the rest of the output
            return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    wait_exit(SIGKILL);
    return -1;
}

void PeerProcess::kill() { wait_exit(SIGKILL); }

}  // namespace qbtest
