/** @file
 * SHA-256 (FIPS 180-4), streaming. The digest is 32 raw bytes, the chaining
 * words in big-endian order as the standard prints them. Uses the CPU's SHA
 * instructions where present; results are the same either way.
 */
#ifndef SHA256_H
#define SHA256_H

#include <stdint.h>

#include "qb_export.h"

QB_BEGIN_DECLS

typedef struct {
    uint32_t buf[16]; /**< partial input block */
    uint32_t hash[8]; /**< chaining words */
    uint32_t len[2];  /**< message length in bytes, low word first */
} sha256_context;

/** Starts a digest. */
QB_API void ext_sha256_init(sha256_context* ctx);
/** Adds sz bytes of dat to the digest. */
QB_API void ext_sha256_hash(sha256_context* ctx, uint8_t* dat, uint32_t sz);
/** Pads, writes the 32-byte digest into buf and clears the input block. */
QB_API void ext_sha256_done(sha256_context* ctx, uint8_t* buf);

QB_END_DECLS

#endif /* SHA256_H */
