// PDF documents read with poppler-glib and rendered, page by page, into a print document.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

namespace quorvane {

class document_stream;
class memory_watch;

/// One loaded PDF file.
class pdf_document {
 public:
  pdf_document() = default;
  /// Releases the document.
  ~pdf_document();
  pdf_document(const pdf_document&) = delete;
  pdf_document& operator=(const pdf_document&) = delete;

  /// Loads the file at `path` (replacing any loaded one). Returns 0 on success, -1 when the file cannot be
  /// opened or is not a PDF document (`error` then says why).
  int32_t load(const std::string& path, std::string& error);

  /// The number of pages (0 when nothing is loaded).
  int32_t pageCount() const;

  /// The number of pages from `first` to `last` as `render` takes them; 0 when the range holds none.
  int32_t rangePageCount(int32_t first, int32_t last) const;

  /// The resolution at which the print document draws as an image what PDF cannot express (cairo's
  /// fallback images), in dots per inch; lowered for a page that would not fit in the render budget at it.
  static constexpr double fallback_resolution = 300;

  /// Why pages `first` to `last` (as `render` takes them) cannot be rendered within the render budget
  /// (render_budget.h): the reason for the first page whose area in square points is larger than the budget
  /// in pixels (poppler draws a page's soft masks and transparency groups at one pixel a point), e.g.
  /// "page 3 measures 200 x 200 inches, drawn at 72 dpi as 14400 x 14400 pixels, more than an A3 page
  /// at 600 dpi (7016 x 9921)"; or, when reaching the pages makes the process's resident memory grow by
  /// more than the budget's bytes (see `memory_watch`), "laying out pages 1 to 612 took more than 266 MiB
  /// of memory". Empty when every page fits, or when the range holds no page.
  std::string rangeOverBudget(int32_t first, int32_t last) const;

  /// Renders pages `first` to `last` (from 1, inclusive) into `out`, each on a page of its own size, one
  /// page at a time with nothing kept from one page to the next. 0 for `first` means from the first page, 0
  /// for `last` to the last page. Returns false when the range holds no page of the document, a page is
  /// over the render budget (see `rangeOverBudget`; nothing of it is drawn), the resident memory grew by
  /// more than the budget's bytes since `watch` started (since the call without one), or the document
  /// stream failed; for the budget, `refusal` (when given) is set to the reason. A print document that
  /// holds several renderings (copies) passes one watch to all, since it keeps a record of every page.
  bool render(document_stream& out, int32_t first, int32_t last, std::string* refusal = nullptr,
              const memory_watch* watch = nullptr) const;

 private:
  /// The pages from `first` to `last` as `render` takes them: (from, to), with from > to when there are none.
  std::pair<int32_t, int32_t> pageRange(int32_t first, int32_t last) const;

  void* document_ = nullptr;  // PopplerDocument*, kept out of this header so that users need not see glib
};

}  // namespace quorvane
