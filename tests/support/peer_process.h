// A peer program that is not ours (a broker, a Node or Python server, socat...)
// running in the background for one test. Its standard output and error are
// collected; the destructor stops it (SIGTERM, then SIGKILL after 5 s).
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace qbtest {

class PeerProcess {
public:
    // Starts argv[0] (looked up on PATH) with the extra environment entries
    // ("NAME=value") added. Check running() and output() afterwards.
    explicit PeerProcess(const std::vector<std::string>& argv, const std::vector<std::string>& env = {});
    ~PeerProcess();
    PeerProcess(const PeerProcess&) = delete;
    PeerProcess& operator=(const PeerProcess&) = delete;

    bool running();
    pid_t pid() const { return pid_; }
    // Everything the peer printed so far (after stop(): all of it).
    std::string output();
    // Waits until the output contains needle; false on time-out or exit.
    bool wait_for_output(const std::string& needle, int timeout_ms = 10000);
    // For peers that print "PORT <n>" once listening: n, or 0 on time-out.
    int wait_for_port_line(int timeout_ms = 10000);
    // Waits until something accepts TCP connections on 127.0.0.1:port.
    bool wait_for_listen(int port, int timeout_ms = 10000);
    void signal(int sig);
    // SIGTERM and wait (SIGKILL after 5 s); returns the exit status or -1.
    int stop();
    // Waits for the peer to end by itself (SIGKILL after timeout_ms); its exit status or -1.
    int finish(int timeout_ms = 15000);
    // SIGKILL and wait: the peer vanishes without closing anything itself.
    void kill();

private:
    int wait_exit(int sig);

    pid_t pid_ = -1;
    int out_fd_ = -1;
    std::string out_;
};

}  // namespace qbtest
