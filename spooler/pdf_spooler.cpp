#include "core/log.h"
#include "spooler/cups_spooler.h"
#include "spooler/document_stream.h"
#include "spooler/render_budget.h"

namespace quorvane {

PDFSpooler::PDFSpooler(model::printer_ptr printer, model::job_ptr job)
    : CupsSpooler(std::move(printer), std::move(job)) {}

bool PDFSpooler::setup() {
  const std::string& path = path_;
  std::string error;
  if (document_.load(path, error) != 0) {
    QV_LOG(log_error, "Unable to load PDF document '%s': %s", path.c_str(), error.c_str());
    fail(-1, delivery_failure::document_unreadable);
    return false;
  }
  // 0 means no limit at that end.
  firstPage_ = job_->firstPage();
  lastPage_ = job_->lastPage();
  // Every page to print is measured before the CUPS job exists, so that a refused document leaves none.
  if (const std::string reason = document_.rangeOverBudget(firstPage_, lastPage_); !reason.empty()) {
    refuse(reason);
    return false;
  }
  return true;
}

int64_t PDFSpooler::pageCount() const {
  return document_.rangePageCount(firstPage_, lastPage_);
}

bool PDFSpooler::render(document_stream& out, const device_page&) {
  // One watch for every copy: the print document keeps a record of each page it holds.
  const memory_watch memory;
  for (int32_t copy = 0; copy < renderCopies_; ++copy) {
    std::string refusal;
    if (!document_.render(out, firstPage_, lastPage_, &refusal, &memory)) {
      // The CUPS job exists by now; the caller cancels it.
      if (!refusal.empty()) {
        refuse(refusal);
        return false;
      }
      QV_LOG(log_error, "Unable to render pages %d to %d of '%s' (%d pages)", firstPage_, lastPage_,
             path_.c_str(), document_.pageCount());
      return false;
    }
  }
  return true;
}

}  // namespace quorvane
