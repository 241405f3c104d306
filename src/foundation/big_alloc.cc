#include "foundation/big_alloc.h"

#include <sys/mman.h>

#include <cstdint>
#include <cstdlib>

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
    void* q = realloc(p, n ? n : 1);
    if (q && n >= kBigBlock) advise_huge(q, n);
    return q;
}

}  // namespace qb
