// Removing a CUPS job.
#include <cups/cups.h>

#include "core/log.h"
#include "spooler/cups_status_p.h"
#include "spooler/spooler_p.h"

namespace quorvane {

int32_t purge_cups_job(const std::string& printer, int32_t job_id, const std::string& user) {
  cups_dest_t* dest =
      printer.empty() ? nullptr : cupsGetNamedDest(CUPS_HTTP_DEFAULT, printer.c_str(), nullptr);
  if (!dest) {
    const int32_t status = cups_failure_status(IPP_STATUS_ERROR_NOT_FOUND);
    QV_LOG(log_error, "Unable to open printer '%s': error %d", printer.c_str(), status);
    return status;
  }
  char resource[1024];
  http_t* http = cupsConnectDest(dest, CUPS_DEST_FLAGS_NONE, /*msec=*/30000, /*cancel=*/nullptr, resource,
                                 sizeof resource, /*cb=*/nullptr, /*user_data=*/nullptr);
  int32_t status = 0;
  if (!http) {
    status = cups_failure_status();
    QV_LOG(log_error, "Unable to open printer '%s': error %d", printer.c_str(), status);
  } else {
    // The job's owner may cancel it without administrator rights.
    cupsSetUser(user.empty() ? nullptr : user.c_str());
    const char* uri = cupsGetOption("printer-uri-supported", dest->num_options, dest->options);
    ipp_t* request = ippNewRequest(IPP_OP_CANCEL_JOB);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr,
                 uri ? uri : "ipp://localhost/");
    ippAddInteger(request, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "job-id", job_id);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, cupsUser());
    ippAddBoolean(request, IPP_TAG_OPERATION, "purge-job", 1);
    ippDelete(cupsDoRequest(http, request, "/jobs/"));
    if (cupsLastError() > IPP_STATUS_OK_EVENTS_COMPLETE) {
      status = cups_failure_status();
      QV_LOG(log_error, "Unable to delete job for printer '%s': error %d", printer.c_str(), status);
    }
    httpClose(http);
  }
  cupsFreeDests(1, dest);
  return status;
}

}  // namespace quorvane
