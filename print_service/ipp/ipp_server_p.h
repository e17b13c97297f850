// What the parts of the IPP server share inside ipp/: PAPPL's device scheme, the server PAPPL's callbacks
// reach, and the state the main thread shares with PAPPL's threads.
#pragma once

#include <condition_variable>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include <json/json.h>

#include "print_service/ipp/ipp_server.h"

namespace quorvane::print_service {
namespace ipp_detail {

// The device scheme of our printers: jobs never reach a device, the console delivers them.
inline constexpr const char* device_scheme = "x-fwd";
inline constexpr const char* driver_name = "fwd";

/// The device URI PAPPL is given for the printer of `uuid`.
inline std::string device_uri(const std::string& uuid) {
  return std::string(device_scheme) + "://printer/" + uuid;
}

/// Closes the devices of `uri` that PAPPL opened and left open. PAPPL keeps a printer's device open after a
/// job while other jobs are active, and closes it neither when those jobs end without running (cancelled
/// at a stop) nor when it deletes the printer; call this once the printer is deleted.
void close_devices_left_open(const std::string& uri);

// The server whose callbacks PAPPL calls; PAPPL's callbacks carry no context of ours.
inline ipp_server* active_server = nullptr;

/// The enabled media of a printer record, in their order.
std::vector<Json::Value> enabled_media(const Json::Value& printer);

/// Why a PDF, JPEG or PNG document cannot be what it says it is; "" when its first and last bytes fit.
std::string document_problem(const std::string& path, const std::string& format);

}  // namespace ipp_detail

struct ipp_server::shared_state {
  std::mutex mutex;
  std::condition_variable changed;
  bool stopping = false;
  std::map<job_key, std::string> job_addresses;  // device address of each job
  std::map<job_key, std::shared_ptr<raster_job>> raster_jobs;
  std::map<job_key, std::shared_ptr<waiting_job>>
      waiters;                                 // jobs in the service's queue, until PAPPL ends them
  std::map<std::string, Json::Value> records;  // offered printer records by uuid
  std::map<std::string, Json::Value> pages;    // every printer's record by its page's path
  // Jobs whose document the device's thread reads while it answers the device: their job thread waits
  // before it touches the job, so PAPPL cannot end the job and free its file name meanwhile.
  std::set<job_key> answering;
  poll_runloop* loop = nullptr;
  ipp_job_queue* queue = nullptr;
};

struct ipp_server::waiting_job {
  bool queued = false;  // the queue answered (with `id`, or 0 and `error`)
  int64_t id = 0;
  std::string error;
  bool ended = false;
  int32_t status = 0;
  int32_t state = 0;
  int32_t platform_id = 0;
};

struct ipp_server::raster_job {
  std::string path;    // the PDF made of the document
  uint32_t pages = 0;  // pages PAPPL has read
};

}  // namespace quorvane::print_service
