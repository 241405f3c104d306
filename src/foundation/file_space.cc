#include "foundation/file_space.h"

#include <fcntl.h>

#include <cstdint>

namespace qb {

bool reserve_file_space(int fd, uint64_t size) {
    if (fd < 0 || size < kReserveFrom || size > static_cast<uint64_t>(INT64_MAX)) return false;
    return fallocate(fd, FALLOC_FL_KEEP_SIZE, 0, static_cast<off_t>(size)) == 0;
}

}  // namespace qb
