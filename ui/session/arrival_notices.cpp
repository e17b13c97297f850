#include "ui/session/arrival_notices.h"

#include <QCoreApplication>

#include "spooler/delivery_failure.h"
#include "spooler/document_folder.h"
#include "ui/session/printer_rows.h"

namespace quorvane {

namespace {

// "From USER (DEVICE) on PRINTER", leaving out what is not known.
std::string from_text(const arrival& a) {
  const QString user = a.user.empty()
                           ? QCoreApplication::translate("quorvane::arrival_notices", "an unknown user")
                           : QString::fromStdString(a.user);
  const QString printer = QString::fromStdString(a.printer);
  if (a.device.empty())
    return QCoreApplication::translate("quorvane::arrival_notices", "From %1 on %2")
        .arg(user, printer)
        .toStdString();
  return QCoreApplication::translate("quorvane::arrival_notices", "From %1 (%2) on %3")
      .arg(user, QString::fromStdString(a.device), printer)
      .toStdString();
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
  n.title = (burst_failed_ > 0
                 ? QCoreApplication::translate("quorvane::arrival_notices", "%1 documents arrived, %2 failed")
                       .arg(burst_count_)
                       .arg(burst_failed_)
                 : QCoreApplication::translate("quorvane::arrival_notices", "%1 documents arrived")
                       .arg(burst_count_))
                .toStdString();
  n.body = QCoreApplication::translate("quorvane::arrival_notices", "The last: %1.")
               .arg(QString::fromStdString(a.document))
               .toStdString() +
           " " + from_text(a) + (n.failed ? ". " + a.reason : "");
  n.file = a.file;
  n.failed = burst_failed_ > 0;
  return n;
}

}  // namespace quorvane
