// The answer to one "print" request from the print service.
#pragma once

#include <cstdint>
#include <functional>

namespace quorvane {

/// Job states, numbered as the IPP job-state attribute numbers them.
enum job_state : int32_t {
  job_state_pending = 3,
  job_state_processing = 5,
  job_state_canceled = 7,
  job_state_aborted = 8,
  job_state_completed = 9,
};

/// Answers one "print" request with (status, job state, platform job id): status 0 on success, else an
/// error code (errno, a CUPS status, or -1 for a failure without one).
using print_completion = std::function<void(int32_t status, int32_t state, int32_t platform_job_id)>;

}  // namespace quorvane
