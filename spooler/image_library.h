// A small image library over cairo (PNG) and libjpeg-turbo (JPEG): documents of pages on which images are
// placed, each page rendered into any cairo context at a chosen resolution.
#pragma once

#include <cairo.h>

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace quorvane {

/// The image library shared by every image job of the process. Each job works on its own document, named by
/// the id that `newDocument` returns; every call takes the library's lock, so jobs on several threads use it
/// safely (rendering is serialised).
///
/// Units: a page is measured in points (72 to the inch), as are the image's width and height as placed by
/// `drawImage` (one image pixel is one point unless it is scaled).
class image_library {
 public:
  /// Checks that the rendering back-ends work; `missing()` tells the outcome.
  image_library();
  ~image_library();
  image_library(const image_library&) = delete;
  image_library& operator=(const image_library&) = delete;

  /// True when the library cannot work (cairo cannot make an image surface); every call then fails.
  bool missing() const { return missing_; }

  /// Starts a new document with one empty Letter page (612 x 792 points). Returns its id (> 0), 0 on failure.
  int32_t newDocument();

  /// Releases a document and its images. Returns 1, or 0 when the id is unknown.
  int32_t releaseDocument(int32_t document);

  /// Decodes a PNG or JPEG file (recognised by its content, not its name) and makes it the document's
  /// selected image. Returns the image's id (> 0), or 0 when the file cannot be read, is not a PNG or JPEG,
  /// or its header declares more pixels than the render budget (render_budget.h; then nothing is decoded
  /// and `overBudget` is true); `lastError` says why. `options` is reserved and must be 0.
  int32_t addImageFromFile(int32_t document, const std::string& path, int32_t options);

  /// Width of the selected image in pixels; 0 when there is none.
  int32_t imageWidth(int32_t document);

  /// Height of the selected image in pixels; 0 when there is none.
  int32_t imageHeight(int32_t document);

  /// Sets the size of the selected page in points. Returns 0 when a dimension is not positive or the
  /// document is unknown, else 1.
  int32_t setPageDimensions(int32_t document, double width, double height);

  /// Places the selected image on the selected page: left edge `left`, top edge `top` measured upward from
  /// the bottom of the page, scaled to `width` x `height`. Returns 0 without a selected image or with a size
  /// that is not positive, else 1.
  int32_t drawImage(int32_t document, double left, double top, double width, double height);

  /// Width of the selected page in points; 0 when the document is unknown.
  double pageWidth(int32_t document);

  /// Height of the selected page in points; 0 when the document is unknown.
  double pageHeight(int32_t document);

  /// Number of pages; 0 when the document is unknown.
  int32_t pageCount(int32_t document);

  /// Draws page `page` (from 1) into `context` at `dpi` dots per inch, with the page's top left corner at
  /// the context's origin (the context's unit is taken as one device dot). Returns 0 on failure (unknown
  /// document or page, resolution not positive, a cairo error), else 1.
  int32_t renderPageToContext(int32_t document, double dpi, int32_t page, cairo_t* context);

  /// The reason of the last failed `addImageFromFile` on the document; empty when none.
  std::string lastError(int32_t document);

  /// Whether the last failed `addImageFromFile` on the document refused an image over the render budget.
  bool overBudget(int32_t document);

 private:
  struct image;
  struct placement;
  struct page;
  struct document;

  /// The document with id `id`, or null; needs `lock_` held.
  document* find_locked(int32_t id);

  std::mutex lock_;
  std::map<int32_t, std::unique_ptr<document>> documents_;  // guarded by lock_
  int32_t next_id_ = 1;                                     // guarded by lock_
  bool missing_ = false;
};

/// The size in pixels that an image's header declares, read without decoding anything.
struct image_size {
  int64_t width = 0;
  int64_t height = 0;
};

/// The size a PNG's header (IHDR) declares; nothing when `bytes` hold no PNG header.
std::optional<image_size> png_header_size(const std::vector<unsigned char>& bytes);

/// The size the frame header (SOFn) of a JPEG declares; nothing when `bytes` hold none before the first scan.
std::optional<image_size> jpeg_header_size(const std::vector<unsigned char>& bytes);

/// Decodes a JPEG image into a cairo RGB24 surface that carries the original bytes as its JPEG data (so
/// that PDF output embeds them unchanged). Returns null and sets `error` when the bytes are not a JPEG image
/// that can be decoded, or one larger than the render budget.
cairo_surface_t* decode_jpeg(const std::vector<unsigned char>& bytes, std::string& error);

}  // namespace quorvane
