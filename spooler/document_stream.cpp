#include "spooler/document_stream.h"

#include <cairo-pdf.h>

#include <utility>

namespace quorvane {

document_stream::document_stream(sink out) : out_(std::move(out)) {
  // The size is set again for every page.
  surface_ = cairo_pdf_surface_create_for_stream(write, this, 612, 792);
  context_ = cairo_create(surface_);
}

document_stream::~document_stream() {
  cairo_destroy(context_);
  cairo_surface_destroy(surface_);
}

cairo_status_t document_stream::write(void* closure, const unsigned char* data, unsigned int length) {
  auto* self = static_cast<document_stream*>(closure);
  if (self->sink_failed_ || !self->out_(data, length)) {
    self->sink_failed_ = true;
    return CAIRO_STATUS_WRITE_ERROR;
  }
  self->written_ += length;
  return CAIRO_STATUS_SUCCESS;
}

bool document_stream::ok() const {
  return !sink_failed_ && cairo_surface_status(surface_) == CAIRO_STATUS_SUCCESS &&
         cairo_status(context_) == CAIRO_STATUS_SUCCESS;
}

cairo_t* document_stream::beginPage(double width, double height) {
  if (!ok() || finished_) return nullptr;
  cairo_pdf_surface_set_size(surface_, width, height);
  return ok() ? context_ : nullptr;
}

bool document_stream::endPage() {
  if (finished_) return false;
  cairo_show_page(context_);
  if (!ok()) return false;
  ++pages_;
  return true;
}

bool document_stream::finish() {
  if (!finished_) {
    finished_ = true;
    cairo_surface_finish(surface_);
  }
  return ok();
}

}  // namespace quorvane
