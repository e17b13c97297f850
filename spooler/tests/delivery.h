// Shared pieces of the delivery tests: records, a recorded completion and the main run loop.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "core/runloop.h"
#include "model/job.h"
#include "model/printer.h"
#include "net/poll_runloop.h"
#include "service_link/print_completion.h"

namespace quorvane::test {

/// What a print completion was called with.
struct outcome {
  int calls = 0;
  int32_t status = 0, state = 0, id = 0;
  /// The three values as text, for messages.
  std::string text() const {
    return "(" + std::to_string(status) + ", " + std::to_string(state) + ", " + std::to_string(id) + ")";
  }
};

/// A completion that records into `o`.
inline print_completion recorder(outcome& o) {
  return [&o](int32_t status, int32_t state, int32_t id) {
    ++o.calls;
    o.status = status;
    o.state = state;
    o.id = id;
  };
}

/// A printer with the given action, folder and parameter.
inline model::printer_ptr make_printer(int32_t action, const std::string& directory = {},
                                       const std::string& param = {}, const std::string& name = {}) {
  model::printer_ptr p = make_counted<model::printer>();
  p->setAction(action);
  p->setDirectory(wide_string::from_narrow(directory));
  p->setActionParam(wide_string::from_narrow(param));
  p->setName(wide_string::from_narrow(name));
  return p;
}

/// A job for the file `path` of MIME type `format`.
inline model::job_ptr make_job(const std::string& path, const std::string& format,
                               const std::string& title = "job") {
  model::job_ptr j = make_counted<model::job>();
  j->setFilename(wide_string::from_narrow(path));
  j->setFormat(wide_string::from_narrow(format));
  j->setName(wide_string::from_narrow(title));
  return j;
}

/// Installs a poll run loop as the main run loop for one test.
class main_loop_test : public ::testing::Test {
 protected:
  void SetUp() override { set_main_runloop(&loop_); }
  void TearDown() override {
    // Posted work still outstanding (a worker's completion) runs before the loop goes.
    loop_.run_until([] { return false; }, std::chrono::milliseconds(50));
    set_main_runloop(nullptr);
  }
  /// Runs the loop until `o` has been called or `seconds` have passed; true when it was called.
  bool wait_for(const outcome& o, int seconds = 60) {
    return loop_.run_until([&o] { return o.calls > 0; }, std::chrono::seconds(seconds));
  }
  poll_runloop loop_;
};

}  // namespace quorvane::test
