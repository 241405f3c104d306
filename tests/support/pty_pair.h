// A pseudo-terminal standing in for a serial device: the code under test
// opens device(); the test reads and writes the other end. Raw from the
// start, and the device end is held open so the line stays up between opens.
#pragma once

#include <string>

namespace qbtest {

class PtyPair {
public:
    PtyPair();
    ~PtyPair();
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    bool ok() const { return master_ >= 0; }
    const std::string& device() const { return device_; }
    // Bytes the device end wrote, collected until quiet_ms pass without more.
    std::string read(int quiet_ms = 100);
    // Exactly n bytes, or fewer when timeout_ms pass first.
    std::string read_n(size_t n, int timeout_ms = 5000);
    // The same as lower-case hexadecimal ("e34801").
    std::string read_hex(int quiet_ms = 100);
    bool write(const std::string& bytes);
    // The device vanishes: both ends of the line close.
    void hang_up();

private:
    int master_ = -1;
    int held_ = -1;
    std::string device_;
};

std::string to_hex(const std::string& bytes);

}  // namespace qbtest
