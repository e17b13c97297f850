// Pages of raster lines (8-bit grey or 24-bit sRGB, as IPP clients send them) written as a PDF file.
#pragma once

#include <cairo.h>

#include <cstdint>
#include <string>
#include <vector>

namespace quorvane::print_service {

/// The pixel layout of a raster page's lines.
enum class raster_colors { gray8, rgb8 };

/// One PDF document built page by page from raster lines. Each page has the size the raster has at its
/// resolution; its lines are stored as they arrive and drawn when the page ends.
class raster_pdf_writer {
 public:
  /// A writer with no document open.
  raster_pdf_writer() = default;
  /// Discards an unfinished document (its file is removed).
  ~raster_pdf_writer();
  raster_pdf_writer(const raster_pdf_writer&) = delete;
  raster_pdf_writer& operator=(const raster_pdf_writer&) = delete;

  /// Creates the PDF file at `path`. False (nothing created) when it cannot be written.
  bool open(const std::string& path);

  /// Starts a page of `width` x `height` pixels at `x_dpi` x `y_dpi`. False for a size or resolution
  /// that is zero or beyond 100 inches, or without an open document.
  bool start_page(uint32_t width, uint32_t height, uint32_t x_dpi, uint32_t y_dpi, raster_colors colors);

  /// Stores line `y` of the page (width pixels in the page's layout); lines past the page are ignored.
  void write_line(uint32_t y, const unsigned char* line);

  /// Draws the stored lines as the page. False when the document cannot take it.
  bool end_page();

  /// Completes the file. False when it could not be written (the file is removed then).
  bool finish();

  /// The number of pages ended so far.
  uint32_t pages() const { return pages_; }

 private:
  /// Drops the surfaces and, unless `keep`, the file.
  void close(bool keep);

  std::string path_;
  cairo_surface_t* document_ = nullptr;
  cairo_surface_t* page_ = nullptr;
  uint32_t width_ = 0;
  uint32_t height_ = 0;
  double x_scale_ = 1;
  double y_scale_ = 1;
  raster_colors colors_ = raster_colors::gray8;
  uint32_t pages_ = 0;
};

}  // namespace quorvane::print_service
