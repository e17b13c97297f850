// Every way the delivery of a job can fail, each with the one sentence that tells the user what happened and
// what to do: one table that the log, and whatever shows a failed delivery, read.
#pragma once

#include <cstdint>
#include <span>

#include "model/job.h"

namespace quorvane {

/// Why a delivery failed. The numbers are held by `model::job::deliveryFailure` and never leave the console.
enum class delivery_failure : int32_t {
  none = 0,
  folder_not_writable,          ///< the folder refuses new files (permissions, a read-only file system)
  folder_full,                  ///< no room left on the folder's disk, or over the user's quota
  folder_missing,               ///< the folder, or the home folder the default folder is in, is not there
  folder_names_taken,           ///< every free name for the document in the folder is taken
  application_missing,          ///< the printer's application is gone or is not a program
  application_not_starting,     ///< the application exists but could not be started
  no_application_for_document,  ///< the desktop has no application for the document's kind
  printer_stopped,              ///< the CUPS printer is stopped or does not accept jobs
  printer_gone,                 ///< the CUPS printer no longer exists
  cups_not_running,             ///< the system's print service (CUPS) does not answer
  printer_refused,              ///< CUPS refused the job for another reason
  document_unreadable,          ///< the received document cannot be read or is damaged
  format_not_printable,         ///< a kind of document the console cannot print
  too_many_copies,              ///< more copies than one job may ask for
  too_many_pages,               ///< more rendered pages than one print document may hold
  document_too_large,           ///< a page or image over what the console decodes or renders at once
  unknown,                      ///< a failure of the console's own that fits none of the above
};

/// One row of the reason table.
struct delivery_reason {
  delivery_failure failure;
  const char* name;      ///< a short name for logs and tests
  const char* sentence;  ///< what happened and what the user can do, in plain words
};

/// The reason table, one row for every failure but `none`, in the order of the enumeration.
std::span<const delivery_reason> delivery_reasons();

/// The sentence for `failure`; the `unknown` row's for values outside the table, "" for `none`.
const char* reason_sentence(delivery_failure failure);

/// The failure that the errno `error` of writing a document into a folder stands for (`unknown` for an
/// errno that says nothing about the folder).
delivery_failure folder_failure_of(int32_t error);

/// The failure that the status of a failed CUPS call (cups_status_p.h: an IPP status code, or -1) stands
/// for.
delivery_failure cups_failure_of(int32_t status);

/// Why the delivery of `job` that ended with `status` failed: `none` for status 0, else what the spooler
/// recorded on the job, else what the status alone says (an errno, an IPP status code; `unknown` for -1).
delivery_failure failure_of(const model::job& job, int32_t status);

}  // namespace quorvane
