#include <climits>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "foundation/fifo_internal.h"
#include "sdk_fifo.h"
#include "sdk_logger.h"

namespace {

struct FifoDeleter {
    void operator()(fifo_descriptor* f) const { sdk_fifo_destroy(f); }
};
using Fifo = std::unique_ptr<fifo_descriptor, FifoDeleter>;

uint64_t get_u64(SDK_FiFo f) {
    uint64_t v = 0;
    EXPECT_EQ(sdk_fifo_get(f, &v), 0);
    return v;
}

TEST(Fifo, FillsEmptiesAndKeepsOrder) {
    Fifo f(sdk_fifo_create(3, 8));
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(sdk_fifo_is_empty(f.get()), 1);
    for (uint64_t v = 1; v <= 3; ++v) EXPECT_EQ(sdk_fifo_add(f.get(), &v), 0);
    uint64_t extra = 99;
    EXPECT_EQ(sdk_fifo_is_full(f.get()), 1);
    EXPECT_EQ(sdk_fifo_add(f.get(), &extra), -1);
    for (uint64_t v = 1; v <= 3; ++v) EXPECT_EQ(get_u64(f.get()), v);
    uint64_t out = 77;
    EXPECT_EQ(sdk_fifo_get(f.get(), &out), -1);
    EXPECT_EQ(out, 77u);
    EXPECT_EQ(sdk_fifo_is_empty(f.get()), 1);
    EXPECT_EQ(sdk_fifo_is_full(f.get()), 0);
}

TEST(Fifo, WriteOffsetWrapsAndOrderHolds) {
    Fifo f(sdk_fifo_create(3, 8));
    uint64_t v[] = {10, 20, 30, 40};
    sdk_fifo_add(f.get(), &v[0]);
    sdk_fifo_add(f.get(), &v[1]);
    EXPECT_EQ(get_u64(f.get()), 10u);
    sdk_fifo_add(f.get(), &v[2]);
    EXPECT_EQ(f->writeoffset, 0u);
    sdk_fifo_add(f.get(), &v[3]);
    EXPECT_EQ(f->writeoffset, 8u);
    EXPECT_EQ(sdk_fifo_is_full(f.get()), 1);
    EXPECT_EQ(get_u64(f.get()), 20u);
    EXPECT_EQ(get_u64(f.get()), 30u);
    EXPECT_EQ(get_u64(f.get()), 40u);
    EXPECT_EQ(sdk_fifo_is_empty(f.get()), 1);
}

TEST(Fifo, DiscardFromEitherEnd) {
    Fifo f(sdk_fifo_create(3, 4));
    uint32_t v[] = {1, 2, 3, 4};
    for (int i = 0; i < 3; ++i) sdk_fifo_add(f.get(), &v[i]);
    ASSERT_EQ(f->writeoffset, 0u);
    // From the back with the write offset at 0: it wraps to the last slot.
    EXPECT_EQ(sdk_fifo_discard(f.get(), 1, E_FIFO_BACK), 0);
    EXPECT_EQ(f->writeoffset, 8u);
    EXPECT_EQ(f->storedbytes, 8u);
    sdk_fifo_add(f.get(), &v[3]);  // takes the discarded slot

    EXPECT_EQ(sdk_fifo_discard(f.get(), 1, E_FIFO_FRONT), 0);
    uint32_t out = 0;
    sdk_fifo_get(f.get(), &out);
    EXPECT_EQ(out, 2u);
    sdk_fifo_get(f.get(), &out);
    EXPECT_EQ(out, 4u);
    EXPECT_EQ(sdk_fifo_discard(f.get(), 0, E_FIFO_FRONT), 0);
}

TEST(Fifo, DiscardingMoreThanHeldChangesNothing) {
    Fifo f(sdk_fifo_create(3, 4));
    uint32_t v = 5;
    sdk_fifo_add(f.get(), &v);
    sdk_fifo_add(f.get(), &v);
    const fifo_descriptor before = *f;
    EXPECT_EQ(sdk_fifo_discard(f.get(), 3, E_FIFO_FRONT), -1);
    EXPECT_EQ(sdk_fifo_discard(f.get(), 3, E_FIFO_BACK), -1);
    EXPECT_EQ(f->readoffset, before.readoffset);
    EXPECT_EQ(f->writeoffset, before.writeoffset);
    EXPECT_EQ(f->storedbytes, before.storedbytes);
}

TEST(Fifo, DiscardCountsBytesExactlyBeyond64KiB) {
    // 20000 items of 4 bytes are 80000 bytes; modulo 65536 that would be 14464.
    Fifo g(sdk_fifo_create(30000, 4));
    for (uint32_t i = 0; i < 30000; ++i) ASSERT_EQ(sdk_fifo_add(g.get(), &i), 0);
    EXPECT_EQ(sdk_fifo_discard(g.get(), 20000, E_FIFO_BACK), 0);
    EXPECT_EQ(g->storedbytes, 40000u);
    EXPECT_EQ(g->writeoffset, 40000u);
    EXPECT_EQ(sdk_fifo_discard(g.get(), 9999, E_FIFO_FRONT), 0);
    uint32_t out = 0;
    sdk_fifo_get(g.get(), &out);
    EXPECT_EQ(out, 9999u);
    EXPECT_EQ(sdk_fifo_is_empty(g.get()), 1);
}

TEST(Fifo, CreateRefusesBadSizes) {
    EXPECT_EQ(sdk_fifo_create(0, 8), nullptr);
    EXPECT_EQ(sdk_fifo_create(-1, 8), nullptr);
    EXPECT_EQ(sdk_fifo_create(3, 0), nullptr);
    EXPECT_EQ(sdk_fifo_create(3, -8), nullptr);
    // A product beyond int would have wrapped to a tiny ring.
    EXPECT_EQ(sdk_fifo_create(65537, 65537), nullptr);
    EXPECT_EQ(sdk_fifo_create(INT_MAX, 2), nullptr);
}

TEST(Fifo, CopyIsIndependent) {
    Fifo f(sdk_fifo_create(4, 8));
    uint64_t v[] = {1, 2, 3};
    for (auto& x : v) sdk_fifo_add(f.get(), &x);
    get_u64(f.get());
    Fifo c(sdk_fifo_copy(f.get()));
    ASSERT_NE(c, nullptr);
    EXPECT_NE(c->itemspace, f->itemspace);
    EXPECT_EQ(c->readoffset, f->readoffset);
    EXPECT_EQ(c->storedbytes, f->storedbytes);

    // Draining and refilling the copy leaves the original untouched.
    EXPECT_EQ(get_u64(c.get()), 2u);
    uint64_t junk = 555;
    sdk_fifo_add(c.get(), &junk);
    sdk_fifo_add(c.get(), &junk);
    EXPECT_EQ(get_u64(f.get()), 2u);
    EXPECT_EQ(get_u64(f.get()), 3u);
    EXPECT_EQ(sdk_fifo_is_empty(f.get()), 1);
    EXPECT_EQ(get_u64(c.get()), 3u);
}

TEST(Fifo, NullQueueIsRefusedWithItsName) {
    uint64_t item = 0;
    testing::internal::CaptureStdout();
    int add = sdk_fifo_add(nullptr, &item);
    int get = sdk_fifo_get(nullptr, &item);
    int full = sdk_fifo_is_full(nullptr);
    int empty = sdk_fifo_is_empty(nullptr);
    int discard = sdk_fifo_discard(nullptr, 1, E_FIFO_FRONT);
    SDK_FiFo copy = sdk_fifo_copy(nullptr);
    sdk_fifo_info(nullptr);
    int destroy = sdk_fifo_destroy(nullptr);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(add, -1);
    EXPECT_EQ(get, -1);
    EXPECT_EQ(full, -1);
    EXPECT_EQ(empty, -1);
    EXPECT_EQ(discard, -1);
    EXPECT_EQ(copy, nullptr);
    EXPECT_EQ(destroy, -1);
    for (const char* op : {"sdk_fifo_add", "sdk_fifo_get", "sdk_fifo_is_full", "sdk_fifo_is_empty", "sdk_fifo_copy",
                           "sdk_fifo_info", "sdk_fifo_destroy"}) {
        EXPECT_NE(out.find(std::string("[E][SDK_FIFO]\x1B[31m") + op + " Operation on null fifo\n"), std::string::npos)
            << op;
    }
}

TEST(Fifo, InfoReportsSizesInItems) {
    Fifo f(sdk_fifo_create(5, 4));
    uint32_t v = 1;
    sdk_fifo_add(f.get(), &v);
    sdk_fifo_add(f.get(), &v);
    testing::internal::CaptureStdout();
    sdk_fifo_info(f.get());
    std::string out = testing::internal::GetCapturedStdout();
    char addr[16];
    snprintf(addr, sizeof addr, "%x", static_cast<unsigned>(reinterpret_cast<uintptr_t>(f.get())));
    EXPECT_NE(out.find(std::string("[D][SDK_FIFO]Addr=") + addr + ", Total Bytes=20, Total Items=5, Stored Items=2\n"),
              std::string::npos)
        << out;
}

}  // namespace
