#include "spooler/image_library.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>

#include "spooler/render_budget.h"

namespace quorvane {

// A decoded image; the surface is shared by every placement of it.
struct image_library::image {
  cairo_surface_t* surface = nullptr;
  int32_t width = 0;
  int32_t height = 0;
};

struct image_library::placement {
  int32_t image = 0;  // index into document::images
  double left = 0, top = 0, width = 0, height = 0;
};

struct image_library::page {
  double width = 612;
  double height = 792;
  std::vector<placement> placements;
};

struct image_library::document {
  std::vector<image> images;
  std::vector<page> pages{page{}};
  int32_t selected_image = -1;
  int32_t selected_page = 0;
  std::string last_error;
  bool over_budget = false;

  ~document() {
    for (image& i : images) cairo_surface_destroy(i.surface);
  }
};

image_library::image_library() {
  cairo_surface_t* probe = cairo_image_surface_create(CAIRO_FORMAT_RGB24, 1, 1);
  missing_ = cairo_surface_status(probe) != CAIRO_STATUS_SUCCESS;
  cairo_surface_destroy(probe);
}

image_library::~image_library() = default;

image_library::document* image_library::find_locked(int32_t id) {
  auto found = documents_.find(id);
  return found == documents_.end() ? nullptr : found->second.get();
}

int32_t image_library::newDocument() {
  if (missing_) return 0;
  std::lock_guard<std::mutex> hold(lock_);
  const int32_t id = next_id_++;
  documents_.emplace(id, std::make_unique<document>());
  return id;
}

int32_t image_library::releaseDocument(int32_t id) {
  std::unique_ptr<document> gone;
  {
    std::lock_guard<std::mutex> hold(lock_);
    auto found = documents_.find(id);
    if (found == documents_.end()) return 0;
    gone = std::move(found->second);
    documents_.erase(found);
  }
  return 1;
}

namespace {

constexpr unsigned char png_signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};

struct png_reader {
  const std::vector<unsigned char>* bytes;
  size_t offset;
};

cairo_status_t read_png_bytes(void* closure, unsigned char* data, unsigned int length) {
  auto* reader = static_cast<png_reader*>(closure);
  if (reader->bytes->size() - reader->offset < length) return CAIRO_STATUS_READ_ERROR;
  memcpy(data, reader->bytes->data() + reader->offset, length);
  reader->offset += length;
  return CAIRO_STATUS_SUCCESS;
}

bool has_png_signature(const std::vector<unsigned char>& bytes) {
  return bytes.size() >= sizeof png_signature &&
         memcmp(bytes.data(), png_signature, sizeof png_signature) == 0;
}

bool has_jpeg_signature(const std::vector<unsigned char>& bytes) {
  return bytes.size() >= 3 && bytes[0] == 0xff && bytes[1] == 0xd8 && bytes[2] == 0xff;
}

uint32_t big_endian_32(const unsigned char* p) {
  return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
}

cairo_surface_t* decode_png(const std::vector<unsigned char>& bytes, std::string& error) {
  png_reader reader{&bytes, 0};
  cairo_surface_t* surface = cairo_image_surface_create_from_png_stream(read_png_bytes, &reader);
  if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
    error = cairo_status_to_string(cairo_surface_status(surface));
    cairo_surface_destroy(surface);
    return nullptr;
  }
  return surface;
}

}  // namespace

std::optional<image_size> png_header_size(const std::vector<unsigned char>& bytes) {
  // The signature, then the IHDR chunk: its length (13), its type, the width and the height.
  constexpr size_t header_end = sizeof png_signature + 16;
  if (!has_png_signature(bytes) || bytes.size() < header_end ||
      big_endian_32(&bytes[sizeof png_signature]) != 13 ||
      memcmp(&bytes[sizeof png_signature + 4], "IHDR", 4) != 0) {
    return std::nullopt;
  }
  return image_size{big_endian_32(&bytes[sizeof png_signature + 8]),
                    big_endian_32(&bytes[sizeof png_signature + 12])};
}

