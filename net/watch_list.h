// The bookkeeping every run loop shares: the list of watched sockets and the queue of posted work. Each loop
// adds only its way of waiting (poll, a toolkit's notifiers) and of being woken.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <vector>

#include "core/runloop.h"
#include "net/socket.h"

namespace quorvane {

/// The watched sockets of one run loop, each with its mask, handler and context. Belongs to the loop's
/// thread; not locked.
class watch_list {
 public:
  struct entry {
    smart_ptr<socket> watched;
    int32_t mask;
    runloop::handler on_event;
    void* context;
    bool writable_wanted = false;  // the handler also hears `event_writable`
    bool readable_wanted = true;   // the handler hears of input waiting (a failure it always hears)
  };

  /// What `watch` did with a socket.
  enum class watch_outcome {
    rejected,  // a null socket: nothing changed
    replaced,  // an entry matched: its mask, handler and context were replaced
    added,     // a new entry was appended
  };

  /// Watches `s`: an entry for the same object, or for another object with the same open handle, gets the
  /// new mask, handler and context; otherwise `s` is appended. Either way the socket's open handle is made
  /// non-blocking (a closed socket watched earlier may have been reopened since). Returns `rejected`
  /// (nothing changed) for a null socket.
  watch_outcome watch(smart_ptr<socket> s, int32_t mask, runloop::handler h, void* context);

  /// Removes the entry of `s` (same object or same open handle) and returns the socket it held, so the
  /// caller can release what it attached to it; null when there was none.
  smart_ptr<socket> unwatch(const socket* s);

  /// The entry for `s` (same object, or both handles open and equal), or null.
  const entry* find(const socket* s) const;

  /// Sets whether the entry of `s` (same object or same open handle) hears `event_writable`. Returns the
  /// entry, or null when `s` is not watched.
  const entry* want_writable(const socket* s, bool wanted);

  /// Sets whether the entry of `s` (same object or same open handle) hears of input waiting. Returns the
  /// entry, or null when `s` is not watched.
  const entry* want_readable(const socket* s, bool wanted);

  /// Calls the handler of the first entry whose socket now has `handle` with `event`; an `event_writable`
  /// reaches only an entry that still wants it. Returns false when no handler was called.
  bool notify(int handle, int32_t event = event_readable) const;

  /// The entries, in the order they were added.
  const std::vector<entry>& entries() const { return entries_; }

  /// The number of watched sockets.
  size_t size() const { return entries_.size(); }

  /// Forgets every entry and drops their references.
  void clear() { entries_.clear(); }

 private:
  /// The index of the entry for `s` under the matching rule (same object, or both handles open and equal), or
  /// `size()` when none.
  size_t index_of(const socket* s) const;

  std::vector<entry> entries_;
};

/// Work posted to a run loop from any thread, run in order on the loop's thread.
class work_queue {
 public:
  /// Appends `work` behind the items already queued; callable from any thread.
  void push(std::function<void()> work);

  /// Takes items out one at a time under the lock and runs each outside it, until the queue is empty, so an
  /// item may post more work, which runs in this same drain. Returns how many ran.
  int drain();

  /// Destroys the items never run, outside the lock (their captures may post).
  void clear();

 private:
  std::mutex lock_;
  std::deque<std::function<void()>> items_;  // guarded by lock_
};

}  // namespace quorvane
