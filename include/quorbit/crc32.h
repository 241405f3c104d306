/** @file
 * CRC-32 of ISO 3309 / ITU-T V.42, the checksum of ZIP and PNG.
 */
#ifndef QB_CRC32_H
#define QB_CRC32_H

#include <stddef.h>
#include <stdint.h>

#include "qb_export.h"

QB_BEGIN_DECLS

/** The CRC-32 of len bytes of buf, continued from crc (0 to start): the CRC of
 * two blocks fed one after the other equals the CRC of their concatenation.
 *
 * This symbol is also zlib's, and in a process that loads zlib (libpng does)
 * zlib's callers are bound to this definition. It therefore behaves exactly as
 * zlib's does for every call zlib's callers can make: a null buf returns 0 (the
 * starting value), only the low 32 bits of crc count, and only the low 32 bits
 * of len count (zlib's length is an unsigned int), so feed 4 GiB or more in
 * pieces. Do not include this header together with zlib.h. */
QB_API uint32_t crc32(uint32_t crc, const char* buf, size_t len);

QB_END_DECLS

#endif /* QB_CRC32_H */