int32_t image_library::addImageFromFile(int32_t id, const std::string& path, int32_t options) {
  if (missing_ || options != 0) return 0;
  // The file is read and decoded outside the lock: only the document table is shared.
  std::string error;
  bool over_budget = false;
  std::vector<unsigned char> bytes;
  cairo_surface_t* surface = nullptr;
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = "Unable to open image file '" + path + "': " + strerror(errno);
  } else {
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    const bool png = has_png_signature(bytes);
    const bool jpeg = !png && has_jpeg_signature(bytes);
    // The decoders allocate the whole image at the size its header declares, which a few bytes can set to
    // gigabytes: the header is read first. (An image without a readable header is left to its decoder,
    // which fails on it.)
    const std::optional<image_size> declared = png    ? png_header_size(bytes)
                                               : jpeg ? jpeg_header_size(bytes)
                                                      : std::nullopt;
    if (declared && declared->width > 0 && declared->height > 0 &&
        !fits_render_budget(static_cast<double>(declared->width), static_cast<double>(declared->height))) {
      error = "the image is " +
              over_render_budget(static_cast<double>(declared->width), static_cast<double>(declared->height));
      over_budget = true;
    } else if (png) {
      surface = decode_png(bytes, error);
    } else if (jpeg) {
      surface = decode_jpeg(bytes, error);
    } else {
      error = "not a PNG or JPEG image";
    }
  }

  std::lock_guard<std::mutex> hold(lock_);
  document* d = find_locked(id);
  if (!d) {
    if (surface) cairo_surface_destroy(surface);
    return 0;
  }
  if (!surface) {
    d->last_error = error;
    d->over_budget = over_budget;
    return 0;
  }
  d->images.push_back(
      {surface, cairo_image_surface_get_width(surface), cairo_image_surface_get_height(surface)});
  d->selected_image = static_cast<int32_t>(d->images.size()) - 1;
  d->last_error.clear();
  d->over_budget = false;
  return d->selected_image + 1;
}

int32_t image_library::imageWidth(int32_t id) {
  std::lock_guard<std::mutex> hold(lock_);
  document* d = find_locked(id);
  return d && d->selected_image >= 0 ? d->images[d->selected_image].width : 0;
}

int32_t image_library::imageHeight(int32_t id) {
  std::lock_guard<std::mutex> hold(lock_);
  document* d = find_locked(id);
  return d && d->selected_image >= 0 ? d->images[d->selected_image].height : 0;
}

int32_t image_library::setPageDimensions(int32_t id, double width, double height) {
  if (!(width > 0) || !(height > 0)) return 0;
  std::lock_guard<std::mutex> hold(lock_);
  document* d = find_locked(id);
  if (!d) return 0;
  d->pages[d->selected_page].width = width;
  d->pages[d->selected_page].height = height;
  return 1;
}

int32_t image_library::drawImage(int32_t id, double left, double top, double width, double height) {
  if (!(width > 0) || !(height > 0)) return 0;
  std::lock_guard<std::mutex> hold(lock_);
  document* d = find_locked(id);
  if (!d || d->selected_image < 0) return 0;
  d->pages[d->selected_page].placements.push_back({d->selected_image, left, top, width, height});
  return 1;
}

double image_library::pageWidth(int32_t id) {
  std::lock_guard<std::mutex> hold(lock_);
  document* d = find_locked(id);
  return d ? d->pages[d->selected_page].width : 0;
}

double image_library::pageHeight(int32_t id) {
  std::lock_guard<std::mutex> hold(lock_);
  document* d = find_locked(id);
  return d ? d->pages[d->selected_page].height : 0;
}

int32_t image_library::pageCount(int32_t id) {
  std::lock_guard<std::mutex> hold(lock_);
  document* d = find_locked(id);
  return d ? static_cast<int32_t>(d->pages.size()) : 0;
}

int32_t image_library::renderPageToContext(int32_t id, double dpi, int32_t number, cairo_t* context) {
  if (!context || !(dpi > 0)) return 0;
  std::lock_guard<std::mutex> hold(lock_);
  document* d = find_locked(id);
  if (!d || number < 1 || number > static_cast<int32_t>(d->pages.size())) return 0;
  const page& p = d->pages[number - 1];

  cairo_save(context);
  cairo_scale(context, dpi / 72.0, dpi / 72.0);
  cairo_rectangle(context, 0, 0, p.width, p.height);
  cairo_clip(context);
  for (const placement& placed : p.placements) {
    const image& source = d->images[placed.image];
    cairo_save(context);
    // Placements measure `top` upward from the bottom edge; cairo measures downward from the top.
    cairo_translate(context, placed.left, p.height - placed.top);
    cairo_scale(context, placed.width / source.width, placed.height / source.height);
    cairo_set_source_surface(context, source.surface, 0, 0);
    cairo_pattern_set_extend(cairo_get_source(context), CAIRO_EXTEND_PAD);
    cairo_rectangle(context, 0, 0, source.width, source.height);
    cairo_fill(context);
    cairo_restore(context);
  }
  cairo_restore(context);
  return cairo_status(context) == CAIRO_STATUS_SUCCESS ? 1 : 0;
}

std::string image_library::lastError(int32_t id) {
  std::lock_guard<std::mutex> hold(lock_);
  document* d = find_locked(id);
  return d ? d->last_error : std::string();
}

bool image_library::overBudget(int32_t id) {
  std::lock_guard<std::mutex> hold(lock_);
  document* d = find_locked(id);
  return d && d->over_budget;
}

}  // namespace quorvane
