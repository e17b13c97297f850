// Worker threads: one work function each, with the completion posted back to a run loop.
#pragma once

#include <functional>
#include <thread>
#include <utility>

#include "core/ref_counted.h"

namespace quorvane {

class runloop;

/// A counted worker that runs one work function on a new operating-system thread.
class thread final : public ref_counted_object {
 public:
  /// An idle worker: no thread, no work.
  thread() = default;

  /// Waits for a started thread that was not joined (unless called on that thread, which is then detached).
  ~thread() override;

  /// Stores `work` (replacing any stored one) and starts a thread that runs it once. Returns false when no
  /// thread could be created (the work then stays stored and never runs), and when a thread started earlier
  /// has not been joined (its work is still in use, so nothing is replaced); both are logged.
  bool start(std::function<void()> work);

  /// Waits for the thread to return from its work, if it was started and not yet joined.
  void join();

 private:
  friend bool run_in_background(runloop&, std::function<void()>, std::function<void()>);

  /// Takes the stored work out (to destroy it on the caller's thread).
  std::function<void()> take_work() { return std::exchange(work_, nullptr); }

  std::thread handle_;
  std::function<void()> work_;
};

/// Runs `work` on a new worker thread, then `completion` on `loop`'s thread. Returns false (and runs
/// neither) when no thread could be created.
///
/// The worker never copies a counted object: `completion` and everything it captures are moved to the loop,
/// so counts change only on the loop's thread. The loop releases the worker after joining it, which takes no
/// longer than the worker's return from the posting call.
bool run_in_background(runloop& loop, std::function<void()> work, std::function<void()> completion);

}  // namespace quorvane
