// The print document: a cairo PDF surface whose bytes stream into a sink as pages are finished.
#pragma once

#include <cairo.h>

#include <cstddef>
#include <functional>

namespace quorvane {

/// A PDF document written page by page into a sink (the CUPS document of a job, or nothing at all).
class document_stream {
 public:
  /// Receives the next bytes of the document; returns false to stop the document (write failure).
  using sink = std::function<bool(const unsigned char* data, size_t size)>;

  /// Prepares the document; the PDF surface is made with the first page.
  explicit document_stream(sink out);
  /// Releases the context and the surface (finishing the document if `finish` was not called).
  ~document_stream();
  document_stream(const document_stream&) = delete;
  document_stream& operator=(const document_stream&) = delete;

  /// False once the surface is in error (cairo could not make it, or drawing failed) or the sink refused
  /// bytes.
  bool ok() const;

  /// Starts a page of `width` x `height` points and returns the context to draw it on (one point per unit),
  /// or null when the document has failed.
  cairo_t* beginPage(double width, double height);

  /// Sets the resolution, in dots per inch, at which the page begun last draws as an image what PDF cannot
  /// express (cairo's fallback images; 300 unless set). Does nothing without a page or for a resolution
  /// that is not positive.
  void setFallbackResolution(double dpi);

  /// Ends the page begun last. Returns false when the document has failed.
  bool endPage();

  /// Writes the rest of the document (fonts, cross references) into the sink; a document without pages
  /// becomes a PDF of no pages. Returns false when anything failed, now or before.
  bool finish();

  /// The number of pages ended so far.
  int pageCount() const { return pages_; }

  /// The number of bytes the sink accepted.
  size_t bytesWritten() const { return written_; }

 private:
  /// cairo's write callback: hands the bytes to the sink.
  static cairo_status_t write(void* closure, const unsigned char* data, unsigned int length);

  sink out_;
  cairo_surface_t* surface_ = nullptr;
  cairo_t* context_ = nullptr;
  bool sink_failed_ = false;
  bool finished_ = false;
  int pages_ = 0;
  size_t written_ = 0;
};

}  // namespace quorvane
