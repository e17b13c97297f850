// Process-wide components with a two-phase start-up, each initialised on demand through its accessor.
#pragma once

#include <cstdint>

namespace quorvane {

/// Base of the process-wide singleton services.
class component {
 public:
  component() = default;
  component(const component&) = delete;
  component& operator=(const component&) = delete;
  /// Leaves the process-wide list, so the list never points at a destroyed component.
  virtual ~component();

  /// First phase: does the set-up once; returns the status afterwards (0 success, else failure, and the
  /// next access through the accessor tries again).
  virtual int32_t applicationWillInitialize() = 0;

  /// Second phase: returns the status; a component whose status is not 0 does nothing more.
  virtual int32_t applicationDidInitialize() = 0;

  /// 0 once the first phase has succeeded; 1 at start.
  int32_t status() const { return status_; }

  /// The next component in the process-wide list (null in the last one).
  component* next() const { return next_; }

  /// Pushes this component at the head of the process-wide list; a registered component is not pushed again.
  void register_component();

  /// The first component of the process-wide list, or null.
  static component* head();

  /// Forgets every registration: the list becomes empty (tests, and process tear-down).
  static void clear_list();

 protected:
  int32_t status_ = 1;

 private:
  component* next_ = nullptr;
  bool registered_ = false;
};

/// Walks the list from its head calling `applicationWillInitialize` on each, then again calling
/// `applicationDidInitialize`; results are ignored.
void run_component_lifecycle();

/// Accessor rule: initialises `c` when its status is not 0, and returns it whatever the outcome.
template <class C>
C& initialized(C& c) {
  if (c.status() != 0) c.applicationWillInitialize();
  return c;
}

}  // namespace quorvane
