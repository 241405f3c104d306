// Checks shared by the storage front-end and backend tests.
#pragma once

#include <gtest/gtest.h>

#include "qb_storage.h"
#include "support/test_support.h"

namespace qbtest {

// Every dispatching operation on s fails with its error result (the caller
// captures and counts the log lines, and releases s).
inline void expect_operations_refused(QB_Storage s) {
    char* buf = nullptr;
    int size = 0;
    EXPECT_EQ(qb_config_save(s, mut("p"), mut("f"), mut("x"), 1), -1);
    EXPECT_EQ(qb_config_load(s, mut("p"), mut("f"), &buf, &size), -1);
    EXPECT_EQ(qb_config_delete(s, mut("p"), mut("f")), -1);
    EXPECT_EQ(qb_tmp_file_save(s, mut("r"), mut("p"), mut("f"), mut("x"), 1), nullptr);
    EXPECT_EQ(qb_tmp_file_load(s, mut("studio/r"), mut("f"), &buf, &size), -1);
    EXPECT_EQ(qb_tmp_file_delete(s, mut("studio/r"), mut("f")), -1);
}

}  // namespace qbtest
