// PDF documents read with poppler-glib and rendered, page by page, into a print document.
#pragma once

#include <cstdint>
#include <string>

namespace quorvane {

class document_stream;

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

  /// Renders pages `first` to `last` (from 1, inclusive) into `out`, each on a page of its own size.
  /// 0 for `first` means from the first page, 0 for `last` to the last page. Returns false when the range
  /// holds no page of the document or the document stream failed.
  bool render(document_stream& out, int32_t first, int32_t last) const;

 private:
  void* document_ = nullptr;  // PopplerDocument*, kept out of this header so that users need not see glib
};

}  // namespace quorvane
