// A stand-in for libftdi1 with the same function signatures: a test binary
// that uses it links these definitions ahead of the real library, so the
// MPSSE engine runs unchanged against a scripted chip. Every written byte is
// recorded; reads are answered from a script.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

namespace qbtest {

struct FakeFtdi {
    // One hex text ("11 02 00 01 02 03") per ftdi_write_data call.
    std::vector<std::string> writes;
    // Control calls in order, e.g. "open 0403:6014 #0", "bitmode 00 02 timeouts 100/100",
    // "flush rx+tx", "close".
    std::vector<std::string> calls;
    // Bytes the chip answers, handed out as ftdi_read_data asks.
    std::deque<uint8_t> answers;
    bool fail_init = false;
    bool no_device = false;
    bool fail_reset = false;
    int writes_left = -1;  // >= 0: that many writes succeed, later ones fail

    // All written bytes as one hex text.
    std::string stream() const;
    // Written bytes since the last take, as one hex text; clears the log.
    std::string take();
    void answer(std::initializer_list<uint8_t> bytes) { answers.insert(answers.end(), bytes); }
};

// The process-wide fake, reset to a plain attached FT232H.
FakeFtdi& fake_ftdi_reset();
FakeFtdi& fake_ftdi();

std::string hex(const uint8_t* data, size_t n);

}  // namespace qbtest
