// The hand-off of devices' jobs: each job PAPPL accepted goes to the service's queue, its document checked
// or converted, and its end comes back to PAPPL from the console's answer.
#include "print_service/ipp/ipp_server.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstring>
#include <fstream>
#include <mutex>

#include "core/files.h"
#include "core/json_text.h"
#include "core/log.h"
#include "model/document_formats.h"
#include "model/values.h"
#include "print_service/documents/raster_format.h"
#include "print_service/documents/raster_to_pdf.h"
#include "print_service/ipp/ipp_client_address.h"
#include "print_service/ipp/ipp_job_attributes.h"
#include "print_service/ipp/ipp_server_p.h"
#include "print_service/store/spool.h"

namespace quorvane::print_service {

using namespace ipp_detail;

namespace {

// How often a job waiting for the console looks whether the device cancelled it.
constexpr auto cancel_poll = std::chrono::milliseconds(250);

// What the status of a console's answer means, for the job-state-message the device shows.
const char* status_meaning(int32_t status) {
  switch (status) {
    case 0:
      return "no error";
    case -1:
      return "the printer no longer exists";
    case 10:
      return "no console answered";
    default:
      return "the console could not deliver it";
  }
}

}  // namespace

namespace ipp_detail {

std::string document_problem(const std::string& path, const std::string& format) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return "the document cannot be read";
  std::string head(16, '\0');
  in.read(head.data(), static_cast<std::streamsize>(head.size()));
  head.resize(static_cast<size_t>(in.gcount()));
  in.clear();
  in.seekg(0, std::ios::end);
  const std::streamoff size = in.tellg();
  const std::streamoff tail_size = std::min<std::streamoff>(size, 1024);
  std::string tail(static_cast<size_t>(tail_size), '\0');
  in.seekg(size - tail_size);
  in.read(tail.data(), tail_size);
  if (detect_format(head) != format) return "the document is not " + format;
  // A document cut short (a client that went away, a damaged file) lacks its end marker.
  const model::document_format* known = model::find_document_format(format);
  if (known && !known->end_marker.empty() && tail.find(known->end_marker) == std::string::npos)
    return std::string("the ") + known->noun + " is cut short";
  return {};
}

}  // namespace ipp_detail

void ipp_server::event_callback(pappl_system_t*, pappl_printer_t* printer, pappl_job_t* job,
                                pappl_event_t event, void* context) {
  // This runs under PAPPL's locks: only the job id (read without a lock) and our own state are touched.
  auto* shared = static_cast<shared_state*>(context);
  if (!job || !(event & (PAPPL_EVENT_JOB_CREATED | PAPPL_EVENT_JOB_COMPLETED))) return;
  const job_key key{printer, papplJobGetID(job)};
  std::shared_ptr<raster_job> finished_raster;
  std::lock_guard<std::mutex> lock(shared->mutex);
  if (event & PAPPL_EVENT_JOB_CREATED) {
    // The job is created on the thread of the connection that sent it.
    shared->job_addresses[key] = current_client_address();
    return;
  }
  shared->job_addresses.erase(key);
  if (auto it = shared->raster_jobs.find(key); it != shared->raster_jobs.end()) {
    finished_raster = std::move(it->second);
    shared->raster_jobs.erase(it);
  }
  auto it = shared->waiters.find(key);
  if (it == shared->waiters.end()) return;
  const std::shared_ptr<waiting_job> waiter = std::move(it->second);
  shared->waiters.erase(it);
  // A queued job that PAPPL ends before the console's answer was cancelled inside PAPPL (by the device,
  // or because its printer was withdrawn): it is cancelled in the queue too, unless a console has it.
  // A stop ends jobs too, but they stay queued.
  if (shared->stopping || !waiter->queued || waiter->id == 0 || waiter->ended) return;
  ipp_job_queue* queue = shared->queue;
  const int64_t id = waiter->id;
  shared->loop->post([queue, id] { queue->cancel_queued_job(id); });
}

