// Large buffers (array data, archive entries, whole files, table arenas) come
// from here. A first touch of each 4 KiB page costs a fault, so blocks from
// kBigBlock up are 2 MiB-aligned and asked to be backed by huge pages: one
// fault per 2 MiB. Every block is plain heap memory, released with free() and
// resizable with realloc(), as the public APIs promise their callers.
#pragma once

#include <cstddef>

namespace qb {

constexpr size_t kHugePage = size_t{2} << 20;
constexpr size_t kBigBlock = size_t{4} << 20;

// malloc(n) for small blocks; null when memory runs out.
void* big_alloc(size_t n);

// realloc(p, n) for a block from big_alloc, malloc or realloc; large
// results are aligned and advised like big_alloc's.
void* big_realloc(void* p, size_t n);

}  // namespace qb
