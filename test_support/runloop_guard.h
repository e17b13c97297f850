// Test helper: a run loop installed as the main one for the life of an object.
#pragma once

#include "core/runloop.h"

namespace quorvane::testing_support {

/// Makes `loop` the main run loop and, at destruction, leaves no main run loop behind, so that nothing a
/// later test starts posts into a loop that is gone.
class runloop_guard {
 public:
  /// Installs `loop` as the main run loop.
  explicit runloop_guard(runloop& loop) { set_main_runloop(&loop); }
  /// Clears the main run loop.
  ~runloop_guard() { set_main_runloop(nullptr); }
  /// Not copyable.
  runloop_guard(const runloop_guard&) = delete;
  /// Not assignable.
  runloop_guard& operator=(const runloop_guard&) = delete;
};

}  // namespace quorvane::testing_support
