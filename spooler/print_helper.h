// Printing in a program of its own: the CUPS, PDF and image libraries are loaded only by `quorvane-print`,
// started for each job that prints on a CUPS destination (and each CUPS job removed), so the console never
// holds them, and a document that crashes a renderer ends the helper, not the console.
//
// The exchange: the console writes one JSON request to the helper's standard input and closes it; the helper
// answers with one JSON reply on its standard output and exits with 0. Its log lines go to the standard
// error it shares with the console.
#pragma once

#include <cstdint>
#include <string>

#include <json/value.h>

#include "model/job.h"
#include "model/printer.h"

namespace quorvane {

/// What printing one job decided: the print completion's (status, job state, platform job id), and what
/// goes back into the job record.
struct print_outcome {
  int32_t status = -1;
  int32_t state = model::job_state_aborted;
  int32_t platform_id = 0;
  int32_t orientation = 0;       ///< the orientation printed (an image may turn the page)
  int32_t delivery_failure = 0;  ///< why it failed (delivery_failure.h), 0 on success
};

/// Whether the console prints documents of the MIME type `format` (PDF, JPEG, PNG; compared exactly).
bool printable_format(const std::string& format);

/// The request to print `job` on `printer` (both records whole), logging at `log_level`.
Json::Value print_request(const model::printer& printer, const model::job& job, int32_t log_level);

/// Reads the records of a print request. Returns false when either is missing or not an object.
bool read_print_request(const Json::Value& request, model::printer_ptr& printer, model::job_ptr& job);

/// The request to cancel and purge the CUPS job `job_id` of the destination `printer` as `user`.
Json::Value purge_request(const std::string& printer, int32_t job_id, const std::string& user,
                          int32_t log_level);

/// The reply carrying `outcome`.
Json::Value outcome_reply(const print_outcome& outcome);

/// Reads a reply into `outcome`. Returns false, `outcome` untouched, when a member is missing or no 32-bit
/// integer.
bool read_outcome_reply(const Json::Value& reply, print_outcome& outcome);

/// The helper program: `libexec/quorvane/quorvane-print` beside the running program's `bin/` (installed, and
/// the build tree's layout for `quorvane`), else the one in the build tree this library was built in.
std::string print_helper_path();

/// Runs `helper` with the argument `mode` ("print" or "purge"), writes `request` and reads its reply. Blocks
/// until the helper exits: run on a worker. Returns true with `reply` set when the helper exited with 0 and
/// answered with a JSON object; else false with the failure logged ("Unable to run the print helper
/// '...': ..."): it cannot be started, it ended by a signal or with another status, or its answer is no JSON.
bool run_print_helper(const std::string& helper, const std::string& mode, const Json::Value& request,
                      Json::Value& reply);

}  // namespace quorvane
