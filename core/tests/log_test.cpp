#include "core/log.h"

#include <string>

#include <gtest/gtest.h>

namespace quorvane {
namespace {

// Captures what reaches standard error while a test logs.
std::string logged(int32_t threshold, int32_t level, const char* message) {
  set_log_level(threshold);
  testing::internal::CaptureStderr();
  log_message(level, "quorvane::test::f", "src/test.cpp", 7, "%s", message);
  std::string out = testing::internal::GetCapturedStderr();
  set_log_level(log_information);
  return out;
}

TEST(Log, ThresholdDecidesWhichLevelsAreWritten) {
  struct level_case {
    int32_t threshold, level;
    bool written;
  };
  const level_case cases[] = {
      {0, 1, false},  {0, 2, false}, {0, 3, false}, {0, 10, false},  // threshold 0: nothing
      {3, 1, true},   {3, 2, true},  {3, 3, true},  {3, 10, false},  // threshold 3: not verbose
      {10, 10, true}, {1, 2, false},
  };
  for (const auto& c : cases) {
    const bool written = !logged(c.threshold, c.level, "m").empty();
    EXPECT_EQ(written, c.written) << "threshold " << c.threshold << " level " << c.level << ": got "
                                  << written << ", want " << c.written;
  }
}

TEST(Log, LineHasThreadTimeFunctionFileLineAndMessage) {
  const std::string line = logged(3, 1, "SHGetFolderPath() failed: 5");
  // "<tid> Thu Dec 10 11:44:36 2026 quorvane::test::f test.cpp:7 SHGetFolderPath() failed: 5\n"
  ASSERT_FALSE(line.empty());
  EXPECT_EQ(line.back(), '\n');
  const size_t space = line.find(' ');
  EXPECT_GT(std::stol(line.substr(0, space)), 0);
  const std::string rest = line.substr(space + 1);
  EXPECT_EQ(rest.size(),
            24 + std::string(" quorvane::test::f test.cpp:7 SHGetFolderPath() failed: 5\n").size());
  EXPECT_EQ(rest.substr(24), " quorvane::test::f test.cpp:7 SHGetFolderPath() failed: 5\n");
  EXPECT_EQ(rest[3], ' ');
  EXPECT_EQ(rest[7], ' ');
  EXPECT_EQ(rest[13], ':');
}

TEST(Log, MessageAndLineAreCutAtTheirBufferSizesAndFirstNewline) {
  const std::string long_message(5000, 'x');
  std::string out = logged(3, 1, long_message.c_str());
  EXPECT_EQ(out.find(std::string(1024, 'x')), std::string::npos) << "message cut to 1023 bytes";
  EXPECT_NE(out.find(std::string(1023, 'x')), std::string::npos);

  const std::string long_function(3000, 'f');
  const std::string line = format_log_line(1, "T", long_function.c_str(), "a.cpp", 1, "m");
  EXPECT_EQ(line.size(), 2047u) << "line cut to 2047 bytes";

  // Compared after the time text, which may tick between two lines.
  const std::string ended = logged(3, 1, "select: boom\n");
  EXPECT_EQ(ended.substr(ended.find(' ') + 1 + 24), " quorvane::test::f test.cpp:7 select: boom\n")
      << "trailing newline dropped";
  out = logged(3, 1, "first\nsecond");
  EXPECT_EQ(out.substr(out.size() - 6), "first\n");
  EXPECT_EQ(out.find("second"), std::string::npos);
}

TEST(Log, FileFieldIsTheBaseNameWhateverTheSeparator) {
  const char* paths[] = {"workspace_posix.cpp", "../core/workspace_posix.cpp",
                         "..\\core\\workspace_posix.cpp", "/abs/dir\\mixed/workspace_posix.cpp"};
  for (const char* path : paths) {
    EXPECT_EQ(format_log_line(1, "T", "f", path, 9, "m"), "1 T f workspace_posix.cpp:9 m") << path;
  }
}

TEST(Log, QualifiedFunctionNameDropsReturnTypeAndParameters) {
  const std::pair<const char*, const char*> cases[] = {
      {"int quorvane::socket::connect(const sockaddr*, socklen_t)", "quorvane::socket::connect"},
      {"virtual int32_t quorvane::workspace_posix::applicationWillInitialize()",
       "quorvane::workspace_posix::applicationWillInitialize"},
      {"void f()", "f"},
      {"std::vector<int, std::allocator<int> > quorvane::a::list() const", "quorvane::a::list"},
      {"bool quorvane::x::operator()(int)", "quorvane::x::operator()"},
      {"quorvane::thread::thread()", "quorvane::thread::thread"},
  };
  for (const auto& [pretty, want] : cases) {
    EXPECT_EQ(qualified_function_name(pretty), want) << pretty;
  }
}

TEST(Log, MacroFillsInTheCallingFunction) {
  set_log_level(3);
  testing::internal::CaptureStderr();
  QV_LOG(log_warning, "value %d", 42);
  const std::string out = testing::internal::GetCapturedStderr();
  EXPECT_NE(out.find(" log_test.cpp:"), std::string::npos) << out;
  EXPECT_NE(out.find("TestBody log_test.cpp"), std::string::npos) << out;
  EXPECT_NE(out.find(" value 42\n"), std::string::npos) << out;
}

}  // namespace
}  // namespace quorvane
