// The reference for bench_spooler_pdf that does the same work as our PDF path and nothing more: open the file
// with poppler-glib and render every page for printing into a cairo PDF stream whose bytes are dropped. No
// colour management, no options; the gap to it is the cost of our own layers.
//
//   bench_pdf_reference FILE
#include <cairo-pdf.h>
#include <glib.h>
#include <poppler.h>

#include <cstdio>

namespace {

cairo_status_t drop(void*, const unsigned char*, unsigned int) {
  return CAIRO_STATUS_SUCCESS;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: bench_pdf_reference FILE\n");
    return 2;
  }
  GError* failure = nullptr;
  gchar* uri = g_filename_to_uri(argv[1], nullptr, &failure);
  PopplerDocument* document = uri ? poppler_document_new_from_file(uri, nullptr, &failure) : nullptr;
  g_free(uri);
  if (!document) {
    std::fprintf(stderr, "%s\n", failure ? failure->message : "unknown error");
    if (failure) g_error_free(failure);
    return 1;
  }
  cairo_surface_t* surface = nullptr;
  cairo_t* context = nullptr;
  const int count = poppler_document_get_n_pages(document);
  for (int index = 0; index < count; ++index) {
    PopplerPage* page = poppler_document_get_page(document, index);
    double width = 0, height = 0;
    poppler_page_get_size(page, &width, &height);
    if (!surface) {
      surface = cairo_pdf_surface_create_for_stream(drop, nullptr, width, height);
      context = cairo_create(surface);
    } else {
      cairo_pdf_surface_set_size(surface, width, height);
    }
    poppler_page_render_for_printing(page, context);
    cairo_show_page(context);
    g_object_unref(page);
  }
  bool ok = true;
  if (surface) {
    cairo_destroy(context);
    cairo_surface_finish(surface);
    ok = cairo_surface_status(surface) == CAIRO_STATUS_SUCCESS;
    cairo_surface_destroy(surface);
  }
  g_object_unref(document);
  std::printf("%d pages\n", count);
  return ok ? 0 : 1;
}
