// What the IPP side hands the service's job queue: a device's job as a typed record, and the queue as the
// IPP side sees it. Free of PAPPL, so that the queue's side includes nothing of it.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include <json/json.h>

namespace quorvane::print_service {

/// The end of a queued job: the console's status, its job state and its platform job id.
using job_end_function = std::function<void(int32_t status, int32_t state, int32_t platform_id)>;

/// A job as a device sent it over IPP: what its job record says besides the members the queue fills
/// ("uuid", "filename", "deviceID", "state").
struct device_job {
  std::string printer_uuid;    // the printer it was sent to
  std::string device_address;  // the device's address; empty when PAPPL did not say
  std::string name;            // job-name, "untitled" without one
  std::string user;            // requesting-user-name, "anonymous" without one
  std::string format;          // the document's MIME type as the console gets it
  int32_t print_quality = 4;   // print-quality: 3 draft, 4 normal, 5 high
  int32_t first_page = 0;      // the first page range; 0 and 0 print every page
  int32_t last_page = 0;
  bool is_color = false;
  int32_t orientation = 3;  // orientation-requested
  int32_t duplex = 0;       // 0 one-sided, 1 long edge, 2 short edge
  int32_t copies = 1;
  bool fit_to_page = false;
  Json::Value media;  // the paper as the printer's record describes it, with the size the job asked for
  int64_t time_at_creation = 0;
};

/// The job queue as the IPP side sees it. Every call comes on the main run loop's thread.
class ipp_job_queue {
 public:
  virtual ~ipp_job_queue() = default;

  /// Copies `document` into the spool and queues `job`, as a submitted job is queued. `on_end` is called on
  /// the run loop's thread once the job has ended. Returns the job's id, or 0 after setting `error` to the
  /// cause (the printer is no longer offered, the document cannot be spooled or stored).
  virtual int64_t queue_ipp_job(const device_job& job, const std::string& document, job_end_function on_end,
                                std::string& error) = 0;

  /// The device cancelled the job `id`. When no console has it, the job ends cancelled (its end function is
  /// called) and no console is ever asked; returns true then. False when a console has it already.
  virtual bool cancel_queued_job(int64_t id) = 0;
};

}  // namespace quorvane::print_service