device_job ipp_server::job_record(pappl_job_t* job, const pappl_pr_options_t& options,
                                  const std::string& format) {
  pappl_printer_t* printer = papplJobGetPrinter(job);
  const std::string printer_uuid = papplPrinterGetName(printer);
  Json::Value printer_record;
  std::string address;
  {
    std::lock_guard<std::mutex> lock(shared_->mutex);
    if (auto it = shared_->records.find(printer_uuid); it != shared_->records.end())
      printer_record = it->second;
    if (auto it = shared_->job_addresses.find({printer, papplJobGetID(job)});
        it != shared_->job_addresses.end()) {
      address = it->second;
    }
  }
  device_job record;
  record.device_address = address;
  record.printer_uuid = printer_uuid;
  const char* name = papplJobGetName(job);
  record.name = name && *name ? name : "untitled";
  const char* user = papplJobGetUsername(job);
  record.user = user && *user ? user : "anonymous";
  record.format = format;
  record.print_quality =
      options.print_quality ? static_cast<int>(options.print_quality) : static_cast<int>(IPP_QUALITY_NORMAL);
  // The first range of page-ranges as the device sent it (PAPPL's options clamp it to the pages it
  // counted); 0 and 0 print every page.
  int first_page = 0, last_page = 0;
  if (ipp_attribute_t* ranges = papplJobGetAttribute(job, "page-ranges");
      ranges && ippGetValueTag(ranges) == IPP_TAG_RANGE) {
    first_page = ippGetRange(ranges, 0, &last_page);
  }
  record.first_page = first_page;
  record.last_page = last_page;
  const bool color_printer = (int_member(printer_record, "color") & model::feature_on) != 0;
  record.is_color =
      color_printer && (options.print_color_mode & (PAPPL_COLOR_MODE_COLOR | PAPPL_COLOR_MODE_AUTO)) != 0;
  // PAPPL fills in the printer's default (portrait) for a job that names no orientation: such a job keeps
  // "none", and the console turns its pages as their content asks.
  record.orientation = !papplJobGetAttribute(job, "orientation-requested") ? static_cast<int>(IPP_ORIENT_NONE)
                       : options.orientation_requested ? static_cast<int>(options.orientation_requested)
                                                       : static_cast<int>(IPP_ORIENT_PORTRAIT);
  record.duplex = options.sides == PAPPL_SIDES_TWO_SIDED_LONG_EDGE    ? 1
                  : options.sides == PAPPL_SIDES_TWO_SIDED_SHORT_EDGE ? 2
                                                                      : 0;
  record.copies = options.copies > 0 ? options.copies : 1;
  record.fit_to_page =
      (options.print_scaling & (PAPPL_SCALING_AUTO | PAPPL_SCALING_AUTO_FIT | PAPPL_SCALING_FIT)) != 0;

  // The media as the printer describes it (display name, margins), with the size the job asked for.
  Json::Value media(Json::objectValue);
  for (const Json::Value& m : enabled_media(printer_record)) {
    if (string_member(m, "name") == options.media.size_name) media = m;
  }
  media["name"] = options.media.size_name;
  if (!media.isMember("displayName")) media["displayName"] = options.media.size_name;
  media["width"] = options.media.size_width;
  media["height"] = options.media.size_length;
  if (!media["margins"].isArray()) {
    Json::Value margin(Json::objectValue);
    margin["name"] = "";
    margin["left"] = options.media.left_margin;
    margin["top"] = options.media.top_margin;
    margin["right"] = options.media.right_margin;
    margin["bottom"] = options.media.bottom_margin;
    media["margins"].append(margin);
  }
  media["enabled"] = true;
  record.media = std::move(media);
  record.time_at_creation = static_cast<int64_t>(papplJobGetTimeCreated(job));
  return record;
}

