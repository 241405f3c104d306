// Large blocks: aligned for huge pages, yet plain heap memory that free and
// realloc accept, and sizes near the limit refused rather than wrapped.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include <gtest/gtest.h>

#include "foundation/big_alloc.h"

namespace {

TEST(BigAlloc, LargeBlocksAreHugePageAlignedHeapMemory) {
    for (size_t n : {size_t{0}, size_t{100}, qb::kBigBlock - 1, qb::kBigBlock, qb::kBigBlock + 4097}) {
        auto* p = static_cast<unsigned char*>(qb::big_alloc(n));
        ASSERT_NE(p, nullptr) << n;
        EXPECT_TRUE(n < qb::kBigBlock || reinterpret_cast<uintptr_t>(p) % qb::kHugePage == 0) << n;
        memset(p, 0xa5, n);
        // Growing across the threshold keeps the contents.
        auto* q = static_cast<unsigned char*>(qb::big_realloc(p, n + qb::kBigBlock));
        ASSERT_NE(q, nullptr) << n;
        EXPECT_EQ(reinterpret_cast<uintptr_t>(q) % qb::kHugePage, 0u) << n;
        EXPECT_TRUE(n == 0 || (q[0] == 0xa5 && q[n - 1] == 0xa5)) << n;
        q[n + qb::kBigBlock - 1] = 1;
        free(q);
    }
    EXPECT_EQ(qb::big_alloc(SIZE_MAX), nullptr);  // rounding up would wrap
}

}  // namespace
