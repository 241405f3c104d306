// Large files are written into space reserved before the write. Without it,
// ext4 reserves and later allocates the blocks page by page (delayed
// allocation) and, for a file that was truncated and rewritten, allocates
// them all and starts their write-out when the file is closed; one
// reservation up front costs much less and leaves nothing to do at close.
// Like any write without fsync, the data reach the disk with the kernel's
// normal write-back.
#pragma once

#include <cstdint>

namespace qb {

// Files from this size up are reserved; smaller ones are written as before.
constexpr uint64_t kReserveFrom = uint64_t{1} << 20;

// Reserves the first `size` bytes of the file open as fd for a write that is
// about to fill them. The file's size is not changed. Only a hint: a file
// system or a kind of file that cannot reserve space is written as before.
// True when space was reserved.
bool reserve_file_space(int fd, uint64_t size);

}  // namespace qb
