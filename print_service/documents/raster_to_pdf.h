// PWG raster and Apple raster (URF) documents, as IPP clients send them, written as PDF without decoding
// their pixels. Both formats compress each line as a repeat count for the line, then runs of one repeated
// pixel or of literal pixels; a PDF image with the RunLengthDecode filter takes almost the same runs, so
// each page's image is transcoded from the compressed lines in time proportional to their size. A line
// that repeats is written again as back-references in a FlateDecode layer over the run-length data (PDF
// has no line repeat), so a page of text stays about as small as the raster.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace quorvane::print_service {

/// Receives the PDF's bytes in order, a block at a time; false stops the conversion (the output cannot
/// take them).
using pdf_sink = std::function<bool(std::string_view bytes)>;

/// What a conversion did.
struct raster_conversion {
  bool ok = false;
  uint32_t pages = 0;  // pages written
  std::string error;   // why it failed, when !ok
};

/// Writes the PWG raster or Apple raster (URF) document `data` as a PDF, one page per raster page with
/// an image of the page's size at its resolution, to `sink` in blocks of about a megabyte. With `max_pages`
/// greater than 0 only that many pages are converted and what follows them is not read. Fails (ok false,
/// `error` says why) for data that is not such a document, a page layout that raster_layout_problem
/// refuses, a document cut short or without a page, and a sink that returns false; the sink may then have
/// received part of a PDF. Never reads outside `data`.
raster_conversion raster_to_pdf(std::string_view data, uint32_t max_pages, const pdf_sink& sink);

/// Converts the raster document in the file open as `raster_fd` (read from its start) into a new PDF file
/// at `pdf_path` (mode 0600, never through a link). `may_write(bytes)` is asked before each block is
/// written; false stops the conversion. On failure the PDF file is removed and `error` says why.
raster_conversion raster_file_to_pdf(int raster_fd, const std::string& pdf_path, uint32_t max_pages,
                                     const std::function<bool(uint64_t bytes)>& may_write);

}  // namespace quorvane::print_service
