// Test hooks for the identifier generator.
#pragma once

#include <cstdint>

namespace qb {

// Seeds the generator from `device` (16 bytes), then getrandom() when
// `use_getrandom`, then clock, pid and a counter. Returns what uuid4_init does.
int uuid4_seed(const char* device, bool use_getrandom);

// Replaces the generator state (known-answer tests).
void uuid4_set_state(uint64_t s0, uint64_t s1);

}  // namespace qb
