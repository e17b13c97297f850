// The run loop of the thread that owns sockets, connections and records: watched sockets and posted work.
#pragma once

#include <cstdint>
#include <functional>

#include "core/ref_counted.h"

namespace quorvane {

class socket;

/// The event code of a watched socket with input waiting, or whose peer closed or failed.
inline constexpr int32_t event_readable = 4;

/// The event code of a watched socket that can take more output (only while `want_writable` asked for it).
inline constexpr int32_t event_writable = 8;

/// Watches sockets and runs posted work on its own thread.
class runloop {
 public:
  /// Called on the loop's thread when a watched socket needs attention: the socket, the event code
  /// (`event_readable` for data or close, `event_writable` for room to write) and the context given to
  /// `watch`.
  using handler = void (*)(smart_ptr<socket> s, int32_t event, void* context);

  virtual ~runloop() = default;

  /// Watches `s` for reading and closing; a second call for the same socket (the same object, or one with the
  /// same handle) replaces the mask, handler and context of its entry. Makes the socket non-blocking. Returns
  /// true.
  virtual bool watch(smart_ptr<socket> s, int32_t mask, handler h, void* context) = 0;

  /// Stops watching `s` and drops the loop's reference; does nothing when it is not watched.
  virtual void unwatch(smart_ptr<socket> s) = 0;

  /// While `wanted`, calls the handler of the watched socket `s` with `event_writable` each time it can take
  /// more output; false stops that (as does unwatching). Does nothing when `s` is not watched.
  virtual void want_writable(const socket* s, bool wanted) = 0;

  /// While not `wanted`, the handler of the watched socket `s` no longer hears of input waiting (a loop may
  /// still report the peer's hang-up or failure as `event_readable`); true, as every new watch starts, asks
  /// again. Does nothing when `s` is not watched.
  virtual void want_readable(const socket* s, bool wanted) = 0;

  /// Queues `work` to run on the loop's thread, after the items posted before it, outside any lock.
  /// May be called from any thread; never runs the item at once.
  virtual void post(std::function<void()> work) = 0;
};

/// The run loop of the program's main thread, or null while there is none.
runloop* main_runloop();

/// Records the main run loop (null forgets it).
void set_main_runloop(runloop* loop);

}  // namespace quorvane
