// One lock for every reader and writer of the process environment inside the
// library: setenv() may reallocate environ while another thread walks it.
#pragma once

#include <mutex>

namespace qb {

std::mutex& env_mutex();

}  // namespace qb
