// CRC-32 for the library's own callers, with a full size_t length.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qb {

// The CRC-32 of len bytes continued from crc (0 to start); buf may be null only when len is 0.
uint32_t crc32_update(uint32_t crc, const void* buf, size_t len);

// The table path alone (slice-by-8), for checking the carry-less multiplication path against it.
uint32_t crc32_tables(uint32_t crc, const void* buf, size_t len);

}  // namespace qb
