#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <optional>
#include <string>

#include "core/log.h"
#include "core/runloop.h"
#include "test_support/log_capture.h"
#include "test_support/runloop_guard.h"
#include "test_support/scoped_environment.h"
#include "test_support/socket_pair.h"
#include "test_support/temporary_folder.h"

namespace quorvane::testing_support {
namespace {

bool exists(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0;
}

TEST(TemporaryFolder, IsANewEmptyFolderRemovedWithItsContent) {
  std::string path, inner;
  {
    temporary_folder first;
    temporary_folder second;
    path = first.path();
    ASSERT_FALSE(path.empty());
    EXPECT_NE(path, second.path());
    struct stat info {};
    ASSERT_EQ(stat(path.c_str(), &info), 0);
    EXPECT_TRUE(S_ISDIR(info.st_mode));
    EXPECT_EQ(info.st_mode & 0777, 0700u) << "only the owner may look inside";
    inner = first.file("sub");
    ASSERT_EQ(mkdir(inner.c_str(), 0700), 0);
    std::ofstream(inner + "/f.txt") << "x";
  }
  EXPECT_FALSE(exists(inner + "/f.txt"));
  EXPECT_FALSE(exists(path));
}

TEST(ScopedEnvironment, RestoresWhatWasThere) {
  const char* name = "QUORVANE_TEST_SUPPORT_VARIABLE";
  struct environment_case {
    const char* name;
    std::optional<std::string> before, during;
  } cases[] = {
      {"set over a value", "old", "new"},          {"set where there was none", std::nullopt, "new"},
      {"unset over a value", "old", std::nullopt}, {"unset where there was none", std::nullopt, std::nullopt},
      {"set to the empty text", "old", ""},
  };
  const auto now = [&]() -> std::optional<std::string> {
    const char* value = getenv(name);
    return value ? std::optional<std::string>(value) : std::nullopt;
  };
  for (const environment_case& c : cases) {
    c.before ? setenv(name, c.before->c_str(), 1) : unsetenv(name);
    {
      scoped_environment scoped(name, c.during);
      EXPECT_EQ(now(), c.during) << c.name;
    }
    EXPECT_EQ(now(), c.before) << c.name;
  }
  unsetenv(name);
}

TEST(SocketPair, IsConnectedAndClosesOnlyWhatItStillHolds) {
  int taken = -1;
  {
    socket_pair pair;
    ASSERT_TRUE(pair.made());
    ASSERT_EQ(::send(pair.first(), "ab", 2, 0), 2);
    char got[2] = {};
    ASSERT_EQ(::recv(pair.second(), got, sizeof got, 0), 2);
    EXPECT_EQ(std::string(got, 2), "ab");
    taken = pair.take_second();
    EXPECT_EQ(pair.second(), -1);
  }
  // The pair closed its end: the taken one is still open and reads the end of the stream.
  char byte;
  EXPECT_EQ(::recv(taken, &byte, 1, 0), 0);
  EXPECT_EQ(::close(taken), 0) << "the taken handle was closed by the pair";
}

// A loop that only counts what is posted to it.
struct counting_loop final : runloop {
  bool watch(smart_ptr<socket>, int32_t, handler, void*) override { return false; }
  void unwatch(smart_ptr<socket>) override {}
  void want_writable(const socket*, bool) override {}
  void want_readable(const socket*, bool) override {}
  void post(std::function<void()>) override { ++posted; }
  int posted = 0;
};

TEST(RunloopGuard, InstallsTheLoopAndLeavesNoneBehind) {
  counting_loop loop;
  {
    runloop_guard guard(loop);
    EXPECT_EQ(main_runloop(), &loop);
  }
  EXPECT_EQ(main_runloop(), nullptr);
}

TEST(LogCapture, GivesTheMessagesWithoutTheirPrefixAndRestoresTheThreshold) {
  const int32_t before = log_level_threshold();
  std::vector<std::string> lines;
  {
    log_capture capture(log_verbose);
    QV_LOG(log_warning, "Unable to open file '%s': %s", "a.txt", "gone");
    QV_LOG(log_verbose, "detail %d", 7);
    lines = capture.messages_starting("Unable");
  }
  EXPECT_EQ(lines, std::vector<std::string>{"Unable to open file 'a.txt': gone"});
  EXPECT_EQ(log_level_threshold(), before);
}

}  // namespace
}  // namespace quorvane::testing_support
