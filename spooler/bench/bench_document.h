// The test document of the PDF benchmarks: office pages made with cairo.
#pragma once

#include <cairo-pdf.h>

#include <cmath>
#include <cstdio>
#include <string>

#include "spooler/document_stream.h"
#include "spooler/pdf_document.h"

namespace quorvane::bench {

// A document with text (`lines` lines a page), vector shapes and (when `image`) an image on every page, like
// a typical office print.
inline bool make_document(const std::string& path, int pages, int lines = 50, bool image = true) {
  cairo_surface_t* photo = cairo_image_surface_create(CAIRO_FORMAT_RGB24, 400, 300);
  cairo_t* p = cairo_create(photo);
  for (int y = 0; y < 300; y += 10) {
    for (int x = 0; x < 400; x += 10) {
      cairo_set_source_rgb(p, x / 400.0, y / 300.0, std::fmod(x * y, 7) / 7.0);
      cairo_rectangle(p, x, y, 10, 10);
      cairo_fill(p);
    }
  }
  cairo_destroy(p);
  cairo_surface_t* surface = cairo_pdf_surface_create(path.c_str(), 595, 842);
  cairo_t* cr = cairo_create(surface);
  cairo_select_font_face(cr, "sans-serif", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
  cairo_set_font_size(cr, 10);
  for (int n = 0; n < pages; ++n) {
    cairo_set_source_rgb(cr, 0, 0, 0);
    for (int line = 0; line < lines; ++line) {
      char text[128];
      std::snprintf(text, sizeof text,
                    "Page %d, line %d: the quick brown fox jumps over the lazy dog 0123456789", n + 1,
                    line + 1);
      cairo_move_to(cr, 50, 60 + line * 12);
      cairo_show_text(cr, text);
    }
    cairo_set_source_rgb(cr, 0.2, 0.4, 0.8);
    cairo_arc(cr, 450, 720, 60, 0, 2 * M_PI);
    cairo_fill(cr);
    if (image) {
      cairo_save(cr);
      cairo_translate(cr, 50, 680);
      cairo_scale(cr, 0.5, 0.5);
      cairo_set_source_surface(cr, photo, 0, 0);
      cairo_paint(cr);
      cairo_restore(cr);
    }
    cairo_show_page(cr);
  }
  cairo_destroy(cr);
  cairo_surface_finish(surface);
  const bool ok = cairo_surface_status(surface) == CAIRO_STATUS_SUCCESS;
  cairo_surface_destroy(surface);
  cairo_surface_destroy(photo);
  return ok;
}

// What the PDF print path does with FILE once loaded, with the bytes dropped instead of sent to CUPS: the
// pages are measured against the render budget, then rendered one at a time. Returns the exit status of
// the measured child: 0, or 1 with the reason on standard error.
inline int render_as_printed(const char* file) {
  quorvane::pdf_document document;
  std::string error;
  if (document.load(file, error) != 0) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  if (const std::string reason = document.rangeOverBudget(0, 0); !reason.empty()) {
    std::fprintf(stderr, "%s\n", reason.c_str());
    return 1;
  }
  quorvane::document_stream out([](const unsigned char*, size_t) { return true; });
  if (!document.render(out, 0, 0, &error) || !out.finish()) {
    std::fprintf(stderr, "Unable to render '%s' %s\n", file, error.c_str());
    return 1;
  }
  std::printf("%d pages, %zu bytes\n", out.pageCount(), out.bytesWritten());
  return 0;
}

}  // namespace quorvane::bench
