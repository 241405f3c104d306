// Hooks for tests only: the library itself never calls them. The
// configuration tree is absolute ("/global/configs"), which a test cannot
// create without owning the machine, and the local root is fixed once per
// process, which tests of its set-up need to undo.
#pragma once

namespace qb {

// Null restores "/global/configs".
void local_storage_set_config_root(const char* dir);
// The next operation reads the root parameters again.
void local_storage_forget_root();

}  // namespace qb
