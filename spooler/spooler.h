// The spooler: delivers each received job: copied into its printer's folder, opened with an application,
// or printed on a CUPS destination.
#pragma once

#include <cstdint>
#include <functional>

#include "core/component.h"
#include "core/os.h"
#include "model/job.h"
#include "model/printer.h"
#include "service_link/print_completion.h"

namespace quorvane {

/// The process-wide component that delivers print jobs.
class spooler : public component {
 public:
  /// Told the outcome of `deleteJob`: 0, or the status of the failed step.
  using delete_completion = std::function<void(int32_t error)>;

  /// The spool folder; empty before a successful first phase.
  virtual wide_string spoolFolder() const = 0;

  /// `base` followed by "-" and the whole seconds since the system started, at most 259 characters.
  virtual wide_string makeFileName(const wide_string& base) = 0;

  /// Delivers `job` as `printer` says: kept in the printer's folder, or in the default folder when its folder
  /// is "Default" and it neither opens nor prints (see document_folder.h); a job opened without a printer's
  /// folder is opened as a copy in the spool folder, since the service removes its file once answered. Calls
  /// `completion` exactly once on the run loop's thread with (status, job state, platform job id): before
  /// returning, except for work that runs on a worker (a CUPS print, or waiting for the desktop's opener),
  /// whose completion is posted to the main run loop.
  virtual void print(model::printer_ptr printer, model::job_ptr job, print_completion completion) = 0;

  /// Cancels and purges the CUPS job of `job` when `printer` prints on CUPS and the job has a CUPS id; calls
  /// `done` exactly once on the run loop's thread, with 0 or the status of the failed step.
  virtual void deleteJob(model::printer_ptr printer, model::job_ptr job, delete_completion done) = 0;

  /// The spooler, initialised on demand (a failed first phase is retried at every access).
  static spooler& shared();
};

}  // namespace quorvane
