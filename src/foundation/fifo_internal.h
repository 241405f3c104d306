// Layout of the FIFO descriptor, shared with the tests. Offsets are size_t so
// rings larger than 64 KiB cannot wrap them.
#pragma once

#include <cstddef>

struct fifo_descriptor {
    void* itemspace;
    size_t itemsize;
    size_t allocatedbytes;
    size_t readoffset;
    size_t writeoffset;
    size_t storedbytes;
};
