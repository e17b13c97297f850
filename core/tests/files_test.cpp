#include "core/files.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "test_support/temporary_folder.h"

namespace quorvane {
namespace {

class Files : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_FALSE(root_.empty()); }
  std::string write(const std::string& name, const std::string& content) {
    const std::string path = root_ + "/" + name;
    std::ofstream(path, std::ios::binary) << content;
    return path;
  }
  testing_support::temporary_folder folder_;
  const std::string& root_ = folder_.path();
};

TEST_F(Files, OpensOnlyRegularFilesAndNeverWaits) {
  const std::string regular = write("a.pdf", "%PDF-1.4");
  const std::string fifo = root_ + "/fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  struct {
    const char* name;
    std::string path;
    int want_errno;  // 0: opened
  } cases[] = {
      {"a regular file", regular, 0},
      {"a FIFO nobody writes to", fifo, EINVAL},
      {"a folder", root_, EISDIR},
      {"a character device", "/dev/zero", EINVAL},
      {"a missing file", root_ + "/missing", ENOENT},
  };
  for (const auto& c : cases) {
    errno = 0;
    const int fd = open_regular_file(c.path);
    const int got = fd < 0 ? errno : 0;
    EXPECT_EQ(got, c.want_errno) << c.name << ": got " << got << ", want " << c.want_errno;
    if (fd >= 0) {
      // Reads of the opened file block as usual: the no-wait open does not leak into them.
      EXPECT_EQ(fcntl(fd, F_GETFL) & O_NONBLOCK, 0) << c.name;
      char head[8] = {};
      EXPECT_EQ(read(fd, head, sizeof head), 8) << c.name;
      close(fd);
    }
  }
}

TEST_F(Files, MakesMissingFoldersAndRefusesAFileInTheWay) {
  const std::string deep = root_ + "/a/b/c";
  ASSERT_TRUE(make_folders(deep));
  struct stat info {};
  ASSERT_EQ(stat(deep.c_str(), &info), 0);
  EXPECT_TRUE(S_ISDIR(info.st_mode));
  EXPECT_EQ(info.st_mode & 0777, 0700u);
  EXPECT_TRUE(make_folders(deep)) << "an existing folder is fine";

  const std::string file = write("plain", "x");
  errno = 0;
  EXPECT_FALSE(make_folders(file));
  EXPECT_EQ(errno, ENOTDIR);
  EXPECT_FALSE(make_folders(file + "/below"));
  EXPECT_FALSE(make_folders(""));
}

TEST_F(Files, CopiesEveryByteFromTheOffsetOn) {
  std::string content(300000, '\0');
  for (size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>(i * 7);
  const int from = open(write("big", content).c_str(), O_RDONLY);
  ASSERT_GE(from, 0);
  char skipped[10];
  ASSERT_EQ(read(from, skipped, sizeof skipped), 10);
  const std::string target = root_ + "/copy";
  const int to = open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
  ASSERT_GE(to, 0);
  EXPECT_EQ(copy_contents(from, to), 0);
  close(from);
  close(to);
  std::ifstream in(target, std::ios::binary);
  const std::string copied((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(copied, content.substr(10));

  // A descriptor that cannot be written reports the write's errno.
  const int again = open((root_ + "/big").c_str(), O_RDONLY);
  const int read_only = open(target.c_str(), O_RDONLY);
  EXPECT_EQ(copy_contents(again, read_only), EBADF);
  close(again);
  close(read_only);
}

// A file size limit cuts a write short and fails the next one: the rest is written after the short write,
// up to the limit, and the failing write's errno comes back. Run in a child, whose limit is its own.
TEST_F(Files, WritesOnAfterAShortWriteAndReportsTheFailure) {
  const std::string target = root_ + "/limited";
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{1000, 1000};
    const int fd = open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
    if (fd < 0 || setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(100);
    if (write_all(fd, std::string(600, 'a')) != 0) _exit(101);
    _exit(write_all(fd, std::string(600, 'b')));
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), EFBIG);
  std::ifstream in(target, std::ios::binary);
  const std::string written((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(written, std::string(600, 'a') + std::string(400, 'b'));
}

}  // namespace
}  // namespace quorvane
