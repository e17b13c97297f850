// The fixture of the tests that store records: the process-wide database in a temporary data folder, its
// tables emptied before each test.
#pragma once

#include <string>

#include <gtest/gtest.h>

#include "database/database.h"
#include "model/manager.h"
#include "test_support/log_capture.h"

namespace quorvane::model::testing_support {

/// Every table created and empty, row ids starting again at 1.
class Store : public ::testing::Test {
 protected:
  /// Creates the tables once and empties them.
  void SetUp() override {
    ASSERT_EQ(manager::shared().status(), 0) << "the model manager created its tables";
    ASSERT_EQ(database::manager::shared().exec("DELETE FROM printer; DELETE FROM job; DELETE FROM device;"
                                               "DELETE FROM proxy; DELETE FROM sqlite_sequence;"),
              0);
  }

  /// The integer or text of the first column of the first row of `sql`; empty text when there is no row.
  static std::string query_text(const std::string& sql) {
    smart_ptr<database::statement> rows = database::manager::shared().select(sql);
    return rows->step() ? rows->columnText(0) : std::string();
  }
};

/// The log capture shared with the database tests.
using quorvane::testing_support::log_capture;

}  // namespace quorvane::model::testing_support
