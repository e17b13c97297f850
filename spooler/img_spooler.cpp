#include "core/log.h"
#include "spooler/cups_spooler.h"
#include "spooler/document_stream.h"
#include "spooler/image_library.h"

namespace quorvane {

IMGSpooler::IMGSpooler(image_library& library, model::printer_ptr printer, model::job_ptr job)
    : CupsSpooler(std::move(printer), std::move(job)), library_(library) {}

IMGSpooler::~IMGSpooler() {
  if (document_) library_.releaseDocument(document_);
}

bool IMGSpooler::setup() {
  // A library that cannot work fails the job here, before any of its calls.
  if (library_.missing()) {
    QV_LOG(log_error, "Unable to load the image library");
    fail(-1);
    return false;
  }
  document_ = library_.newDocument();
  if (!document_) {
    QV_LOG(log_error, "Unable to create new document");
    fail(-1);
    return false;
  }
  const std::string& path = path_;
  if (!library_.addImageFromFile(document_, path, /*options=*/0)) {
    if (library_.overBudget(document_)) {
      refuse(library_.lastError(document_));
      return false;
    }
    QV_LOG(log_error, "Unable to load image from file '%s': %s", path.c_str(),
           library_.lastError(document_).c_str());
    fail(-1, delivery_failure::document_unreadable);
    return false;
  }
  const int32_t width = library_.imageWidth(document_);
  const int32_t height = library_.imageHeight(document_);
  orientation_ = height > width ? model::orientation_portrait : model::orientation_landscape;
  if (!library_.setPageDimensions(document_, width, height)) {
    QV_LOG(log_error, "Unable to set page dimensions");
    fail(-1);
    return false;
  }
  if (!library_.drawImage(document_, /*left=*/0, /*top=*/height, width, height)) {
    QV_LOG(log_error, "Unable to draw image");
    fail(-1);
    return false;
  }
  return true;
}

int64_t IMGSpooler::pageCount() const {
  return library_.pageCount(document_);
}

bool IMGSpooler::render(document_stream& out, const device_page& page) {
  const double resolution = render_resolution(page.printable_width, library_.pageWidth(document_));
  if (!(resolution > 0)) {
    QV_LOG(log_error, "Unable to render image '%s': the page has no width", path_.c_str());
    return false;
  }
  const int32_t pages = library_.pageCount(document_);
  for (int32_t copy = 0; copy < renderCopies_; ++copy) {
    for (int32_t number = 1; number <= pages; ++number) {
      cairo_t* context = out.beginPage(page.width, page.height);
      if (!context) {
        QV_LOG(log_error, "Unable to start page %d", number);
        return false;
      }
      cairo_save(context);
      cairo_translate(context, page.left, page.top);
      const int32_t drawn = library_.renderPageToContext(document_, resolution, number, context);
      cairo_restore(context);
      if (!drawn) {
        QV_LOG(log_error, "RenderPageToDC() failed");
        return false;
      }
      if (!out.endPage()) {
        QV_LOG(log_error, "EndPage() failed\n");
        return false;
      }
    }
  }
  return true;
}

}  // namespace quorvane
