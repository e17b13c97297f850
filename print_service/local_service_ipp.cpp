// The jobs that devices send over IPP, as the service's queue takes them, and the devices that sent them.
#include <ctime>

#include "core/log.h"
#include "core/os.h"
#include "model/document_formats.h"
#include "net/socket.h"
#include "print_service/ipp/ipp_server.h"
#include "print_service/local_service.h"

namespace quorvane::print_service {

int64_t local_service::queue_ipp_job(const device_job& job, const std::string& document,
                                     job_end_function on_end, std::string& error) {
  const std::optional<Json::Value> printer = offered_printer(job.printer_uuid);
  if (!printer || !ipp_server::is_offered(*printer)) {
    error = "the printer is no longer offered";
    return 0;
  }
  job_submission submission;
  submission.file = document;
  submission.printer = *printer;
  submission.user = job.user;
  submission.device_address = job.device_address;
  submission.format = job.format;
  submission.title = job.name;
  submission.copies = job.copies;
  // The spooled copy is named after the job, with the extension of its format (a converted document is a
  // PDF by now).
  const model::document_format* format = model::find_document_format(job.format);
  submission.document_name =
      job.name + (format && model::is_handed_over(*format) ? format->extension : ".pdf");
  submission.device = &job;
  service_failure why;
  const std::optional<int64_t> id = jobs_.queue(submission, why);
  if (!id) {
    error = why.message;
    return 0;
  }
  jobs_.on_end(*id, std::move(on_end));
  // The device is recorded once the job has been answered and offered to a console: neither waits for it.
  loop_.post([this, address = job.device_address] { record_device(address, hardware_address_of(address)); });
  return *id;
}

bool local_service::cancel_queued_job(int64_t id) {
  return jobs_.cancel_waiting(id);
}

void local_service::record_device(const std::string& address, const std::string& hardware) {
  // A device is known by its hardware address when the neighbour table has it, else by its address.
  const std::string key = hardware.empty() ? address : hardware;
  if (key.empty()) return;
  Json::Value device = store_.find_device(key).value_or(Json::Value(Json::objectValue));
  if (!device["uuid"].isString()) device["uuid"] = new_uuid();
  device["host"] = address;
  device["lastUsed"] = static_cast<Json::Int64>(time(nullptr));
  if (!store_.save_device(key, device)) return;
  Json::Value list(Json::arrayValue);
  list.append(device);
  notify_observers("devicesWereUpdated", list);
}

}  // namespace quorvane::print_service
