// The model manager: the component that creates the tables of every record at start-up.
#pragma once

#include "core/component.h"

namespace quorvane::model {

/// Creates the printer, job, device and proxy tables and the built-in paper sizes in its first phase.
class manager : public component {
 public:
  /// A manager that has not run its first phase (the process-wide one is `instance()`).
  manager() = default;

  /// The process-wide instance, not initialised.
  static manager& instance();
  /// The process-wide instance, initialised on demand.
  static manager& shared();

  /// Creates the tables (printer, job, device, proxy, in that order) through the database manager, then the
  /// built-in paper sizes; returns the status (0 once done, 1 when a table could not be created).
  int32_t applicationWillInitialize() override;
  /// Returns the status.
  int32_t applicationDidInitialize() override { return status_; }
};

}  // namespace quorvane::model
