#include "spooler/document_stream.h"

#include <cairo-pdf.h>

#include <cstdio>
#include <string>
#include <utility>

namespace quorvane {

namespace {

// A PDF of no pages: cairo cannot write one (a surface finished without a page gets a blank page, which a
// printer would print).
std::string empty_pdf() {
  const char* objects[] = {"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [] /Count 0 >>"};
  std::string pdf = "%PDF-1.4\n";
  std::string xref = "xref\n0 3\n0000000000 65535 f \n";
  for (int n = 0; n < 2; ++n) {
    char entry[32];
    std::snprintf(entry, sizeof entry, "%010zu 00000 n \n", pdf.size());
    xref += entry;
    pdf += std::to_string(n + 1) + " 0 obj\n" + objects[n] + "\nendobj\n";
  }
  const size_t start = pdf.size();
  return pdf + xref + "trailer\n<< /Size 3 /Root 1 0 R >>\nstartxref\n" + std::to_string(start) + "\n%%EOF\n";
}

}  // namespace

document_stream::document_stream(sink out) : out_(std::move(out)) {}

document_stream::~document_stream() {
  if (context_) cairo_destroy(context_);
  if (surface_) cairo_surface_destroy(surface_);
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
  if (sink_failed_) return false;
  return !surface_ || (cairo_surface_status(surface_) == CAIRO_STATUS_SUCCESS &&
                       cairo_status(context_) == CAIRO_STATUS_SUCCESS);
}

cairo_t* document_stream::beginPage(double width, double height) {
  if (!ok() || finished_) return nullptr;
  // The surface comes with the first page, so that a document without pages stays empty.
  if (!surface_) {
    surface_ = cairo_pdf_surface_create_for_stream(write, this, width, height);
    context_ = cairo_create(surface_);
  } else {
    cairo_pdf_surface_set_size(surface_, width, height);
  }
  return ok() ? context_ : nullptr;
}

void document_stream::setFallbackResolution(double dpi) {
  // cairo applies the resolution in effect when the page is shown, so each page gets its own.
  if (surface_ && dpi > 0) cairo_surface_set_fallback_resolution(surface_, dpi, dpi);
}

bool document_stream::endPage() {
  if (finished_ || !context_) return false;
  cairo_show_page(context_);
  if (!ok()) return false;
  ++pages_;
  return true;
}

bool document_stream::finish() {
  if (!finished_) {
    finished_ = true;
    if (surface_) {
      cairo_surface_finish(surface_);
    } else {
      const std::string pdf = empty_pdf();
      write(this, reinterpret_cast<const unsigned char*>(pdf.data()), static_cast<unsigned int>(pdf.size()));
    }
  }
  return ok();
}

}  // namespace quorvane