std::shared_ptr<ipp_server::waiting_job> ipp_server::queue_once(pappl_job_t* job,
                                                                const pappl_pr_options_t& options,
                                                                const std::string& file,
                                                                const std::string& format) {
  std::shared_ptr<shared_state> shared = shared_;
  pappl_printer_t* printer = papplJobGetPrinter(job);
  const job_key key{printer, papplJobGetID(job)};
  {
    std::lock_guard<std::mutex> lock(shared->mutex);
    if (auto it = shared->waiters.find(key); it != shared->waiters.end()) return it->second;
    if (shared->stopping) return nullptr;
  }
  device_job record = job_record(job, options, format);
  auto waiter = std::make_shared<waiting_job>();
  {
    std::lock_guard<std::mutex> lock(shared->mutex);
    // The other thread may have queued it meanwhile.
    if (auto it = shared->waiters.find(key); it != shared->waiters.end()) return it->second;
    if (shared->stopping) return nullptr;
    shared->waiters[key] = waiter;
  }
  ipp_job_queue* queue = &queue_;
  // The queue lives on the run loop's thread; the end arrives there too and is passed to the waiting threads.
  loop_.post([queue, shared, waiter, record = std::move(record), file]() mutable {
    job_end_function on_end = [shared, waiter](int32_t status, int32_t state, int32_t platform_id) {
      {
        std::lock_guard<std::mutex> lock(shared->mutex);
        waiter->ended = true;
        waiter->status = status;
        waiter->state = state;
        waiter->platform_id = platform_id;
      }
      shared->changed.notify_all();
    };
    std::string error;
    const int64_t id = queue->queue_ipp_job(record, file, std::move(on_end), error);
    {
      std::lock_guard<std::mutex> lock(shared->mutex);
      waiter->queued = true;
      waiter->id = id;
      waiter->error = error;
    }
    shared->changed.notify_all();
  });
  return waiter;
}

bool ipp_server::hand_off(pappl_job_t* job, const pappl_pr_options_t& options, const std::string& file,
                          const std::string& format) {
  std::shared_ptr<shared_state> shared = shared_;
  const std::shared_ptr<waiting_job> waiter = queue_once(job, options, file, format);
  if (!waiter) {
    papplJobSetMessage(job, "The print service is stopping.");
    return false;
  }
  ipp_job_queue* queue = &queue_;

  // Wait for the queue, then for the end; PAPPL's calls are made without our lock held.
  bool told_waiting = false;
  bool cancel_sent = false;
  std::unique_lock<std::mutex> lock(shared->mutex);
  for (;;) {
    if (waiter->ended || shared->stopping || (waiter->queued && waiter->id == 0)) break;
    const bool queued = waiter->queued;
    const int64_t id = waiter->id;
    lock.unlock();
    if (queued && !told_waiting) {
      papplJobSetMessage(job, "Queued for the console.");
      told_waiting = true;
    }
    if (queued && !cancel_sent && papplJobIsCanceled(job)) {
      // A job that no console has yet ends here, unseen by any console.
      cancel_sent = true;
      loop_.post([queue, id] { queue->cancel_queued_job(id); });
    }
    lock.lock();
    shared->changed.wait_for(lock, cancel_poll);
  }
  const waiting_job outcome = *waiter;
  const bool stopping = shared->stopping;
  lock.unlock();

  if (outcome.ended) {
    if (outcome.state == model::job_state_canceled) {
      papplJobSetMessage(job, "Cancelled.");
      papplJobCancel(job);
      return true;
    }
    // Status 0 is a delivery: done by the console (completed), or handed to a system printer whose own
    // queue now holds the job (its state there, processing say, and its job id there). A job the console
    // could not deliver keeps its status, whatever state came with it.
    if (outcome.status == 0 && outcome.state != model::job_state_aborted) {
      if (outcome.state == model::job_state_completed) {
        papplJobSetMessage(job, "Delivered by the console.");
      } else {
        papplJobSetMessage(job, "Handed to the printer as job %d.", outcome.platform_id);
      }
      return true;
    }
    papplJobSetMessage(job, "Not delivered: status %d (%s).", outcome.status, status_meaning(outcome.status));
    return false;
  }
  if (outcome.queued && outcome.id == 0) {
    papplJobSetMessage(job, "Unable to queue the job: %s.", outcome.error.c_str());
    return false;
  }
  // The service stops: a queued job stays in the queue and goes to a console after the next start.
  papplJobSetMessage(job, stopping && outcome.queued ? "The print service stopped; the job stays queued."
                                                     : "The print service stopped.");
  return false;
}

