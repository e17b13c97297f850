// Test helper: the log lines a piece of code writes, captured from standard error.
#pragma once

#include <cstdint>
#include <regex>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "core/log.h"

namespace quorvane::testing_support {

/// Captures standard error with the log threshold at `level` for the life of the object.
class log_capture {
 public:
  /// Starts capturing and sets the threshold to `level`.
  explicit log_capture(int32_t level = log_verbose) : previous_(log_level_threshold()) {
    set_log_level(level);
    ::testing::internal::CaptureStderr();
  }
  /// Stops capturing and restores the threshold.
  ~log_capture() {
    if (!taken_) ::testing::internal::GetCapturedStderr();
    set_log_level(previous_);
  }
  /// Not copyable: the capture is ended once.
  log_capture(const log_capture&) = delete;
  /// Not assignable.
  log_capture& operator=(const log_capture&) = delete;

  /// The messages written since construction (each line without its thread, time, function and position).
  /// Ends the capture; call it once.
  std::vector<std::string> messages() {
    taken_ = true;
    const std::string text = ::testing::internal::GetCapturedStderr();
    std::vector<std::string> lines;
    for (size_t start = 0; start < text.size();) {
      size_t end = text.find('\n', start);
      if (end == std::string::npos) end = text.size();
      std::string line = text.substr(start, end - start);
      // The message follows the "file:line " position, which closes the prefix of every log line.
      std::smatch position;
      if (std::regex_search(line, position, std::regex(R"(\.(cpp|h):[0-9]+ )"))) {
        line = line.substr(static_cast<size_t>(position.position(0) + position.length(0)));
      }
      lines.push_back(line);
      start = end + 1;
    }
    return lines;
  }
  /// The messages that begin with `prefix`; ends the capture as `messages` does.
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

}  // namespace quorvane::testing_support
