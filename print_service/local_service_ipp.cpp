// The jobs that devices send over IPP, as the service's queue takes them, and the devices that sent them.
#include <arpa/inet.h>
#include <netinet/in.h>

#include <ctime>

#include "core/log.h"
#include "core/os.h"
#include "net/socket.h"
#include "print_service/local_service.h"

namespace quorvane::print_service {

int64_t local_service::queue_ipp_job(const std::string& printer_uuid, Json::Value job,
                                     const std::string& document, job_end_function on_end,
                                     std::string& error) {
  const std::optional<Json::Value> printer = offered_printer(printer_uuid);
  if (!printer || !ipp_server::is_offered(*printer)) {
    error = "the printer is no longer offered";
    return 0;
  }
  job_submission submission;
  submission.file = document;
  submission.printer = *printer;
  submission.user = job["user"].asString();
  submission.device_address = job["deviceAddress"].asString();
  submission.format = job["format"].asString();
  submission.title = job["name"].asString();
  submission.copies = job["copies"].asInt();
  // The spooled copy is named after the job, with the extension of its format.
  const std::string& format = submission.format;
  submission.document_name = submission.title + (format == "image/jpeg"  ? ".jpg"
                                                 : format == "image/png" ? ".png"
                                                                         : ".pdf");
  submission.settings = job;
  service_failure why;
  const std::optional<int64_t> id = delivery_.queue(submission, why);
  if (!id) {
    error = why.message;
    return 0;
  }
  delivery_.on_end(*id, std::move(on_end));
  // The device is recorded once the job has been answered and offered to a console: neither waits for it.
  loop_.post([this, address = submission.device_address] {
    sockaddr_in device{};
    device.sin_family = AF_INET;
    record_device(address, inet_pton(AF_INET, address.c_str(), &device.sin_addr) == 1
                               ? hardware_address_of(device)
                               : std::string());
  });
  return *id;
}

bool local_service::cancel_queued_job(int64_t id) {
  return delivery_.cancel_waiting(id);
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