bool ipp_server::print_file(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t*) {
  ipp_server* self = active_server;
  if (!self) return false;
  self->wait_while_answering(job);
  const char* file = papplJobGetFilename(job);
  if (!file) return false;
  if (const std::string problem = document_problem(file, "application/pdf"); !problem.empty()) {
    papplJobSetMessage(job, "Unable to print: %s.", problem.c_str());
    papplJobSetReasons(job, PAPPL_JREASON_DOCUMENT_FORMAT_ERROR, PAPPL_JREASON_NONE);
    return false;
  }
  return self->hand_off(job, *options, file, "application/pdf");
}

bool ipp_server::filter_image(pappl_job_t* job, pappl_device_t*, void* context) {
  auto* self = static_cast<ipp_server*>(context);
  self->wait_while_answering(job);
  const char* file = papplJobGetFilename(job);
  const char* format = papplJobGetFormat(job);
  if (!file || !format) return false;
  if (const std::string problem = document_problem(file, format); !problem.empty()) {
    papplJobSetMessage(job, "Unable to print: %s.", problem.c_str());
    papplJobSetReasons(job, PAPPL_JREASON_DOCUMENT_FORMAT_ERROR, PAPPL_JREASON_NONE);
    return false;
  }
  pappl_pr_options_t* options = papplJobCreatePrintOptions(job, 1, true);
  if (!options) return false;
  const bool ok = self->hand_off(job, *options, file, format);
  papplJobDeletePrintOptions(options);
  return ok;
}

bool ipp_server::raster_start_job(pappl_job_t* job, pappl_pr_options_t*, pappl_device_t*) {
  ipp_server* self = active_server;
  if (!self) return false;
  auto raster = std::make_shared<raster_job>();
  raster->path = self->spool_folder_ + "/raster-" +
                 std::to_string(papplPrinterGetID(papplJobGetPrinter(job))) + "-" +
                 std::to_string(papplJobGetID(job)) + ".pdf";
  std::lock_guard<std::mutex> lock(self->shared_->mutex);
  self->shared_->raster_jobs[{papplJobGetPrinter(job), papplJobGetID(job)}] = std::move(raster);
  return true;
}

namespace {

// The raster document being read for `job`, or null.
template <typename map_type>
auto find_raster(std::mutex& mutex, map_type& jobs, pappl_job_t* job) {
  std::lock_guard<std::mutex> lock(mutex);
  auto it = jobs.find({papplJobGetPrinter(job), papplJobGetID(job)});
  return it == jobs.end() ? typename map_type::mapped_type() : it->second;
}

}  // namespace

bool ipp_server::raster_start_page(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t*, unsigned) {
  const auto& header = options->header;
  raster_page_layout layout;
  layout.width = header.cupsWidth;
  layout.height = header.cupsHeight;
  layout.x_dpi = header.HWResolution[0];
  layout.y_dpi = header.HWResolution[1];
  layout.bits_per_pixel = header.cupsBitsPerPixel;
  layout.bits_per_color = header.cupsBitsPerColor;
  layout.bytes_per_line = header.cupsBytesPerLine;
  layout.color_order = header.cupsColorOrder;
  layout.color_space = header.cupsColorSpace;
  layout.colors = header.cupsNumColors;
  if (const std::string problem = raster_layout_problem(layout); !problem.empty()) {
    papplJobSetMessage(job, "Unable to convert the raster document: %s.", problem.c_str());
    papplJobSetReasons(job, PAPPL_JREASON_DOCUMENT_FORMAT_ERROR, PAPPL_JREASON_NONE);
    return false;
  }
  return true;
}

bool ipp_server::raster_write_line(pappl_job_t*, pappl_pr_options_t*, pappl_device_t*, unsigned,
                                   const unsigned char*) {
  // The PDF is made from the document's own compressed lines when the job ends, not from PAPPL's decoded
  // ones: PAPPL's reading only checks the document.
  return true;
}

