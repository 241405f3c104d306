#include <memory>
#include <vector>

#include "foundation/fifo_internal.h"
#include "sdk_fifo.h"
#include "support/test_support.h"

namespace {

using Fifo = std::unique_ptr<fifo_descriptor, decltype([](SDK_FiFo f) { sdk_fifo_destroy(f); })>;
using Items = std::vector<uint32_t>;

void add(SDK_FiFo f, Items items, int want = 0) { for (uint32_t v : items) EXPECT_EQ(sdk_fifo_add(f, &v), want); }

// Gets items until a get fails (or `max` are taken, leaving some behind).
Items drain(SDK_FiFo f, size_t max = 100) {
    Items out;
    for (uint32_t v = 0; out.size() < max && sdk_fifo_get(f, &v) == 0;) out.push_back(v);
    EXPECT_EQ(sdk_fifo_is_empty(f), out.size() < max ? 1 : 0);
    return out;
}

TEST(Fifo, KeepsOrderWrapsAndCopiesIndependently) {
    Fifo f(sdk_fifo_create(3, 4));
    add(f.get(), {1, 2});
    EXPECT_EQ(drain(f.get(), 1), Items{1});
    add(f.get(), {3});
    EXPECT_EQ(f->writeoffset, 0u);
    add(f.get(), {4});
    add(f.get(), {5}, -1);
    EXPECT_NE(qbtest::capture_stdout([&] { sdk_fifo_info(f.get()); })
                  .find(", Total Bytes=12, Total Items=3, Stored Items=3\n"), std::string::npos);
    // Refilling the copy would overwrite the original's oldest item if the ring were shared.
    Fifo c(sdk_fifo_copy(f.get()));
    EXPECT_EQ(drain(c.get(), 1), Items{2});
    add(c.get(), {7});
    EXPECT_EQ(drain(f.get()), (Items{2, 3, 4}));
    EXPECT_EQ(drain(c.get()), (Items{3, 4, 7}));
}

TEST(Fifo, DiscardFromEitherEndOrNotAtAll) {
    Fifo f(sdk_fifo_create(3, 4));
    add(f.get(), {1, 2, 3});
    // From the back with the write offset at 0: it wraps to the last slot.
    EXPECT_EQ(sdk_fifo_discard(f.get(), 1, E_FIFO_BACK), 0);
    EXPECT_EQ(f->writeoffset, 8u);
    for (auto side : {E_FIFO_FRONT, E_FIFO_BACK}) EXPECT_EQ(sdk_fifo_discard(f.get(), 3, side), -1);
    EXPECT_EQ(drain(f.get()), (Items{1, 2}));

    // 20000 items of 4 bytes are 80000 bytes; modulo 65536 that would be 14464.
    Fifo g(sdk_fifo_create(30000, 4));
    for (uint32_t i = 0; i < 30000; ++i) ASSERT_EQ(sdk_fifo_add(g.get(), &i), 0);
    EXPECT_EQ(sdk_fifo_discard(g.get(), 20000, E_FIFO_BACK), 0);
    EXPECT_EQ(sdk_fifo_discard(g.get(), 9999, E_FIFO_FRONT), 0);
    EXPECT_EQ(drain(g.get()), Items{9999});
}

TEST(Fifo, BadSizesAndNullQueuesAreRefused) {
    // The last two products overflow int and would have wrapped to a tiny ring.
    for (auto [count, size] : {std::pair{0, 8}, {-1, 8}, {3, 0}, {3, -8}, {65537, 65537}, {1 << 30, 3}})
        EXPECT_EQ(sdk_fifo_create(count, size), nullptr) << count << " x " << size;
    std::string out = qbtest::capture_stdout([] {
        for (int rc : {sdk_fifo_add(nullptr, ""), sdk_fifo_get(nullptr, nullptr), sdk_fifo_is_full(nullptr),
                       sdk_fifo_is_empty(nullptr), sdk_fifo_discard(nullptr, 1, E_FIFO_FRONT),
                       sdk_fifo_destroy(nullptr)})
            EXPECT_EQ(rc, -1);
        EXPECT_EQ(sdk_fifo_copy(nullptr), nullptr);
        sdk_fifo_info(nullptr);
    });
    for (std::string op : {"add", "get", "is_full", "is_empty", "copy", "info", "destroy"})
        EXPECT_EQ(qbtest::count_of(out, "[E][SDK_FIFO]\x1B[31msdk_fifo_" + op + " Operation on null fifo\n"), 1) << op;
}

}  // namespace
