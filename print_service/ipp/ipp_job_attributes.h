// The job attributes a device sends, checked before PAPPL reads them. PAPPL 1.3.1 trusts the shape of the
// collections it imports into a job: a "media-col" whose "media-size" member has no value, or whose
// "media-source" is an integer, makes its media import read through a null pointer (on the device's
// connection when the job's options are made, and again on the job's thread). Send-Document copies the
// job attributes of its own request into the job without PAPPL checking any of them.
#pragma once

#include <cups/cups.h>

#include <string>

#include "model/values.h"

namespace quorvane::print_service {

/// The first attribute of `request` (any group) that PAPPL must not see: a collection with a member
/// without a value, a repeated member or nesting deeper than IPP needs, a "media-col" or "finishings-col"
/// whose members PAPPL reads with another type or value than it can take, or a "copies" that is not one
/// integer from 1 to model::max_copies (PAPPL advertises copies-supported 1-999, 1-1 for raster,
/// and checks the first "copies" of Print-Job, Validate-Job and Create-Job, but not a second one in another
/// group nor the job attributes of Send-Document). Null when there is none; otherwise `reason` says what is
/// wrong, for the device ("the member media-size has no value"). Names are compared without regard to case,
/// as libcups finds them.
ipp_attribute_t* find_unsafe_job_attribute(ipp_t* request, std::string& reason);

}  // namespace quorvane::print_service
