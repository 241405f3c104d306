#include "support/pty_pair.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <stdexcept>

namespace qbtest {

PtyPair::PtyPair() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    char name[128];
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0 || ptsname_r(master_, name, sizeof name) != 0)
        throw std::runtime_error("no pseudo-terminal");
    slave_path_ = name;
    slave_ = open(name, O_RDWR | O_NOCTTY);
    // Raw on both sides, so bytes pass unchanged until the code under test sets its own mode.
    termios t;
    if (slave_ >= 0 && tcgetattr(slave_, &t) == 0) {
        cfmakeraw(&t);
        tcsetattr(slave_, TCSANOW, &t);
    }
}

PtyPair::~PtyPair() {
    if (slave_ >= 0) close(slave_);
    if (master_ >= 0) close(master_);
}

void PtyPair::write(const std::string& bytes) {
    if (::write(master_, bytes.data(), bytes.size()) != ssize_t(bytes.size())) throw std::runtime_error("pty write");
}

std::string PtyPair::read(size_t max, int timeout_ms) {
    std::string out;
    pollfd p = {master_, POLLIN, 0};
    while (out.size() < max && poll(&p, 1, timeout_ms) == 1) {
        char buf[256];
        ssize_t n = ::read(master_, buf, std::min(sizeof buf, max - out.size()));
        if (n <= 0) break;
        out.append(buf, size_t(n));
    }
    return out;
}

}  // namespace qbtest
