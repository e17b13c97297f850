// How much the console decodes or renders at once for one image or PDF page: a document over it is refused
// with a reason instead of exhausting memory.
#pragma once

#include <cstdint>
#include <string>

namespace quorvane {

/// The width and the height of the largest raster the console makes for one image or page: an A3 page
/// (297 x 420 mm) at 600 dpi. The budget is their product, whatever the shape: 69,605,736 pixels, 266 MiB at
/// 4 bytes a pixel.
constexpr int64_t render_budget_width = 7016;
constexpr int64_t render_budget_height = 9921;
constexpr int64_t render_budget_pixels = render_budget_width * render_budget_height;
/// The budget in bytes, at 4 bytes a pixel: also the most a PDF may make the process's resident memory grow
/// while it is laid out and rendered.
constexpr int64_t render_budget_bytes = render_budget_pixels * 4;

/// Whether a raster of `width` x `height` pixels fits in the budget; false for a size that is not positive
/// (or not a number).
bool fits_render_budget(double width, double height);

/// The reason a raster of `width` x `height` pixels is refused, after what it is: "65535 x 65535 pixels,
/// more than an A3 page at 600 dpi (7016 x 9921)".
std::string over_render_budget(double width, double height);

/// The highest resolution, at most `wanted` dots per inch, at which an image of a page of `width` x `height`
/// points (its sides rounded up to whole pixels) fits in the budget. 0 for a page without area.
double budget_resolution(double width, double height, double wanted);

/// Watches the process's resident memory while one document is laid out or rendered: poppler keeps a record
/// of every page it has reached until the document is closed, and what it keeps depends on the file (a few
/// KiB a page usually; hundreds of KiB where every page refers to one large resource dictionary, which
/// poppler reads again for each page). The measure is the whole process's, so another job's memory at the
/// same time counts too.
class memory_watch {
 public:
  /// Starts watching from the resident memory now.
  memory_watch();

  /// Whether the resident memory grew by more than `render_budget_bytes` since the start.
  bool exceeded() const;

  /// The resident memory of the process in bytes, from /proc/self/statm; 0 when unknown.
  static int64_t resident_bytes();

 private:
  int64_t start_;
};

}  // namespace quorvane
