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
#include <memory>
#include <string>

#include <gtest/gtest.h>

namespace quorvane::testing {

/// Another account for the lifetime of the object: made with useradd, removed with userdel.
class other_account {
 public:
  /// Makes the account "qv<tag><pid>" with the full name `full_name` (none when empty); `made` tells whether
  /// that worked and `why_not` why it did not.
  explicit other_account(const std::string& tag = "other", const std::string& full_name = "") {
    if (::geteuid() != 0) {
      why_not_ = "making another account needs root (useradd); run as root to check";
      return;
    }
    name_ = "qv" + tag + std::to_string(::getpid());
    const std::string comment = full_name.empty() ? std::string() : " --comment '" + full_name + "'";
    const std::string add =
        "useradd --no-create-home --shell /usr/sbin/nologin" + comment + " " + name_ + " 2>/dev/null";
    if (std::system(add.c_str()) != 0) {
      why_not_ = "useradd could not make account '" + name_ + "'";
      return;
    }
    made_ = true;
    const passwd* account = ::getpwnam(name_.c_str());
    if (!account) {
      why_not_ = "account '" + name_ + "' was made but cannot be looked up";
      return;
    }
    uid_ = account->pw_uid;
    gid_ = account->pw_gid;
    usable_ = true;
  }
  /// Removes the account.
  ~other_account() {
    if (made_) std::system(("userdel " + name_ + " 2>/dev/null").c_str());
  }
  other_account(const other_account&) = delete;
  other_account& operator=(const other_account&) = delete;

  /// True when the account exists and can be used.
  bool made() const { return usable_; }
  /// Why there is no account to use.
  const std::string& why_not() const { return why_not_; }
  /// The account's user id.
  uid_t uid() const { return uid_; }
  /// The account's login name.
  const std::string& name() const { return name_; }

  /// Runs `work` in a child process that has become the account; returns the child's id (reap it with
  /// `wait_for`). The child ends with `work`'s result as its exit status, or is killed after 20 s. It
  /// inherits the caller's open sockets: make those it must not hold after the call.
  pid_t run_as(const std::function<int()>& work) const {
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

 private:
  std::string name_;
  std::string why_not_;
  bool made_ = false;
  bool usable_ = false;
  uid_t uid_ = 0;
  gid_t gid_ = 0;
};

/// A test with another account; skipped with the reason when none can be made.
class other_account_test : public ::testing::Test {
 protected:
  void SetUp() override {
    account_ = std::make_unique<other_account>();
    if (!account_->made()) GTEST_SKIP() << account_->why_not();
  }
  void TearDown() override { account_.reset(); }

  /// See `other_account::run_as`.
  pid_t run_as_other(const std::function<int()>& work) const { return account_->run_as(work); }
  /// See `other_account::wait_for`.
  static int wait_for(pid_t child) { return other_account::wait_for(child); }
  /// The other account's user id.
  uid_t uid() const { return account_->uid(); }

 private:
  std::unique_ptr<other_account> account_;
};

}  // namespace quorvane::testing
