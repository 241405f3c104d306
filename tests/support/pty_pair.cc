#include "support/pty_pair.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace qbtest {

PtyPair::PtyPair() {
    const int m = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m < 0) return;
    if (grantpt(m) != 0 || unlockpt(m) != 0) {
        close(m);
        return;
    }
    device_ = ptsname(m);
    held_ = open(device_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios t{};
    if (held_ < 0 || tcgetattr(held_, &t) != 0) {
        close(m);
        return;
    }
    cfmakeraw(&t);
    tcsetattr(held_, TCSANOW, &t);
    fcntl(m, F_SETFL, O_NONBLOCK);
    master_ = m;
}

PtyPair::~PtyPair() { hang_up(); }

std::string PtyPair::read(int quiet_ms) {
    std::string out;
    char buf[4096];
    pollfd p{master_, POLLIN, 0};
    while (master_ >= 0 && poll(&p, 1, quiet_ms) > 0) {
        const ssize_t n = ::read(master_, buf, sizeof buf);
        if (n <= 0) break;
        out.append(buf, static_cast<size_t>(n));
    }
    return out;
}

std::string PtyPair::read_n(size_t n, int timeout_ms) {
    std::string out;
    char buf[4096];
    pollfd p{master_, POLLIN, 0};
    while (master_ >= 0 && out.size() < n && poll(&p, 1, timeout_ms) > 0) {
        const ssize_t got = ::read(master_, buf, std::min(sizeof buf, n - out.size()));
        if (got <= 0) break;
        out.append(buf, static_cast<size_t>(got));
    }
    return out;
}

std::string PtyPair::read_hex(int quiet_ms) { return to_hex(read(quiet_ms)); }

bool PtyPair::write(const std::string& bytes) {
    size_t done = 0;
    while (master_ >= 0 && done < bytes.size()) {
        const ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
        } else {
            pollfd p{master_, POLLOUT, 0};
            if (poll(&p, 1, 5000) <= 0) return false;
        }
    }
    return done == bytes.size();
}

void PtyPair::hang_up() {
    if (held_ >= 0) close(held_);
    if (master_ >= 0) close(master_);
    held_ = master_ = -1;
}

std::string to_hex(const std::string& bytes) {
    std::string s;
    char h[3];
    for (unsigned char c : bytes) {
        snprintf(h, sizeof h, "%02x", c);
        s += h;
    }
    return s;
}

}  // namespace qbtest
