#include "foundation/big_alloc.h"

#include <malloc.h>
#include <sys/mman.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace qb {
namespace {

constexpr size_t kPage = 4096;

// Only a hint: without transparent huge pages the block keeps small pages.
void advise_huge(void* p, size_t n) {
#ifdef MADV_HUGEPAGE
    const uintptr_t start = (reinterpret_cast<uintptr_t>(p) + kPage - 1) & ~uintptr_t{kPage - 1};
    const uintptr_t end = (reinterpret_cast<uintptr_t>(p) + n) & ~uintptr_t{kPage - 1};
    if (end > start) madvise(reinterpret_cast<void*>(start), end - start, MADV_HUGEPAGE);
#else
    (void)p;
    (void)n;
#endif
}

}  // namespace

void* big_alloc(size_t n) {
    if (n < kBigBlock) return malloc(n ? n : 1);
    // Whole huge pages, so the last one is not left to small pages either.
    if (n > SIZE_MAX - kHugePage) return nullptr;
    const size_t rounded = (n + kHugePage - 1) & ~(kHugePage - 1);
    void* p = nullptr;
    if (posix_memalign(&p, kHugePage, rounded) != 0) return nullptr;
    advise_huge(p, rounded);
    return p;
}

void* big_realloc(void* p, size_t n) {
    if (!p) return big_alloc(n);
    if (n < kBigBlock) return realloc(p, n ? n : 1);
    // realloc would move a large block to small pages (mremap keeps no
    // alignment): a fresh aligned block and one copy cost less than a
    // fault per 4 KiB, and doubling keeps the copies linear.
    const size_t old = malloc_usable_size(p);
    if (old >= n) return p;
    void* q = big_alloc(n);
    if (!q) return nullptr;
    memcpy(q, p, old);
    free(p);
    return q;
}

}  // namespace qb
