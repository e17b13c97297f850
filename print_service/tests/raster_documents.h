// Raster documents for the tests: written and read by libcups, and PDF rendered by poppler to compare
// with them pixel by pixel.
#pragma once

#include <cups/raster.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace quorvane::print_service::testing {

/// A page to write with libcups: its layout (a PWG raster type name) and its pixels, line by line.
struct page_spec {
  const char* type;  // sgray_8, black_8, srgb_8, adobe-rgb_8, cmyk_8
  unsigned width;
  unsigned height;
  unsigned x_dpi;
  unsigned y_dpi;
  std::function<unsigned char(unsigned x, unsigned y, unsigned byte)> pixel;  // byte of the pixel
};

/// The pages written by libcups as a raster document of `mode` (CUPS_RASTER_WRITE_PWG or _APPLE).
std::string write_with_cups(cups_mode_t mode, const std::vector<page_spec>& pages);

/// A page as libcups reads it.
struct decoded_page {
  cups_page_header2_t header;
  std::vector<unsigned char> pixels;
};

/// The pages libcups reads from `data`, as far as it reads whole pages.
std::vector<decoded_page> read_with_cups(const std::string& data);

/// A PDF page rendered by poppler.
struct rendered_page {
  double width = 0;  // points
  double height = 0;
  int columns = 0;  // pixels
  int rows = 0;
  std::vector<uint32_t> pixels;  // 0xRRGGBB
};

/// The pages of `pdf` rendered at `x_dpi` x `y_dpi`; empty (and a test failure) when poppler cannot open it.
std::vector<rendered_page> render(const std::string& pdf, unsigned x_dpi, unsigned y_dpi);

/// Expects `pdf` to show the pages of the raster document `raster` as libcups reads them: one PDF page
/// per raster page, of its size at its resolution, every pixel the same ("got X, want Y" at the first
/// difference).
void expect_pdf_shows_raster(const std::string& pdf, const std::string& raster);

}  // namespace quorvane::print_service::testing
