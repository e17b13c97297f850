#include "test_support/log_capture.h"

#include <gtest/gtest.h>

#include <regex>
#include <utility>

namespace quorvane::testing_support {

log_capture::log_capture(int32_t level) : previous_(log_level_threshold()) {
  set_log_level(level);
  ::testing::internal::CaptureStderr();
}

log_capture::~log_capture() {
  if (!taken_) ::testing::internal::GetCapturedStderr();
  set_log_level(previous_);
}

std::vector<std::string> log_capture::messages() {
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

std::vector<std::string> log_capture::messages_starting(const std::string& prefix) {
  std::vector<std::string> kept;
  for (std::string& line : messages()) {
    if (line.rfind(prefix, 0) == 0) kept.push_back(std::move(line));
  }
  return kept;
}

}  // namespace quorvane::testing_support
