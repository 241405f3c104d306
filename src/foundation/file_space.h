// Large files are written into space reserved before the write. Without it,
// ext4 reserves and later allocates the blocks page by page (delayed
// allocation) and, for a file that was truncated and rewritten, allocates
// them all when the file is closed; one reservation up front costs much less
// CPU and leaves nothing to do at close.
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

// True when path names a regular file with content: writing it again
// replaces data that a crash could otherwise lose.
bool has_content(const char* path);

// After rewriting a file with content into reserved space: starts writing the
// dirty pages out without waiting for them. ext4 does that itself when a
// truncated and rewritten file with blocks still to allocate is closed, which
// keeps short the time in which a crash leaves it empty; with the space
// reserved it would not, so the library does it instead.
void start_write_out(int fd);

}  // namespace qb
