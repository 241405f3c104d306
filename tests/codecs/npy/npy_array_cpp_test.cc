// The NPY owners against NumPy: arrays and archives written through the C++
// API read back in NumPy, and NumPy's archive read back through it.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

#include "qb_npy.hpp"
#include "support/python_peer.h"
#include "support/test_support.h"

namespace {

const char* kNumpy = R"PY(
import sys
import numpy as np
work = sys.argv[1]
a = np.load(work + "/a.npy")
z = np.load(work + "/two.npz")
print(a.dtype.str, a.shape, a.tolist(), sorted(z.files), z["b"].tolist())
np.savez(work + "/theirs.npz", x=np.arange(3, dtype="<u2"), y=np.ones((2, 2), dtype="<f8"))
)PY";

std::string int32s(std::initializer_list<int32_t> v) {
    return std::string(reinterpret_cast<const char*>(std::data(v)), v.size() * 4);
}

TEST(NpyCpp, ArraysAndArchivesRoundTripWithNumpy) {
    qbtest::TempDir dir;
    const size_t shape[] = {2, 3};
    auto a = qb::NpyArray::create('i', 4, shape, int32s({1, 2, 3, 4, 5, -6}));
    ASSERT_TRUE(a);
    a->save(dir.file("a.npy"));
    EXPECT_FALSE(qb::NpyArray::create('i', 4, shape, "short")) << "data must match the shape";

    qb::NpyList list;
    const size_t one[] = {2};
    auto b = qb::NpyArray::create('i', 4, one, int32s({7, 8}));
    auto c = qb::NpyArray::create('i', 4, one, int32s({9, 9}));
    ASSERT_TRUE(b && c);
    ASSERT_TRUE(list.append(*b, "b.npy"));
    EXPECT_EQ(b->native(), nullptr) << "the list took it";
    auto refused = list.append(*c, std::string(100, 'n'));
    ASSERT_FALSE(refused);
    ASSERT_NE(c->native(), nullptr) << "a refused array stays with the caller";
    EXPECT_EQ(c->bytes(), int32s({9, 9}));
    ASSERT_TRUE(list.append(*c, "c.npy"));
    EXPECT_EQ(list.save(dir.file("two.npz")).value_or(-1), 2);

    std::string out;
    ASSERT_EQ(qbtest::run_python(kNumpy, {dir.path()}, &out), 0) << out;
    EXPECT_EQ(out, "<i4 (2, 3) [[1, 2, 3], [4, 5, -6]] ['b', 'c'] [7, 8]\n");

    auto back = qb::NpyArray::load(dir.file("a.npy"));
    ASSERT_TRUE(back);
    EXPECT_EQ(back->bytes(), a->bytes());
    EXPECT_EQ(std::vector<size_t>(back->shape().begin(), back->shape().end()), (std::vector<size_t>{2, 3}));
    auto theirs = qb::NpyList::load(dir.file("theirs.npz"));
    ASSERT_TRUE(theirs);
    std::string seen;
    for (auto [name, arr] : *theirs)
        seen += std::string(name) + ":" + arr.typechar() + std::to_string(arr.elem_size()) + "x" +
                std::to_string(arr.count()) + " ";
    EXPECT_EQ(seen, "x.npy:u2x3 y.npy:f8x4 ");
    EXPECT_FALSE(qb::NpyList::load(dir.file("a.npy")));

    qb::NpyArray moved = std::move(*a);
    EXPECT_EQ(a->native(), nullptr);
    EXPECT_EQ(moved.count(), 6u);
}

}  // namespace
