// Keeps SIGPIPE pending on the calling thread while a library we call writes
// to a socket with write() (a peer that closed would otherwise end the whole
// process), and consumes it afterwards.
#pragma once

#include <signal.h>

namespace qb {

// Set by a thread that blocks SIGPIPE for good; guards then cost nothing.
inline thread_local bool t_sigpipe_blocked = false;

class SigpipeGuard {
public:
    SigpipeGuard() {
        if (t_sigpipe_blocked) {
            already_blocked_ = true;
            return;
        }
        sigemptyset(&pipe_);
        sigaddset(&pipe_, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &pipe_, &old_);
        already_blocked_ = sigismember(&old_, SIGPIPE);
        if (!already_blocked_) {
            sigset_t pending;
            sigpending(&pending);
            was_pending_ = sigismember(&pending, SIGPIPE);
        }
    }
    ~SigpipeGuard() {
        if (already_blocked_) return;
        if (!was_pending_) {
            sigset_t pending;
            sigpending(&pending);
            if (sigismember(&pending, SIGPIPE)) {
                struct timespec zero = {0, 0};
                sigtimedwait(&pipe_, nullptr, &zero);
            }
        }
        pthread_sigmask(SIG_SETMASK, &old_, nullptr);
    }
    SigpipeGuard(const SigpipeGuard&) = delete;
    SigpipeGuard& operator=(const SigpipeGuard&) = delete;

private:
    sigset_t pipe_;
    sigset_t old_;
    bool already_blocked_ = false;
    bool was_pending_ = false;
};

}  // namespace qb
