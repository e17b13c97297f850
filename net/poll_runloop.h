// The run loop of headless programs (the print service, tools, tests): poll() over the watched sockets and
// an eventfd that wakes it for posted work.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>

#include "core/runloop.h"
#include "net/socket.h"
#include "net/watch_list.h"

namespace quorvane {

/// A `runloop` driven by the thread that calls `run`, `run_once` or `run_until`. `watch`, `unwatch` and the
/// handlers belong to that thread; `post` and `stop` may be called from any thread.
class poll_runloop final : public runloop {
 public:
  /// Creates the wake-up eventfd; `valid` tells whether that worked (failure is logged).
  poll_runloop();

  /// Drops every watched socket's reference and destroys the items never run.
  ~poll_runloop() override;

  poll_runloop(const poll_runloop&) = delete;
  poll_runloop& operator=(const poll_runloop&) = delete;

  /// False when the wake-up eventfd could not be created: posted work would then never run.
  bool valid() const { return wake_handle_ >= 0; }

  /// Watches `s` for input and closing, making it non-blocking. An entry for the same object, or for another
  /// object with the same open handle, gets the new mask, handler and context instead. Returns true (false
  /// only for a null socket).
  bool watch(smart_ptr<socket> s, int32_t mask, handler h, void* context) override;

  /// Forgets the entry of `s` (same object or same open handle) and its reference; does nothing when none.
  void unwatch(smart_ptr<socket> s) override;

  /// Adds writability to what the next waits of `s`'s entry look for (false removes it); does nothing when
  /// `s` is not watched.
  void want_writable(const socket* s, bool wanted) override;

  /// Leaves input out of (false) or adds it back to what the next waits of `s`'s entry look for; the peer's
  /// hang-up and errors are reported either way. Does nothing when `s` is not watched.
  void want_readable(const socket* s, bool wanted) override;

  /// Queues `work` behind the items already posted and wakes the loop; never runs it at once.
  void post(std::function<void()> work) override;

  /// Waits up to `timeout_ms` (-1: no limit) for a watched socket or posted work, then calls the handlers of
  /// the ready sockets and runs the posted items. Returns how many handlers and items ran (0 on timeout).
  int run_once(int timeout_ms);

  /// Runs rounds until `done` answers true or `timeout` has passed. Returns `done()`'s last answer.
  bool run_until(const std::function<bool()>& done, std::chrono::milliseconds timeout);

  /// Runs rounds until `stop` is called; the stop request is then consumed. Returns at once if already asked.
  void run();

  /// Asks `run` to return after the round in progress; callable from any thread.
  void stop();

  /// The number of watched sockets.
  size_t watched_count() const { return watches_.size(); }

 private:
  watch_list watches_;
  work_queue posted_;
  std::atomic<bool> stop_requested_{false};
  int wake_handle_ = -1;
};

}  // namespace quorvane
