// The run loop of the console's main thread over the Qt event loop.
#pragma once

#include <QObject>
#include <QPointer>
#include <QSocketNotifier>

#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "core/runloop.h"
#include "net/socket.h"

namespace quorvane {

/// A `runloop` served by the Qt event loop of the thread that created it: one read notifier per watched
/// socket, posted work run by queued calls. `watch`, `unwatch` and the handlers belong to that thread;
/// `post` may be called from any thread.
class qt_runloop final : public runloop {
 public:
  /// An empty loop bound to the calling thread's event loop.
  qt_runloop();

  /// Drops every watched socket's reference and destroys the items never run.
  ~qt_runloop() override;

  qt_runloop(const qt_runloop&) = delete;
  qt_runloop& operator=(const qt_runloop&) = delete;

  /// Watches `s` for input and closing, making it non-blocking. An entry for the same object, or for another
  /// object with the same open handle, gets the new mask, handler and context instead. Returns true (false
  /// only for a null socket).
  bool watch(smart_ptr<socket> s, int32_t mask, handler h, void* context) override;

  /// Forgets the entry of `s` (same object or same open handle), its notifier and its reference; does nothing
  /// when none.
  void unwatch(smart_ptr<socket> s) override;

  /// Queues `work` behind the items already posted; it runs from the event loop, never at once.
  void post(std::function<void()> work) override;

  /// The number of watched sockets.
  size_t watched_count() const { return entries_.size(); }

 private:
  struct entry {
    smart_ptr<socket> watched;
    int32_t mask;
    handler on_event;
    void* context;
    std::unique_ptr<QSocketNotifier> notifier;
  };

  /// The entry for `s` under the matching rule (same object, or both handles open and equal), or end.
  std::vector<entry>::iterator find_entry(const socket* s);

  /// Calls the handler of the first entry whose socket now has `handle`; nothing when there is none.
  void notify(int handle);

  /// Takes posted items out one at a time under `queue_lock_` and runs each outside it, until none is left.
  void drain_queue();

  std::vector<entry> entries_;
  std::mutex queue_lock_;
  std::deque<std::function<void()>> queue_;  // guarded by queue_lock_
  QObject receiver_;                         // the target of the queued drains; lives on the loop's thread
};

}  // namespace quorvane
