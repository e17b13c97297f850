#include "spooler/delivery_failure.h"

#include <cups/ipp.h>

#include <cerrno>

namespace quorvane {

namespace {

constexpr delivery_reason reasons[] = {
    {delivery_failure::folder_not_writable, "folder_not_writable",
     "The document could not be saved because you may not write into the printer's folder; choose another "
     "folder for this printer, or allow yourself to write into this one."},
    {delivery_failure::folder_full, "folder_full",
     "The document could not be saved because the disk of the printer's folder is full; free some space "
     "there, or choose a folder on another disk."},
    {delivery_failure::folder_missing, "folder_missing",
     "The document could not be saved because the printer's folder does not exist (it may be on a disk that "
     "is not connected); connect the disk, or choose another folder for this printer."},
    {delivery_failure::folder_names_taken, "folder_names_taken",
     "The document could not be saved because the printer's folder already holds a hundred documents of "
     "that name; move some of them elsewhere and print again."},
    {delivery_failure::application_missing, "application_missing",
     "The document was not opened because the printer's application is no longer installed; choose another "
     "application for this printer."},
    {delivery_failure::application_not_starting, "application_not_starting",
     "The document was not opened because the printer's application could not be started; try starting it "
     "yourself, or choose another application for this printer."},
    {delivery_failure::no_application_for_document, "no_application_for_document",
     "The document was not opened because no application on this computer opens documents of its kind; "
     "install one, or choose an application for this printer."},
    {delivery_failure::printer_stopped, "printer_stopped",
     "The document was not printed because the printer is stopped or does not accept jobs; start it again "
     "in the system's printer settings and print again."},
    {delivery_failure::printer_gone, "printer_gone",
     "The document was not printed because the printer no longer exists on this computer; add it again in "
     "the system's printer settings, or remove this printer."},
    {delivery_failure::cups_not_running, "cups_not_running",
     "The document was not printed because the system's print service (CUPS) is not running; start it "
     "(sudo systemctl start cups) and print again."},
    {delivery_failure::printer_refused, "printer_refused",
     "The document was not printed because the system's print service refused it; look at the printer's "
     "queue in the system's printer settings and print again."},
    {delivery_failure::document_unreadable, "document_unreadable",
     "The document could not be read because it is damaged or incomplete; send it again from the device, "
     "or save it there in another format first."},
    {delivery_failure::format_not_printable, "format_not_printable",
     "The document was not printed because this printer takes only PDF, JPEG and PNG documents; send it in "
     "one of those formats."},
    {delivery_failure::too_many_copies, "too_many_copies",
     "The document was not printed because it asked for more than 999 copies; ask for fewer copies and "
     "print again."},
    {delivery_failure::too_many_pages, "too_many_pages",
     "The document was not printed because its pages and copies come to more than 100,000 pages; print "
     "fewer pages or copies at a time."},
    {delivery_failure::document_too_large, "document_too_large",
     "The document was not printed because a page or picture in it is too large to print on this computer; "
     "send a smaller picture or a simpler document."},
    {delivery_failure::unknown, "unknown",
     "The document could not be delivered because of an error in Quorvane; the log has the details, and "
     "printing again may work."},
};

static_assert(std::size(reasons) == static_cast<size_t>(delivery_failure::unknown),
              "one row for every failure but none, in order");

}  // namespace

std::span<const delivery_reason> delivery_reasons() {
  return reasons;
}

const char* reason_sentence(delivery_failure failure) {
  if (failure == delivery_failure::none) return "";
  const auto index = static_cast<size_t>(failure) - 1;
  return index < std::size(reasons) ? reasons[index].sentence : reasons[std::size(reasons) - 1].sentence;
}

delivery_failure folder_failure_of(int32_t error) {
  switch (error) {
    case EACCES:
    case EPERM:
    case EROFS:
      return delivery_failure::folder_not_writable;
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
      return delivery_failure::folder_full;
    case ENOENT:
    case ENOTDIR:
      return delivery_failure::folder_missing;
    case EEXIST:
      return delivery_failure::folder_names_taken;
    default:
      return delivery_failure::unknown;
  }
}

delivery_failure cups_failure_of(int32_t status) {
  switch (status) {
    case IPP_STATUS_ERROR_NOT_FOUND:
    case IPP_STATUS_ERROR_GONE:
      return delivery_failure::printer_gone;
    case IPP_STATUS_ERROR_NOT_ACCEPTING_JOBS:
    case IPP_STATUS_ERROR_PRINTER_IS_DEACTIVATED:
      return delivery_failure::printer_stopped;
    case IPP_STATUS_ERROR_SERVICE_UNAVAILABLE:
      return delivery_failure::cups_not_running;
    case IPP_STATUS_ERROR_DOCUMENT_FORMAT_NOT_SUPPORTED:
      return delivery_failure::format_not_printable;
    case IPP_STATUS_ERROR_DOCUMENT_FORMAT_ERROR:
    case IPP_STATUS_ERROR_DOCUMENT_UNPRINTABLE:
      return delivery_failure::document_unreadable;
    default:
      return status >= IPP_STATUS_ERROR_BAD_REQUEST ? delivery_failure::printer_refused
                                                    : delivery_failure::unknown;
  }
}

delivery_failure failure_of(const model::job& job, int32_t status) {
  if (status == 0) return delivery_failure::none;
  if (job.deliveryFailure() != 0) return static_cast<delivery_failure>(job.deliveryFailure());
  if (status >= IPP_STATUS_ERROR_BAD_REQUEST) return cups_failure_of(status);
  if (status > 0) return folder_failure_of(status);
  return delivery_failure::unknown;
}

}  // namespace quorvane
