// The fixture of the tests that store records: the process-wide database in a temporary data folder, its
// tables emptied before each test.
#pragma once

#include <regex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/log.h"
#include "database/database.h"
#include "model/manager.h"

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

/// Captures standard error with the log threshold at `level` for the life of the object.
class log_capture {
 public:
  explicit log_capture(int32_t level = log_verbose) : previous_(log_level_threshold()) {
    set_log_level(level);
    ::testing::internal::CaptureStderr();
  }
  /// Stops capturing and restores the threshold.
  ~log_capture() {
    if (!taken_) ::testing::internal::GetCapturedStderr();
    set_log_level(previous_);
  }
  /// The messages written since construction (each line without its thread, time, function and position).
  std::vector<std::string> messages() {
    taken_ = true;
    const std::string text = ::testing::internal::GetCapturedStderr();
    std::vector<std::string> lines;
    for (size_t start = 0; start < text.size();) {
      size_t end = text.find('\n', start);
      if (end == std::string::npos) end = text.size();
      std::string line = text.substr(start, end - start);
      std::smatch position;
      if (std::regex_search(line, position, std::regex(R"(\.(cpp|h):[0-9]+ )"))) {
        line = line.substr(static_cast<size_t>(position.position(0) + position.length(0)));
      }
      lines.push_back(line);
      start = end + 1;
    }
    return lines;
  }
  /// The messages that begin with `prefix`.
  std::vector<std::string> messages_starting(const std::string& prefix) {
    std::vector<std::string> kept;
    for (std::string& line : messages()) {
      if (line.rfind(prefix, 0) == 0) kept.push_back(std::move(line));
    }
    return kept;
  }

 private:
  int32_t previous_;
  bool taken_ = false;
};

}  // namespace quorvane::model::testing_support
