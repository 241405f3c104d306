// Block functions behind ext_sha256_*, visible to tests so each path is
// checked against the same vectors.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qb::sha256 {

using BlockFn = void (*)(uint32_t state[8], const uint8_t* data, size_t blocks);

void blocks_portable(uint32_t state[8], const uint8_t* data, size_t blocks);
// Null when the CPU (or the build target) has no SHA extensions.
BlockFn blocks_sha_ext();

enum class Impl { automatic, portable, sha_ext };
// Which path ext_sha256_hash uses from now on; false (nothing changed) when
// the requested one is not available here.
bool select(Impl impl);

}  // namespace qb::sha256
