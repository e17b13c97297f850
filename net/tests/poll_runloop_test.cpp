#include "net/poll_runloop.h"

#include <atomic>
#include <thread>

#include <gtest/gtest.h>

#include "net/tests/runloop_contract.h"
#include "test_support/event_bound.h"

namespace quorvane {
namespace {

struct poll_loop_env {
  poll_runloop poll_loop;
  runloop& loop() { return poll_loop; }
  bool spin_until(const std::function<bool()>& done, int timeout_ms) {
    return poll_loop.run_until(done, std::chrono::milliseconds(timeout_ms));
  }
  void spin_for(int ms) {
    poll_loop.run_until([] { return false; }, std::chrono::milliseconds(ms));
  }
};

}  // namespace

namespace runloop_contract {
INSTANTIATE_TYPED_TEST_SUITE_P(Poll, RunloopContract, poll_loop_env);
}

namespace {

TEST(PollRunloop, StopFromAnotherThreadEndsRun) {
  poll_runloop loop;
  ASSERT_TRUE(loop.valid());
  std::atomic<bool> ran{false};
  loop.post([&] { ran = true; });
  std::thread stopper([&] { loop.stop(); });
  loop.run();
  stopper.join();
  // The stop may arrive before or after the item's round; either way run returned, and the item runs.
  loop.run_until([&] { return ran.load(); }, testing_support::event_bound);
  EXPECT_TRUE(ran);
}

TEST(PollRunloop, RunOnceTimesOutWithNothingToDo) {
  poll_runloop loop;
  EXPECT_EQ(loop.run_once(/*timeout_ms=*/10), 0);
}

}  // namespace
}  // namespace quorvane
