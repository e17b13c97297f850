// Test helper: the log lines a piece of code writes, captured from standard error.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/log.h"

namespace quorvane::testing_support {

/// Captures standard error with the log threshold at `level` for the life of the object.
class log_capture {
 public:
  /// Starts capturing and sets the threshold to `level`.
  explicit log_capture(int32_t level = log_verbose);
  /// Stops capturing and restores the threshold.
  ~log_capture();
  /// Not copyable: the capture is ended once.
  log_capture(const log_capture&) = delete;
  /// Not assignable.
  log_capture& operator=(const log_capture&) = delete;

  /// The messages written since construction (each line without its thread, time, function and position).
  /// Ends the capture; call it once.
  std::vector<std::string> messages();
  /// The messages that begin with `prefix`; ends the capture as `messages` does.
  std::vector<std::string> messages_starting(const std::string& prefix);

 private:
  int32_t previous_;
  bool taken_ = false;
};

}  // namespace quorvane::testing_support
