// How a CUPS failure becomes the status of a print completion: the one place that decides it.
#pragma once

#include <cups/cups.h>

#include <cstdint>

namespace quorvane {

/// The status reported for a failed CUPS call, read right after the call on the same thread:
///  - the IPP status code of `cupsLastError()` when it is an error (0x0400 and above: 1030
///    client-error-not-found for a destination or job that does not exist, 1283
///    server-error-service-unavailable when cupsd cannot be reached, ...). These never collide with the
///    errno values used for file failures, which are all below 0x0400;
///  - otherwise (a failure that libcups did not record as an IPP error) `unrecorded`: -1 unless the caller
///    knows better (a destination that cupsGetNamedDest did not find is 1030, client-error-not-found).
/// Failures of our own libraries (poppler, cairo, the image library) are -1, and so are the jobs the console
/// refuses (over the render budget, more than 999 copies); file failures are errno.
inline int32_t cups_failure_status(int32_t unrecorded = -1) {
  const ipp_status_t status = cupsLastError();
  if (status >= IPP_STATUS_ERROR_BAD_REQUEST) return static_cast<int32_t>(status);
  return unrecorded;
}

}  // namespace quorvane
