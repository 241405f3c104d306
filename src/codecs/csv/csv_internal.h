// The CSV reader over a block of memory, for tests and the fuzz target.
#pragma once

#include <cstddef>

#include "sdk_csv.h"

namespace qb {

// Appends the rows read from data as csv_load does from a file: 0, or 2 if memory runs out.
int csv_load_memory(CSV_BUFFER* buffer, const char* data, size_t size);

}  // namespace qb
