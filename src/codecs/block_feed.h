// Buffering shared by the 64-byte-block digests: top up a partial block,
// hash whole blocks straight from the input, keep the tail for later.
#pragma once

#include <cstddef>
#include <cstring>

namespace qb::digest {

template <typename Blocks>
void feed_blocks(unsigned char* partial, size_t have, const unsigned char* in, size_t len, Blocks&& blocks) {
    if (have > 0) {
        size_t take = 64 - have;
        if (len < take) {
            memcpy(partial + have, in, len);
            return;
        }
        memcpy(partial + have, in, take);
        blocks(partial, size_t{1});
        in += take;
        len -= take;
    }
    if (len >= 64) {
        blocks(in, len / 64);
        in += len & ~static_cast<size_t>(63);
        len &= 63;
    }
    if (len > 0) memcpy(partial, in, len);
}

}  // namespace qb::digest
