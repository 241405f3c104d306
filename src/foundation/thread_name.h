// The one way the library names its threads.
#pragma once

#include <pthread.h>

namespace qb {

// Names th (seen in top, gdb, /proc), cut to the 15 characters Linux keeps;
// a longer name would be refused whole.
void name_thread(pthread_t th, const char* name);

}  // namespace qb
