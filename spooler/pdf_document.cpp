#include "spooler/pdf_document.h"

#include <poppler.h>

#include <algorithm>
#include <cstdio>
#include <utility>

#include "spooler/document_stream.h"
#include "spooler/render_budget.h"

namespace quorvane {

namespace {
PopplerDocument* as_document(void* p) {
  return static_cast<PopplerDocument*>(p);
}

// Why page `number` of `width` x `height` points is over the render budget; empty when it fits. Poppler draws
// soft masks and transparency groups into images at the print document's unit, one pixel a point, whatever
// the fallback resolution: a page of more square points than the budget holds pixels cannot be drawn
// within it at all.
// The reason for stopping after `pages` pages that took more memory than the budget.
std::string memory_over_budget(const char* doing, int32_t first, int32_t last) {
  return std::string(doing) + " pages " + std::to_string(first) + " to " + std::to_string(last) +
         " took more than " + std::to_string((render_budget_bytes + (1 << 19)) >> 20) + " MiB of memory";
}

std::string page_over_budget(int32_t number, double width, double height) {
  if (!(width > 0) || !(height > 0)) return "page " + std::to_string(number) + " has no size";
  if (fits_render_budget(width, height)) return {};
  const auto inches = [](double points) {
    char text[32];
    std::snprintf(text, sizeof text, "%.4g", points / 72);
    return std::string(text);
  };
  return "page " + std::to_string(number) + " measures " + inches(width) + " x " + inches(height) +
         " inches, drawn at 72 dpi as " + over_render_budget(width, height);
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

std::pair<int32_t, int32_t> pdf_document::pageRange(int32_t first, int32_t last) const {
  const int32_t count = pageCount();
  return {first > 0 ? first : 1, last > 0 ? std::min(last, count) : count};
}

int32_t pdf_document::rangePageCount(int32_t first, int32_t last) const {
  const auto [from, to] = pageRange(first, last);
  return from > to ? 0 : to - from + 1;
}

std::string pdf_document::rangeOverBudget(int32_t first, int32_t last) const {
  const auto [from, to] = pageRange(first, last);
  const memory_watch memory;
  for (int32_t number = from; number <= to; ++number) {
    PopplerPage* page = poppler_document_get_page(as_document(document_), number - 1);
    if (!page) return {};
    double width = 0, height = 0;
    poppler_page_get_size(page, &width, &height);
    g_object_unref(page);
    std::string reason = page_over_budget(number, width, height);
    if (!reason.empty()) return reason;
    // Poppler keeps what it read of each page reached until the document closes.
    if (memory.exceeded()) return memory_over_budget("laying out", from, number);
  }
  return {};
}

bool pdf_document::render(document_stream& out, int32_t first, int32_t last, std::string* refusal,
                          const memory_watch* watch) const {
  const auto [from, to] = pageRange(first, last);
  if (from > to) return false;
  const memory_watch own;
  const memory_watch& memory = watch ? *watch : own;
  const auto refuse = [refusal](std::string reason) {
    if (refusal) *refusal = std::move(reason);
    return false;
  };
  for (int32_t number = from; number <= to; ++number) {
    PopplerPage* page = poppler_document_get_page(as_document(document_), number - 1);
    if (!page) return false;
    double width = 0, height = 0;
    poppler_page_get_size(page, &width, &height);
    std::string reason = page_over_budget(number, width, height);
    cairo_t* context = reason.empty() ? out.beginPage(width, height) : nullptr;
    if (context) {
      // What cairo must draw as an image is drawn at a resolution at which the page fits in the budget.
      out.setFallbackResolution(budget_resolution(width, height, fallback_resolution));
      cairo_save(context);
      poppler_page_render_for_printing(page, context);
      cairo_restore(context);
    }
    g_object_unref(page);
    if (!reason.empty()) return refuse(std::move(reason));
    if (!context || !out.endPage()) return false;
    // The print document keeps the fonts of every page until it is finished, poppler its page records.
    if (memory.exceeded()) return refuse(memory_over_budget("rendering", from, number));
  }
  return true;
}

}  // namespace quorvane
