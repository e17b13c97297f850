#include "print_service/raster_to_pdf.h"

#include <cairo-pdf.h>
#include <unistd.h>

#include <cstring>

#include "core/log.h"

namespace quorvane::print_service {
namespace {

// Raster pages beyond this many inches on a side are refused (a corrupt header, not a page).
constexpr uint32_t max_page_inches = 100;

}  // namespace

raster_pdf_writer::~raster_pdf_writer() {
  close(/*keep=*/false);
}

bool raster_pdf_writer::open(const std::string& path) {
  close(/*keep=*/false);
  // The first page sets its own size; this one is only a placeholder.
  cairo_surface_t* surface = cairo_pdf_surface_create(path.c_str(), 612, 792);
  if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
    QV_LOG(log_error, "Unable to create PDF file '%s': %s", path.c_str(),
           cairo_status_to_string(cairo_surface_status(surface)));
    cairo_surface_destroy(surface);
    unlink(path.c_str());
    return false;
  }
  path_ = path;
  document_ = surface;
  pages_ = 0;
  return true;
}

bool raster_pdf_writer::start_page(uint32_t width, uint32_t height, uint32_t x_dpi, uint32_t y_dpi,
                                   raster_colors colors) {
  if (!document_ || page_ || width == 0 || height == 0 || x_dpi == 0 || y_dpi == 0 ||
      width / x_dpi > max_page_inches || height / y_dpi > max_page_inches) {
    return false;
  }
  cairo_surface_t* page =
      cairo_image_surface_create(CAIRO_FORMAT_RGB24, static_cast<int>(width), static_cast<int>(height));
  if (cairo_surface_status(page) != CAIRO_STATUS_SUCCESS) {
    cairo_surface_destroy(page);
    return false;
  }
  // Lines that never arrive stay white, as on paper.
  cairo_surface_flush(page);
  std::memset(cairo_image_surface_get_data(page), 0xff,
              static_cast<size_t>(cairo_image_surface_get_stride(page)) * height);
  cairo_surface_mark_dirty(page);
  page_ = page;
  width_ = width;
  height_ = height;
  x_scale_ = 72.0 / x_dpi;
  y_scale_ = 72.0 / y_dpi;
  colors_ = colors;
  cairo_pdf_surface_set_size(document_, width * x_scale_, height * y_scale_);
  return true;
}

void raster_pdf_writer::write_line(uint32_t y, const unsigned char* line) {
  if (!page_ || y >= height_) return;
  auto* row = reinterpret_cast<uint32_t*>(cairo_image_surface_get_data(page_) +
                                          static_cast<size_t>(cairo_image_surface_get_stride(page_)) * y);
  if (colors_ == raster_colors::gray8) {
    for (uint32_t x = 0; x < width_; ++x) row[x] = 0xff000000u | line[x] * 0x010101u;
  } else {
    for (uint32_t x = 0; x < width_; ++x, line += 3) {
      row[x] = 0xff000000u | (uint32_t{line[0]} << 16) | (uint32_t{line[1]} << 8) | line[2];
    }
  }
}

bool raster_pdf_writer::end_page() {
  if (!document_ || !page_) return false;
  cairo_surface_mark_dirty(page_);
  cairo_t* cr = cairo_create(document_);
  cairo_scale(cr, x_scale_, y_scale_);
  cairo_set_source_surface(cr, page_, 0, 0);
  cairo_paint(cr);
  cairo_show_page(cr);
  const cairo_status_t status = cairo_status(cr);
  cairo_destroy(cr);
  cairo_surface_destroy(page_);
  page_ = nullptr;
  if (status != CAIRO_STATUS_SUCCESS) {
    QV_LOG(log_error, "Unable to write page %u of '%s': %s", pages_ + 1, path_.c_str(),
           cairo_status_to_string(status));
    return false;
  }
  ++pages_;
  return true;
}

bool raster_pdf_writer::finish() {
  if (!document_) return false;
  if (page_ && !end_page()) {
    close(/*keep=*/false);
    return false;
  }
  cairo_surface_finish(document_);
  const cairo_status_t status = cairo_surface_status(document_);
  const bool ok = status == CAIRO_STATUS_SUCCESS && pages_ > 0;
  if (!ok) {
    QV_LOG(log_error, "Unable to write PDF file '%s': %s", path_.c_str(),
           pages_ ? cairo_status_to_string(status) : "no page");
  }
  close(/*keep=*/ok);
  return ok;
}

void raster_pdf_writer::close(bool keep) {
  if (page_) cairo_surface_destroy(page_);
  page_ = nullptr;
  if (document_) {
    cairo_surface_destroy(document_);
    if (!keep) unlink(path_.c_str());
  }
  document_ = nullptr;
}

}  // namespace quorvane::print_service
