// The CSV reader over a block of memory, for tests and the fuzz target.
#pragma once

#include <cstddef>
#include <cstdint>

#include "sdk_csv.h"

namespace qb {

// Appends the rows read from data as csv_load does from a file: 0, or 2 if memory runs out.
int csv_load_memory(CSV_BUFFER* buffer, const char* data, size_t size);

// Sets bit i of out[k] when p[64 * k + i] is f, t or a line feed; reads blocks * 64 bytes.
using CsvMaskFn = void (*)(const char* p, size_t blocks, char f, char t, uint64_t* out);

// Byte scanners from plainest to widest.
enum class CsvScan { kPortable, kSse2, kAvx2 };

// The widest scanner this processor runs.
CsvScan csv_scan_best();
// Makes later loads use s, or the best one this processor runs if that is
// plainer; returns the one now in use. For tests.
CsvScan csv_use_scan(CsvScan s);
// The scanner loads use.
CsvMaskFn csv_scanner();

}  // namespace qb
