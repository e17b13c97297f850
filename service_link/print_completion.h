// The answer to one "print" request from the print service.
#pragma once

#include <cstdint>
#include <functional>

#include "model/values.h"

namespace quorvane {

/// Answers one "print" request with (status, job state (`model::job_state`), platform job id): status 0 on
/// success, else an error code (errno, a CUPS status, or -1 for a failure without one).
using print_completion = std::function<void(int32_t status, int32_t state, int32_t platform_job_id)>;

}  // namespace quorvane
