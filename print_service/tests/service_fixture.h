// The fixture the tests of the running service share: the real quorvane-service with its state in a
// temporary folder, the poll() run loop as the main run loop, and the service's log printed when a test
// fails. The console or tool that talks to it is the deriving fixture's.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "net/poll_runloop.h"
#include "service_process.h"

namespace quorvane::print_service::testing {

/// The service of one test, started with `start_service`; it must end cleanly when the test ends.
class service_test : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(root_.path().empty());
    ASSERT_TRUE(loop_.valid());
    set_main_runloop(&loop_);
  }

  /// Stops the service (a deriving fixture first closes its own connections) and shows its log on failure.
  void TearDown() override {
    if (service_) {
      EXPECT_EQ(service_->stop(), 0) << "the service did not end cleanly";
    }
    set_main_runloop(nullptr);
    if (HasFailure() && service_) std::cerr << "--- service log\n" << read_file(service_->log_file());
  }

  /// Starts the service with its state in `data_folder`; `environment` adds NAME=VALUE entries for it.
  void start_service(const std::string& data_folder, std::vector<std::string> environment) {
    service_ = std::make_unique<service_process>(data_folder, std::move(environment));
    ASSERT_TRUE(service_->start()) << read_file(service_->log_file());
  }

  /// Runs the loop until `done` or `limit` has passed; in short rounds, because some conditions (a child
  /// process ending) do not wake the loop. After each round `between_rounds` runs.
  bool run_until(const std::function<bool()>& done, std::chrono::milliseconds limit = event_bound) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      loop_.run_until([&] { return done() || round_wanted(); }, std::chrono::milliseconds(10));
      between_rounds();
    }
    return true;
  }

  /// Whether a round should end early because there is work for `between_rounds`.
  virtual bool round_wanted() { return false; }

  /// Work a deriving fixture does between two rounds of the loop (answering the service, say).
  virtual void between_rounds() {}

  /// Writes `content` to the file `name` in the test's folder; its path.
  std::string document(const std::string& name, const std::string& content) {
    const std::string path = root_.path() + "/" + name;
    EXPECT_TRUE(write_file(path, content));
    return path;
  }

  temporary_folder root_;
  poll_runloop loop_;
  std::unique_ptr<service_process> service_;
};

}  // namespace quorvane::print_service::testing
