#include "foundation/file_space.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cstdint>

namespace qb {

bool reserve_file_space(int fd, uint64_t size) {
    if (fd < 0 || size < kReserveFrom || size > static_cast<uint64_t>(INT64_MAX)) return false;
    return fallocate(fd, FALLOC_FL_KEEP_SIZE, 0, static_cast<off_t>(size)) == 0;
}

bool has_content(const char* path) {
    struct stat st;
    return path && stat(path, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0;
}

void start_write_out(int fd) {
    // Errors are left to the close and to later reads: this only starts I/O.
    if (fd >= 0) sync_file_range(fd, 0, 0, SYNC_FILE_RANGE_WRITE);
}

}  // namespace qb
