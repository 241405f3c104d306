// The CSV table owner: fields as copies, codes of the C calls as errors, the
// table as a lockable for std::lock_guard.
#include <gtest/gtest.h>

#include <mutex>
#include <thread>

#include "qb_csv.hpp"
#include "support/test_support.h"

namespace {

TEST(CsvCpp, EditSaveLoadCopyAndLock) {
    qbtest::TempDir dir;
    auto t = qb::CsvTable::create();
    ASSERT_TRUE(t);
    ASSERT_TRUE(t->set(0, 0, "name") && t->set(0, 1, "value") && t->set(1, 0, "a,b") && t->set(1, 1, "2"));
    ASSERT_TRUE(t->insert(1, 0, "first"));
    std::string kept = t->field(1, 1).value();
    ASSERT_TRUE(t->set(1, 1, "changed"));
    EXPECT_EQ(kept, "a,b");
    EXPECT_EQ(t->width(1), 3u);
    EXPECT_FALSE(t->field(5, 0));
    EXPECT_EQ(t->find_row(0, "first").value_or(99), 1u);
    EXPECT_FALSE(t->find_row(0, "absent"));

    ASSERT_TRUE(t->save(dir.file("t.csv")));
    EXPECT_EQ(qbtest::read_file(dir.file("t.csv")), "name,value\nfirst,changed,2");
    auto missing = t->load(dir.file("none.csv"));
    ASSERT_FALSE(missing);
    EXPECT_EQ(missing.error().code, 1);
    EXPECT_STREQ(missing.error().function, "csv_load");

    auto u = qb::CsvTable::create();
    ASSERT_TRUE(u && u->load(dir.file("t.csv")));
    EXPECT_EQ(u->height(), 2u);
    auto copy = u->copy();
    ASSERT_TRUE(copy && copy->remove_row(0));
    EXPECT_EQ(copy->field(0, 0).value_or(""), "first");
    EXPECT_EQ(u->field(0, 0).value_or(""), "name");

    std::thread writers[2];
    for (int w = 0; w < 2; w++)
        writers[w] = std::thread([&, w] {
            for (int i = 0; i < 200; i++) {
                std::lock_guard<qb::CsvTable> g(*u);
                EXPECT_TRUE(u->set(2 + w, size_t(i), "x"));
            }
        });
    for (auto& th : writers) th.join();
    EXPECT_EQ(u->width(2) + u->width(3), 400u);

    qb::CsvTable moved = std::move(*u);
    EXPECT_EQ(u->height(), 0u) << "moved-from holds nothing";
    EXPECT_FALSE(u->set(0, 0, "x"));
    EXPECT_TRUE(moved.remove_all_rows());
}

}  // namespace
