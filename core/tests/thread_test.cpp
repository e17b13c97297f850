#include "core/thread.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <vector>

#include <gtest/gtest.h>

#include "core/log.h"
#include "core/runloop.h"

namespace quorvane {
namespace {

// A run loop with only a work queue, drained by the test's thread.
class queue_loop final : public runloop {
 public:
  bool watch(smart_ptr<socket>, int32_t, handler, void*) override { return true; }
  void unwatch(smart_ptr<socket>) override {}
  void want_writable(const socket*, bool) override {}
  void want_readable(const socket*, bool) override {}
  void post(std::function<void()> work) override {
    std::lock_guard lock(mutex_);
    queue_.push_back(std::move(work));
    ready_.notify_one();
  }
  // Runs items until `count` have run.
  void run(int count) {
    for (int ran = 0; ran < count; ++ran) {
      std::unique_lock lock(mutex_);
      ready_.wait(lock, [&] { return !queue_.empty(); });
      auto item = std::move(queue_.front());
      queue_.pop_front();
      lock.unlock();
      item();
    }
  }

 private:
  std::mutex mutex_;
  std::condition_variable ready_;
  std::deque<std::function<void()>> queue_;
};

class counted final : public ref_counted_object {
 public:
  explicit counted(int* deletions) : deletions_(deletions) {}
  ~counted() override { ++*deletions_; }
  int* deletions_;
};

TEST(Thread, WorkRunsOnAWorkerAndTheCompletionOnTheLoop) {
  queue_loop loop;
  const auto loop_thread = std::this_thread::get_id();
  std::thread::id worker_thread, completion_thread;
  int deletions = 0;
  smart_ptr<counted> payload(new counted(&deletions));
  ASSERT_TRUE(run_in_background(
      loop, [&, payload] { worker_thread = std::this_thread::get_id(); },
      [&, payload] { completion_thread = std::this_thread::get_id(); }));
  payload.reset();
  loop.run(1);
  EXPECT_NE(worker_thread, loop_thread);
  EXPECT_EQ(completion_thread, loop_thread);
  EXPECT_EQ(deletions, 1) << "captured objects are released once the completion has run";
}

TEST(Thread, ItemsPostedFromAWorkerRunInOrder) {
  queue_loop loop;
  std::vector<int> order;
  thread* raw = new thread;
  smart_ptr<thread> worker(raw);
  ASSERT_TRUE(worker->start([&] {
    for (int i = 1; i <= 3; ++i) loop.post([&order, i] { order.push_back(i); });
  }));
  loop.run(3);
  worker->join();
  EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
}

TEST(Thread, ASecondStartBeforeTheJoinIsRefusedAndTheFirstWorkRuns) {
  smart_ptr<thread> worker(new thread);
  std::mutex gate;
  std::unique_lock hold(gate);
  int first = 0, second = 0;
  ASSERT_TRUE(worker->start([&] {
    std::lock_guard wait(gate);
    ++first;
  }));
  set_log_level(log_none);
  EXPECT_FALSE(worker->start([&] { ++second; })) << "the first thread is still running";
  set_log_level(log_information);
  hold.unlock();
  worker->join();
  EXPECT_EQ(first, 1);
  EXPECT_EQ(second, 0);

  // Once joined, the object may run new work.
  ASSERT_TRUE(worker->start([&] { ++second; }));
  worker->join();
  EXPECT_EQ(second, 1);
}

TEST(Thread, ManyJobsEachCompleteOnce) {
  queue_loop loop;
  int completions = 0;
  for (int i = 0; i < 50; ++i)
    ASSERT_TRUE(run_in_background(
        loop, [] {}, [&] { ++completions; }));
  loop.run(50);
  EXPECT_EQ(completions, 50);
}

}  // namespace
}  // namespace quorvane
