#include "spooler/pdf_document.h"

#include <poppler.h>

#include <algorithm>

#include "spooler/document_stream.h"

namespace quorvane {

namespace {
PopplerDocument* as_document(void* p) {
  return static_cast<PopplerDocument*>(p);
}
}  // namespace

pdf_document::~pdf_document() {
  if (document_) g_object_unref(as_document(document_));
}

int32_t pdf_document::load(const std::string& path, std::string& error) {
  if (document_) {
    g_object_unref(as_document(document_));
    document_ = nullptr;
  }
  GError* failure = nullptr;
  gchar* uri = g_filename_to_uri(path.c_str(), nullptr, &failure);
  if (uri) {
    document_ = poppler_document_new_from_file(uri, nullptr, &failure);
    g_free(uri);
  }
  if (!document_) {
    error = failure ? failure->message : "unknown error";
    if (failure) g_error_free(failure);
    return -1;
  }
  return 0;
}

int32_t pdf_document::pageCount() const {
  return document_ ? poppler_document_get_n_pages(as_document(document_)) : 0;
}

bool pdf_document::render(document_stream& out, int32_t first, int32_t last) const {
  const int32_t count = pageCount();
  const int32_t from = first > 0 ? first : 1;
  const int32_t to = last > 0 ? std::min(last, count) : count;
  if (from > to) return false;
  for (int32_t number = from; number <= to; ++number) {
    PopplerPage* page = poppler_document_get_page(as_document(document_), number - 1);
    if (!page) return false;
    double width = 0, height = 0;
    poppler_page_get_size(page, &width, &height);
    cairo_t* context = out.beginPage(width, height);
    if (context) {
      cairo_save(context);
      poppler_page_render_for_printing(page, context);
      cairo_restore(context);
    }
    g_object_unref(page);
    if (!context || !out.endPage()) return false;
  }
  return true;
}

}  // namespace quorvane
