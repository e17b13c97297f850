// Following the CUPS scheduler's queues while the service runs: a worker thread holds an IPP subscription
// to printer events on the scheduler and fetches its notifications; after each batch of events it reads
// the queues again and hands them to the run loop. Nothing here blocks the run loop's thread.
#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "core/runloop.h"
#include "core/thread.h"
#include "print_service/cups/cups_printers.h"

namespace quorvane::print_service {

/// How the watcher learns of changes.
enum class cups_watch_mode : int32_t {
  connecting = 0,    // not yet (or no longer) talking to the scheduler
  subscription = 1,  // an IPP subscription with pull notifications
  polling = 2,       // the scheduler refused subscriptions: the queues are read again every poll period
};

/// Timing of the watcher; the defaults suit a running service, tests may shorten them.
struct cups_watch_timing {
  std::chrono::milliseconds fetch_interval{1000};  // between two Get-Notifications requests
  std::chrono::milliseconds poll_interval{5000};   // between two readings when subscriptions are refused
  std::chrono::milliseconds retry_interval{2000};  // between two attempts to reach an unreachable scheduler
  int32_t lease_seconds = 300;                     // the subscription's lease, renewed at half of it
};

/// Follows the scheduler's queues on a worker thread and reports them on a run loop.
class cups_watch {
 public:
  /// Called on the run loop's thread: `reachable` false (with no queues) once when the scheduler stops
  /// answering, else true with every queue after a change was noticed, after the scheduler answers again
  /// and once at the start.
  using listener = std::function<void(bool reachable, std::vector<cups_queue> queues)>;

  /// A watcher that will report on `loop` through `on_queues`; it does nothing before `start`.
  cups_watch(runloop& loop, listener on_queues, cups_watch_timing timing = {});

  /// Stops the worker (see `stop`).
  ~cups_watch();

  cups_watch(const cups_watch&) = delete;
  cups_watch& operator=(const cups_watch&) = delete;

  /// Starts the worker thread; `reachable` says whether the caller could read the queues just before (an
  /// outage is then logged and reported only once it is noticed). Returns false (logged) when the thread
  /// cannot be created or runs already.
  bool start(bool reachable);

  /// Asks the worker to end, cancels its subscription and waits for it (at most one request's time limit).
  /// Reports that were posted and not run yet are dropped. Must be called on the run loop's thread.
  void stop();

  /// How changes are learnt now (read from any thread).
  cups_watch_mode mode() const { return mode_.load(); }

 private:
  /// What the worker knows of the scheduler (its connection, subscription and timers); only the worker's
  /// thread touches it.
  struct link_state;

  /// How one turn of the worker ended.
  enum class turn {
    settled,      // the scheduler answered: wait for the next fetch or poll
    resubscribe,  // the subscription is gone: subscribe again at once
    lost,         // the scheduler did not answer: try again after the retry interval
  };

  /// The worker's body: turns until asked to stop, then gives the subscription back.
  void run();

  /// One turn: connect, subscribe (or poll), fetch the events, and read and report the queues when something
  /// changed.
  turn take_turn(link_state& link);

  /// Connects to the scheduler. Returns false when it cannot be reached.
  bool connect(link_state& link);

  /// Asks for a subscription; a refusal switches to polling (logged once). Returns false when the scheduler
  /// did not answer.
  bool subscribe(link_state& link);

  /// Fetches the subscription's events and renews its lease when due: `turn::settled`, `turn::resubscribe`
  /// when the subscription is gone, `turn::lost` (through `lose`) when the scheduler did not answer.
  turn follow_events(link_state& link, std::chrono::steady_clock::time_point now);

  /// Reads the queues and reports them. Returns false when the scheduler did not answer.
  bool read_and_report(link_state& link);

  /// Closes the connection after the scheduler stopped answering; `cause` is logged and the queues are
  /// withdrawn, once per outage. Returns `turn::lost`.
  turn lose(link_state& link, const char* cause);

  /// How long a subscription runs before its lease is renewed: half the lease, at least a second.
  std::chrono::seconds renewal_period() const {
    return std::chrono::seconds(std::max(timing_.lease_seconds / 2, 1));
  }

  /// Whether `stop` was called.
  bool stop_requested();

  /// Waits `pause` or until `stop` is called. Returns false when asked to stop.
  bool pause_for(std::chrono::milliseconds pause);

  /// Posts a report to the run loop unless the watcher was stopped meanwhile.
  void report(bool reachable, std::vector<cups_queue> queues);

  runloop& loop_;
  std::shared_ptr<listener> on_queues_;  // posted reports hold it weakly, so none runs after `stop`
  cups_watch_timing timing_;
  smart_ptr<thread> worker_;  // while the worker runs or until it is joined
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stop_requested_ = false;  // under mutex_
  bool reachable_at_start_ = true;
  std::atomic<cups_watch_mode> mode_{cups_watch_mode::connecting};
};

}  // namespace quorvane::print_service
