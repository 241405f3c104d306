// A pseudo-terminal pair standing in for a serial device: the code under
// test opens slave_path() like a tty; the test talks through the master.
#pragma once

#include <string>

namespace qbtest {

class PtyPair {
public:
    PtyPair();  // throws when no pseudo-terminal can be had
    ~PtyPair();
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    const std::string& slave_path() const { return slave_path_; }
    int master() const { return master_; }
    void write(const std::string& bytes);
    // Up to max bytes that arrive within timeout_ms (the read stops at the first pause).
    std::string read(size_t max, int timeout_ms = 1000);

private:
    int master_ = -1;
    int slave_ = -1;  // held open so the master sees no hang-up between the test's opens
    std::string slave_path_;
};

}  // namespace qbtest
