// The IPP server's request policy: what devices may ask, which documents are taken, and when a job is in the
// service's queue before the device hears that it was accepted.
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
#include "print_service/documents/raster_to_pdf.h"
#include "print_service/ipp/ipp_client_address.h"
#include "print_service/ipp/ipp_job_attributes.h"
#include "print_service/ipp/ipp_printer_description.h"
#include "print_service/ipp/ipp_server_p.h"
#include "print_service/store/spool.h"

namespace quorvane::print_service {

using namespace ipp_detail;

namespace {

// The seconds after which a device asks for notifications again (none is held waiting for events).
constexpr int notify_get_interval = 5;

// How often the device's thread looks whether a job that the job's thread stores has ended instead.
constexpr auto job_end_poll = std::chrono::milliseconds(50);

// The name of the operation `op` for the log and the device ("0xffff" for one IPP does not define): a
// device may send any 16-bit number, which ipp_op_t cannot hold, so operations are kept as integers.
std::string operation_name(int op) {
  if (op >= 0 && op <= 0x7fff) return ippOpString(static_cast<ipp_op_t>(op));
  char name[16];
  std::snprintf(name, sizeof(name), "0x%04x", static_cast<unsigned>(op) & 0xffff);
  return name;
}

// What devices may ask: printing, their jobs, the printers' and the system's attributes, notifications.
// Everything else changes the printers or the service, which belong to the console's configuration.
bool is_device_operation(int op) {
  switch (op) {
    case IPP_OP_PRINT_JOB:
    case IPP_OP_VALIDATE_JOB:
    case IPP_OP_CREATE_JOB:
    case IPP_OP_SEND_DOCUMENT:
    case IPP_OP_CANCEL_JOB:
    case IPP_OP_CANCEL_MY_JOBS:
    case IPP_OP_CLOSE_JOB:
    case IPP_OP_GET_JOB_ATTRIBUTES:
    case IPP_OP_GET_JOBS:
    case IPP_OP_GET_PRINTER_ATTRIBUTES:
    case IPP_OP_GET_PRINTER_SUPPORTED_VALUES:
    case IPP_OP_GET_PRINTERS:
    case IPP_OP_GET_SYSTEM_ATTRIBUTES:
    case IPP_OP_CUPS_GET_DEFAULT:
    case IPP_OP_CUPS_GET_PRINTERS:
    case IPP_OP_IDENTIFY_PRINTER:
    case IPP_OP_CREATE_PRINTER_SUBSCRIPTIONS:
    case IPP_OP_CREATE_JOB_SUBSCRIPTIONS:
    case IPP_OP_GET_SUBSCRIPTION_ATTRIBUTES:
    case IPP_OP_GET_SUBSCRIPTIONS:
    case IPP_OP_RENEW_SUBSCRIPTION:
    case IPP_OP_CANCEL_SUBSCRIPTION:
    case IPP_OP_GET_NOTIFICATIONS:
      return true;
    default:
      return false;
  }
}

}  // namespace

ipp_status_t ipp_server::admit(ipp_t* request, http_t* http, std::string& message,
                               ipp_attribute_t*& unsupported) {
  const int op = ippGetOperation(request);
  if (op == IPP_OP_HOLD_JOB || op == IPP_OP_RELEASE_JOB) {
    // A held job would wait inside PAPPL while the service's queue delivers it.
    message = "Jobs are not held: they go to the console as they arrive.";
    return IPP_STATUS_ERROR_OPERATION_NOT_SUPPORTED;
  }
  if (!is_device_operation(op)) {
    QV_LOG(log_warning, "IPP %s from %s refused: the printers belong to the console",
           operation_name(op).c_str(), client_address(http).c_str());
    message =
        "The printers are managed by the console; " + operation_name(op) + " is not taken over the network.";
    return IPP_STATUS_ERROR_FORBIDDEN;
  }
  // A printer with an access list hears nothing else of a device that has not signed in.
  if (const sign_in_result signed_in = sign_in(op, request, http, message);
      signed_in != sign_in_result::accepted) {
    set_ipp_http_status(sign_in_http_status(signed_in), "Quorvane");
    return sign_in_ipp_status(signed_in);
  }
  if (op == IPP_OP_GET_NOTIFICATIONS) {
    // PAPPL holds a Get-Notifications with notify-wait up to 30 s on a condition that nothing wakes when it
    // stops, and deletes the system under it. The notifications are given at once instead, with the
    // interval at which to ask again (as a printer that does not wait answers).
    if (ipp_attribute_t* wait = ippFindAttribute(request, "notify-wait", IPP_TAG_BOOLEAN)) {
      for (int i = 0; i < ippGetCount(wait); ++i) ippSetBoolean(request, &wait, i, 0);
    }
    return IPP_STATUS_OK;
  }
  if (op == IPP_OP_CREATE_PRINTER_SUBSCRIPTIONS || op == IPP_OP_CREATE_JOB_SUBSCRIPTIONS) {
    // PAPPL reads a subscription group up to an attribute without a name, then starts the next group at
    // that same attribute, for ever: a second subscription group (after the nameless separator between
    // two groups) kept a connection thread adding to its answer until memory ran out. One subscription is
    // taken per request.
    bool subscriptions = false;
    for (ipp_attribute_t* a = ippFirstAttribute(request); a; a = ippNextAttribute(request)) {
      if (ippGetGroupTag(a) == IPP_TAG_SUBSCRIPTION) subscriptions = true;
      if (subscriptions && !ippGetName(a)) {
        QV_LOG(log_warning, "IPP %s from %s refused: more than one subscription group",
               operation_name(op).c_str(), client_address(http).c_str());
        message = "One subscription is taken per request: send each subscription in a request of its own.";
        return IPP_STATUS_ERROR_BAD_REQUEST;
      }
    }
    return IPP_STATUS_OK;
  }
  const bool creates = op == IPP_OP_PRINT_JOB || op == IPP_OP_VALIDATE_JOB || op == IPP_OP_CREATE_JOB;
  if (ipp_attribute_t* hold = ippFindAttribute(request, "job-hold-until", IPP_TAG_ZERO);
      creates && hold &&
      std::strcmp(ippGetString(hold, 0, nullptr) ? ippGetString(hold, 0, nullptr) : "", "no-hold") != 0) {
    unsupported = hold;
    message = "Jobs are not held: they go to the console as they arrive.";
    return IPP_STATUS_ERROR_ATTRIBUTES_OR_VALUES;
  }
  if (op == IPP_OP_CANCEL_JOB) wait_for_answer_of(request);
  if (!creates && op != IPP_OP_SEND_DOCUMENT) return IPP_STATUS_OK;
  // PAPPL imports a job's collections without looking at their shape; Send-Document adds its own job
  // attributes to the job unchecked.
  std::string reason;
  if (ipp_attribute_t* unsafe = find_unsafe_job_attribute(request, reason)) {
    QV_LOG(log_warning, "IPP %s from %s refused: attribute '%s': %s", operation_name(op).c_str(),
           client_address(http).c_str(), ippGetName(unsafe), reason.c_str());
    unsupported = unsafe;
    message = std::string("Unable to take the attribute '") + ippGetName(unsafe) + "': " + reason + ".";
    return IPP_STATUS_ERROR_ATTRIBUTES_OR_VALUES;
  }
  if (ipp_attribute_t* format = ippFindAttribute(request, "document-format", IPP_TAG_ZERO)) {
    const char* value = ippGetString(format, 0, nullptr);
    const std::string text = value ? value : "";
    const model::document_format* known = model::find_document_format(text);
    if (!known || !known->from_devices) {
      unsupported = format;
      message = "Unsupported document-format '" + text +
                "': the printers take PDF, JPEG, PNG, PWG raster and Apple raster (URF).";
      return IPP_STATUS_ERROR_DOCUMENT_FORMAT_NOT_SUPPORTED;
    }
  }
  if (op != IPP_OP_PRINT_JOB && op != IPP_OP_SEND_DOCUMENT) return IPP_STATUS_OK;
  // A size the device declares (job-k-octets, or the request's Content-Length) is checked before a byte
  // of the document is stored.
  uint64_t declared = 0;
  if (ipp_attribute_t* k = ippFindAttribute(request, "job-k-octets", IPP_TAG_INTEGER); k) {
    declared = static_cast<uint64_t>(std::max(ippGetInteger(k, 0), 0)) * 1024;
  }
  if (http) {
    const char* length = httpGetField(http, HTTP_FIELD_CONTENT_LENGTH);
    if (length && *length) declared = std::max<uint64_t>(declared, std::strtoull(length, nullptr, 10));
  }
  if (declared > 0) {
    ipp_status_t status = IPP_STATUS_OK;
    if (!document_room(http, declared, status, message)) {
      if (ipp_attribute_t* k = ippFindAttribute(request, "job-k-octets", IPP_TAG_INTEGER)) unsupported = k;
      return status;
    }
  }
  return IPP_STATUS_OK;
}

bool ipp_server::document_room(http_t* http, uint64_t bytes, ipp_status_t& status, std::string& message) {
  std::string cause;
  if (spool_has_room(spool_folder_, bytes, cause)) return true;
  QV_LOG(log_warning, "IPP document from %s refused: %s", client_address(http).c_str(), cause.c_str());
  status = IPP_STATUS_ERROR_REQUEST_ENTITY;
  message = "The document does not fit into the print service's spool: " + cause + ".";
  return false;
}

void ipp_server::before_response(ipp_t* request, ipp_t* response, http_t* http) {
  const int op = ippGetOperation(request);
  if (ippGetStatusCode(response) < IPP_STATUS_ERROR_BAD_REQUEST) {
    const auto names_of = [this](std::string_view uuid) -> std::optional<printer_names> {
      std::lock_guard<std::mutex> lock(shared_->mutex);
      const auto found = shared_->records.find(std::string(uuid));
      if (found == shared_->records.end()) return std::nullopt;
      return printer_names{service_name(found->second), printer_info(found->second)};
    };
    // The system takes TLS on its port (PAPPL_SOPTIONS_NO_TLS is not set).
    complete_printer_response(response, names_of, http && httpAddrLocalhost(httpGetAddress(http)),
                              /*tls=*/true, papplSystemGetAuthService(system_) ? "basic" : "none",
                              is_device_operation);
  }
  if (op == IPP_OP_GET_NOTIFICATIONS && ippGetStatusCode(response) < IPP_STATUS_ERROR_BAD_REQUEST &&
      !ippFindAttribute(response, "notify-get-interval", IPP_TAG_INTEGER)) {
    ippAddInteger(response, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "notify-get-interval", notify_get_interval);
    return;
  }
  if ((op != IPP_OP_PRINT_JOB && op != IPP_OP_SEND_DOCUMENT) ||
      ippGetStatusCode(response) >= IPP_STATUS_ERROR_BAD_REQUEST) {
    return;
  }
  // The job PAPPL accepted: its id and URI are in the response.
  const int job_id = ippGetInteger(ippFindAttribute(response, "job-id", IPP_TAG_INTEGER), 0);
  const char* job_uri = ippGetString(ippFindAttribute(response, "job-uri", IPP_TAG_URI), 0, nullptr);
  char scheme[32], user[256], host[256], resource[1024];
  int port = 0;
  if (job_id <= 0 || !job_uri ||
      httpSeparateURI(HTTP_URI_CODING_ALL, job_uri, scheme, sizeof(scheme), user, sizeof(user), host,
                      sizeof(host), &port, resource, sizeof(resource)) < HTTP_URI_STATUS_OK) {
    return;
  }
  pappl_printer_t* printer = papplSystemFindPrinter(system_, resource, 0, nullptr);
  pappl_job_t* job = printer ? papplPrinterFindJob(printer, job_id) : nullptr;
  if (!job) return;
  // A raster document whose first page header the reader refused ends the job before the raster
  // callbacks run: the reason is given here.
  if (const char* message = papplJobGetMessage(job);
      papplJobGetState(job) == IPP_JSTATE_ABORTED && (!message || !*message) && !raster_problem().empty()) {
    set_raster_abort_message(job, raster_problem());
    return;
  }
  // Raster documents were handed over while they were read; other formats end on the job's thread.
  const char* format = papplJobGetFormat(job);
  const std::string type = format ? format : "";
  if (const model::document_format* known = model::find_document_format(type);
      !known || !model::is_handed_over(*known))
    return;
  const job_key key{printer, job_id};
  {
    std::lock_guard<std::mutex> lock(shared_->mutex);
    shared_->answering.insert(key);
  }
  // From here the job's thread waits before our callbacks, the only way PAPPL runs a job of these formats:
  // a job that has not started keeps its file while it is stored here. One that has started is the job
  // thread's to store, and its file is not touched here (PAPPL may end the job and free the name any time).
  std::shared_ptr<waiting_job> waiter;
  const ipp_jstate_t state = papplJobGetState(job);
  if (!papplJobIsCanceled(job) && (state == IPP_JSTATE_PENDING || state == IPP_JSTATE_HELD)) {
    const char* file = papplJobGetFilename(job);
    // A damaged document is not queued; the job's thread aborts the job with the reason.
    if (file && document_problem(file, type).empty()) {
      // As the job's thread makes them; the record takes colour only from colour printers.
      if (pappl_pr_options_t* options = papplJobCreatePrintOptions(job, 0, true)) {
        waiter = queue_once(job, *options, file, type);
        papplJobDeletePrintOptions(options);
      }
    }
  }

  // The device hears that its job was accepted once the job is stored.
  std::unique_lock<std::mutex> lock(shared_->mutex);
  if (waiter) shared_->changed.wait(lock, [&] { return waiter->queued || shared_->stopping; });
  shared_->answering.erase(key);
  shared_->changed.notify_all();
  if (!waiter && state >= IPP_JSTATE_PROCESSING && state < IPP_JSTATE_CANCELED) {
    // The job's thread stores it, unless the job ends first (a damaged document, a cancel).
    for (;;) {
      if (auto it = shared_->waiters.find(key); it != shared_->waiters.end() && it->second->queued) {
        waiter = it->second;
        break;
      }
      if (shared_->stopping) break;
      lock.unlock();
      const bool ended = papplJobGetState(job) >= IPP_JSTATE_CANCELED;
      lock.lock();
      if (ended) return;
      shared_->changed.wait_for(lock, job_end_poll);
    }
  } else if (!waiter) {
    return;
  }
  if (!waiter || !waiter->queued) {
    set_ipp_response_status(response, IPP_STATUS_ERROR_SERVICE_UNAVAILABLE,
                            "The print service is stopping; send the job again later.");
  } else if (waiter->id == 0) {
    set_ipp_response_status(response, IPP_STATUS_ERROR_INTERNAL,
                            "Unable to queue the job: " + waiter->error + ".");
  }
}

void ipp_server::wait_for_answer_of(ipp_t* request) {
  // The job is named by job-uri, or by printer-uri and job-id.
  const char* uri = ippGetString(ippFindAttribute(request, "job-uri", IPP_TAG_URI), 0, nullptr);
  int job_id = 0;
  if (!uri) {
    uri = ippGetString(ippFindAttribute(request, "printer-uri", IPP_TAG_URI), 0, nullptr);
    job_id = ippGetInteger(ippFindAttribute(request, "job-id", IPP_TAG_INTEGER), 0);
  }
  char scheme[32], user[256], host[256], resource[1024];
  int port = 0;
  if (!uri || httpSeparateURI(HTTP_URI_CODING_ALL, uri, scheme, sizeof(scheme), user, sizeof(user), host,
                              sizeof(host), &port, resource, sizeof(resource)) < HTTP_URI_STATUS_OK) {
    return;
  }
  if (job_id == 0) {
    // A job URI ends in /<job id>.
    char* slash = std::strrchr(resource, '/');
    if (!slash || slash == resource) return;
    job_id = std::atoi(slash + 1);
    *slash = '\0';
  }
  pappl_printer_t* printer = papplSystemFindPrinter(system_, resource, 0, nullptr);
  if (!printer || job_id <= 0) return;
  const job_key key{printer, job_id};
  std::unique_lock<std::mutex> lock(shared_->mutex);
  shared_->changed.wait(lock, [&] { return shared_->stopping || !shared_->answering.count(key); });
}

void ipp_server::wait_while_answering(pappl_job_t* job) {
  const job_key key{papplJobGetPrinter(job), papplJobGetID(job)};
  std::unique_lock<std::mutex> lock(shared_->mutex);
  shared_->changed.wait(lock, [&] { return shared_->stopping || !shared_->answering.count(key); });
}

}  // namespace quorvane::print_service
