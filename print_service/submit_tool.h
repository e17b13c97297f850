// `quorvane-service submit`: queues one document with the running service over its JSON-RPC port.
#pragma once

#include <cstdio>

#include "print_service/service_options.h"

namespace quorvane::print_service {

/// Exit statuses of `submit`.
enum submit_exit : int {
  submit_ok = 0,
  submit_job_failed = 1,  // --wait: the job ended with a status other than 0
  submit_bad_input = 2,   // the command line or the document
  submit_no_service = 3,  // nothing answers on the port, or it closed before answering
  submit_refused = 4,     // the service refused the job (unknown printer, unreadable document, ...)
};

/// Submits the document and, with --wait, waits for its end, writing the outcome to `out` as
/// "status S, state T, job id J" and errors to `err`. Returns a `submit_exit` value.
int run_submit(const submit_options& options, std::FILE* out, std::FILE* err);

}  // namespace quorvane::print_service
