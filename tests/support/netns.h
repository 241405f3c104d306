// Runs a function in a forked child inside a private network namespace that
// has only its own loopback interface up: names do not resolve there and no
// packet leaves the machine, and fixed ports are free.
#pragma once

#include <functional>

namespace qbtest {

// The child's exit status from fn, 77 when no private namespace can be made,
// or -1 when the child died.
int run_in_private_netns(const std::function<int()>& fn);

}  // namespace qbtest