bool ipp_server::raster_end_page(pappl_job_t* job, pappl_pr_options_t*, pappl_device_t*, unsigned) {
  ipp_server* self = active_server;
  if (!self) return false;
  std::shared_ptr<raster_job> raster = find_raster(self->shared_->mutex, self->shared_->raster_jobs, job);
  if (!raster) return false;
  ++raster->pages;
  return true;
}

void ipp_server::set_raster_abort_message(pappl_job_t* job, const std::string& problem) {
  papplJobSetMessage(job, "Unable to convert the raster document: %s.",
                     problem.empty() ? "a page of it cannot be read" : problem.c_str());
  papplJobSetReasons(job, PAPPL_JREASON_DOCUMENT_FORMAT_ERROR, PAPPL_JREASON_NONE);
}

bool ipp_server::raster_end_job(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t*) {
  ipp_server* self = active_server;
  // What PAPPL read of the document, kept by the request hooks as it went by.
  const int copy = take_document_copy();
  std::shared_ptr<raster_job> raster =
      self ? find_raster(self->shared_->mutex, self->shared_->raster_jobs, job) : nullptr;
  if (raster) {
    std::lock_guard<std::mutex> lock(self->shared_->mutex);
    self->shared_->raster_jobs.erase({papplJobGetPrinter(job), papplJobGetID(job)});
  }
  // A page PAPPL could not read whole aborted the job, a document the raster reader stopped before its
  // end (a page header it refused, pages missing) is cut short for PAPPL, and a cancelled job ends as such:
  // none goes to a console.
  const std::string problem = raster_problem();
  if (!raster || papplJobIsCanceled(job) || papplJobGetState(job) == IPP_JSTATE_ABORTED || !problem.empty()) {
    if (copy >= 0) close(copy);
    if (papplJobIsCanceled(job)) return true;
    // A page refused above says why; PAPPL says nothing of a page it could not read.
    const char* message = papplJobGetMessage(job);
    if (!message || !*message) set_raster_abort_message(job, problem);
    return false;
  }
  if (copy < 0) {
    papplJobSetMessage(job, "Unable to convert the raster document: it could not be kept in the spool.");
    return false;
  }
  const std::string folder = self->spool_folder_;
  const raster_conversion converted =
      raster_file_to_pdf(copy, raster->path, raster->pages, [&folder](uint64_t bytes) {
        std::string cause;
        return spool_has_room(folder, bytes, cause);
      });
  close(copy);
  if (!converted.ok) {
    QV_LOG(log_warning, "Unable to convert raster job %d to PDF: %s", papplJobGetID(job),
           converted.error.c_str());
    papplJobSetMessage(job, "Unable to convert the raster document: %s.", converted.error.c_str());
    papplJobSetReasons(job, PAPPL_JREASON_DOCUMENT_FORMAT_ERROR, PAPPL_JREASON_NONE);
    return false;
  }
  // Raster arrives on the client's connection: the device hears the answer to its Print-Job only after this.
  const bool ok = self->hand_off(job, *options, raster->path, "application/pdf");
  unlink(raster->path.c_str());
  return ok;
}

int ipp_server::document_copy(std::string_view head) {
  // Only raster documents are read by PAPPL without being stored: the formats the service converts.
  const model::document_format* format = model::document_format_of(head);
  if (!format || !format->converted) return -1;
  int fd = open(spool_folder_.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd < 0) {
    // A file system without unnamed files: a named one, unlinked at once.
    std::string name = spool_folder_ + "/raster-XXXXXX";
    fd = mkostemp(name.data(), O_CLOEXEC);
    if (fd >= 0) unlink(name.c_str());
  }
  if (fd < 0) {
    QV_LOG(log_error, "Unable to keep a raster document in '%s': %s", spool_folder_.c_str(), strerror(errno));
  }
  return fd;
}

}  // namespace quorvane::print_service
