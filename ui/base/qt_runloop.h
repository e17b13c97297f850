// The run loop of the console's main thread over the Qt event loop.
#pragma once

#include <QObject>
#include <QPointer>
#include <QSocketNotifier>

#include <functional>
#include <memory>
#include <unordered_map>

#include "core/runloop.h"
#include "net/socket.h"
#include "net/watch_list.h"

namespace quorvane {

/// A `runloop` served by the Qt event loop of the thread that created it: one read notifier per watched
/// socket (and a write notifier while it wants writability), posted work run by queued calls. `watch`,
/// `unwatch` and the handlers belong to that thread; `post` may be called from any thread.
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

  /// Enables (or disables) a write notifier for the watched socket `s`, made on first use; does nothing when
  /// `s` is not watched or is closed.
  void want_writable(const socket* s, bool wanted) override;

  /// Disables (or enables again) the read notifier of the watched socket `s`; does nothing when `s` is not
  /// watched or is closed.
  void want_readable(const socket* s, bool wanted) override;

  /// Queues `work` behind the items already posted; it runs from the event loop, never at once.
  void post(std::function<void()> work) override;

  /// The number of watched sockets.
  size_t watched_count() const { return watches_.size(); }

 private:
  /// The notifiers of one watched socket's handle.
  struct notifiers {
    std::unique_ptr<QSocketNotifier> read;
    std::unique_ptr<QSocketNotifier> write;  // made when writability is first wanted
  };
  using notifier_map = std::unordered_map<const socket*, notifiers>;

  /// Gives the watched socket `held` a read notifier for its current handle (none while it is closed),
  /// replacing those made for an earlier handle.
  void follow_handle(const socket* held);

  /// A notifier of `type` for `handle` that reports `event` to the watched socket's handler.
  std::unique_ptr<QSocketNotifier> make_notifier(int handle, QSocketNotifier::Type type, int32_t event);

  /// Disables the notifiers at `it`, forgets them and deletes them once control is back in the event loop.
  void drop_notifiers(notifier_map::iterator it);

  watch_list watches_;
  // The notifiers of each watched socket with an open handle, keyed by the socket its entry holds.
  notifier_map notifiers_;
  work_queue posted_;
  QObject receiver_;  // the target of the queued drains; lives on the loop's thread
};

}  // namespace quorvane
