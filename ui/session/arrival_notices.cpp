#include "ui/session/arrival_notices.h"

#include "spooler/delivery_failure.h"
#include "spooler/document_folder.h"
#include "ui/session/printer_rows.h"

namespace quorvane {

namespace {

// "from USER (DEVICE) on PRINTER", leaving out what is not known.
std::string from_text(const arrival& a) {
  std::string text = "From " + (a.user.empty() ? std::string("an unknown user") : a.user);
  if (!a.device.empty()) text += " (" + a.device + ")";
  return text + " on " + a.printer;
}

}  // namespace

arrival arrival_of(const model::printer& printer, const model::job& job, int32_t status) {
  arrival a;
  a.document = job.name().narrow();
  a.user = job.user().narrow();
  a.device = !job.deviceID().empty() ? job.deviceID().narrow() : job.deviceAddress();
  a.printer = shown_display_name(printer.displayName());
  if (status == 0 && keeps_documents(printer)) a.file = job.filename().narrow();
  if (status != 0) a.reason = reason_sentence(failure_of(job, status));
  return a;
}

notice arrival_notices::arrive(const arrival& a, std::chrono::milliseconds now) {
  const bool in_burst = any_ && now - last_ < burst_gap;
  any_ = true;
  last_ = now;
  burst_count_ = in_burst ? burst_count_ + 1 : 1;
  burst_failed_ = (in_burst ? burst_failed_ : 0) + (a.reason.empty() ? 0 : 1);

  notice n;
  n.failed = !a.reason.empty();
  if (!in_burst) {
    n.title = a.document;
    n.body = from_text(a) + (n.failed ? ". " + a.reason : "");
    n.file = a.file;
    return n;
  }
  n.replaces_last = true;
  n.title = std::to_string(burst_count_) + " documents arrived";
  if (burst_failed_ > 0) n.title += ", " + std::to_string(burst_failed_) + " failed";
  n.body = "The last: " + a.document + ". " + from_text(a) + (n.failed ? ". " + a.reason : "");
  n.file = a.file;
  n.failed = burst_failed_ > 0;
  return n;
}

}  // namespace quorvane
