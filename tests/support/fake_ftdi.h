// A stand-in for libftdi1 with the same function signatures: a test binary
// that uses it links these definitions ahead of the real library, so the
// MPSSE engine runs unchanged against a scripted chip.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

namespace qbtest {

struct FakeFtdi {
    std::vector<std::string> writes;  // one hex text ("11 02 00 01 02 03") per ftdi_write_data
    // Control calls in order: "init", "open 0403:6014 #0", "bitmode 00 02 timeouts 100/100", "flush rx", "close", ...
    std::vector<std::string> calls;
    std::deque<uint8_t> answers;  // handed out as ftdi_read_data asks
    bool fail_init = false;
    bool no_device = false;
    bool fail_reset = false;
    int writes_left = -1;  // >= 0: that many writes succeed, later ones fail

    // The bytes written since the last take, as one hex text.
    std::string take();
    void answer(std::initializer_list<uint8_t> bytes) { answers.insert(answers.end(), bytes); }
};

// The process-wide fake, reset to a plain attached FT232H.
FakeFtdi& fake_ftdi_reset();

}  // namespace qbtest
