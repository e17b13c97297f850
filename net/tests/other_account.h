// A local account other than the test's own, made with useradd for one test and removed afterwards, and a
// way to run code as that account in a child process.
#pragma once

#include <grp.h>
#include <pwd.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <functional>
#include <string>

#include <gtest/gtest.h>

namespace quorvane::testing {

/// Makes the account in `SetUp` and removes it in `TearDown`; a test that cannot have one is skipped with
/// the reason.
class other_account_test : public ::testing::Test {
 protected:
  void SetUp() override {
    if (::geteuid() != 0) GTEST_SKIP() << "making another account needs root (useradd); run as root to check";
    name_ = "qvother" + std::to_string(::getpid());
    const std::string add = "useradd --no-create-home --shell /usr/sbin/nologin " + name_ + " 2>/dev/null";
    if (std::system(add.c_str()) != 0) GTEST_SKIP() << "useradd could not make account '" << name_ << "'";
    made_ = true;
    const passwd* account = ::getpwnam(name_.c_str());
    if (!account) GTEST_SKIP() << "account '" << name_ << "' was made but cannot be looked up";
    uid_ = account->pw_uid;
    gid_ = account->pw_gid;
  }

  void TearDown() override {
    if (made_) std::system(("userdel " + name_ + " 2>/dev/null").c_str());
  }

  /// Runs `work` in a child process that has become the other account; returns the child's id (reap it
  /// with `wait_for`). The child ends with `work`'s result as its exit status, or is killed after 20 s. It
  /// inherits the caller's open sockets: make those it must not hold after the call.
  pid_t run_as_other(const std::function<int()>& work) const {
    const pid_t child = ::fork();
    if (child != 0) return child;
    // A child that waits for ever on a test gone wrong must not hold the run up.
    ::alarm(20);
    if (::setgroups(0, nullptr) != 0 || ::setgid(gid_) != 0 || ::setuid(uid_) != 0) ::_exit(120);
    ::_exit(work());
  }

  /// Waits for `child` and returns its exit status (-1 when it did not exit normally).
  static int wait_for(pid_t child) {
    int status = 0;
    if (::waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
  }

  /// The other account's user id.
  uid_t uid() const { return uid_; }

 private:
  std::string name_;
  bool made_ = false;
  uid_t uid_ = 0;
  gid_t gid_ = 0;
};

}  // namespace quorvane::testing
