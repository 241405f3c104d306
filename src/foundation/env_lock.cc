#include "foundation/env_lock.h"

namespace qb {

std::mutex& env_mutex() {
    static std::mutex m;
    return m;
}

}  // namespace qb
