// The coding that PWG raster and Apple raster (URF) share, read from any source of bytes: the PDF
// converter reads a document in memory, the service's reader of PAPPL's raster stream reads the device's
// connection. Also the pages' layouts and colour spaces, and which layouts are converted.
//
// A source has `bool need(size_t n)` (makes the next n bytes available; false when fewer remain),
// `const unsigned char* data()` (the next byte) and `void skip(size_t n)` (consumes n available bytes).
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

namespace quorvane::print_service {

/// The colour spaces of raster pages, numbered as in the PWG raster header.
enum class raster_color_space : uint32_t {
  gray = 0,    // additive grey, 0 is black
  rgb = 1,     // device RGB
  black = 3,   // subtractive grey, 0 is white
  sgray = 18,  // sGray
  srgb = 19,   // sRGB
  adobe_rgb = 20,
};

/// One raster page's layout, as its header gives it.
struct raster_page_layout {
  uint32_t width = 0;   // pixels
  uint32_t height = 0;  // lines
  uint32_t x_dpi = 0;
  uint32_t y_dpi = 0;
  uint32_t bits_per_pixel = 0;
  uint32_t bits_per_color = 0;
  uint32_t bytes_per_line = 0;
  uint32_t color_order = 0;  // 0: chunked (the pixel's colours together)
  uint32_t color_space = 0;  // raster_color_space
  uint32_t colors = 0;       // colours per pixel
};

/// Why pages of `layout` cannot be converted, or "" when they can: 8-bit grey (sgray_8, black_8) and
/// 24-bit RGB (srgb_8, adobe-rgb_8), chunked, with a size up to 100 inches and 65,535 pixels a side.
std::string raster_layout_problem(const raster_page_layout& layout);

namespace raster_format {

// PWG raster: "RaS2" (big-endian; "2SaR" little-endian), then per page a header with the fields of CUPS's
// version 2 page header, each a 32-bit word at these offsets, and the page's lines.
constexpr size_t pwg_file_header_size = 4;
constexpr size_t pwg_header_size = 1796;
constexpr size_t pwg_resolution = 276;  // x, then y
constexpr size_t pwg_width = 372;
constexpr size_t pwg_height = 376;
constexpr size_t pwg_bits_per_color = 384;
constexpr size_t pwg_bits_per_pixel = 388;
constexpr size_t pwg_bytes_per_line = 392;
constexpr size_t pwg_color_order = 396;
constexpr size_t pwg_color_space = 400;
constexpr size_t pwg_colors = 420;
// The words from here on (81 of them) are numbers; the rest of the header is text.
constexpr size_t pwg_first_number = 256;
constexpr size_t pwg_numbers = 81;

// The words of the PWG raster page header that libcups gives as enumerations, with the last value each may
// hold (0 to `last`); the colour space has its own gaps (is_pwg_color_space).
struct enumerated_field {
  size_t offset;
  const char* name;
  uint32_t last;
};
constexpr enumerated_field pwg_enumerated_fields[] = {
    {260, "AdvanceMedia", 4}, {264, "Collate", 1},
    {268, "CutMedia", 4},     {272, "Duplex", 1},
    {300, "InsertSheet", 1},  {304, "Jog", 3},
    {308, "LeadingEdge", 3},  {320, "ManualFeed", 1},
    {332, "MirrorPrint", 1},  {336, "NegativePrint", 1},
    {344, "Orientation", 3},  {348, "OutputFaceUp", 1},
    {360, "Separations", 1},  {364, "TraySwitch", 1},
    {368, "Tumble", 1},       {pwg_color_order, "cupsColorOrder", 2},
};
// The page count of the document (0: not known), in the first of the header's integers.
constexpr size_t pwg_total_page_count = 452;

/// Whether `space` is a colour space libcups names (cups_cspace_t): 0-20, ICC 32-46, DeviceN 48-62.
inline bool is_pwg_color_space(uint32_t space) {
  return space <= 20 || (space >= 32 && space <= 46) || (space >= 48 && space <= 62);
}

// Apple raster: "UNIRAST\0" and a page count, then per page a 32-byte header of bits per pixel, colour
// space, duplex, quality, media type and position (one byte each), reserved bytes, then big-endian width,
// height and resolution, and the page's lines.
constexpr size_t urf_file_header_size = 12;
constexpr size_t urf_header_size = 32;

/// What a document is, from its first bytes.
struct document_kind {
  bool urf = false;
  bool big_endian = true;
  size_t file_header_size = 0;
  size_t page_header_size = 0;
};

/// 32-bit words in either byte order.
inline uint32_t big_endian(const unsigned char* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}
inline uint32_t little_endian(const unsigned char* p) {
  return (uint32_t{p[3]} << 24) | (uint32_t{p[2]} << 16) | (uint32_t{p[1]} << 8) | p[0];
}

/// The kind of the document whose first 4 bytes are `first`; false with `error` for anything but
/// compressed PWG raster (either byte order) or Apple raster.
inline bool identify(const unsigned char* first, document_kind& kind, std::string& error) {
  if (std::memcmp(first, "RaS2", 4) == 0 || std::memcmp(first, "2SaR", 4) == 0) {
    kind = {false, first[0] == 'R', pwg_file_header_size, pwg_header_size};
    return true;
  }
  if (std::memcmp(first, "UNIR", 4) == 0) {
    kind = {true, true, urf_file_header_size, urf_header_size};
    return true;
  }
  error = std::memcmp(first, "RaS", 3) == 0 || std::memcmp(first + 1, "SaR", 3) == 0
              ? "uncompressed CUPS raster is not taken"
              : "the document is not PWG raster or Apple raster";
  return false;
}

/// The colours per pixel of a PWG colour space, for headers that leave the count 0; 0 when unknown.
inline uint32_t colors_of(uint32_t color_space) {
  switch (static_cast<raster_color_space>(color_space)) {
    case raster_color_space::gray:
    case raster_color_space::black:
    case raster_color_space::sgray:
      return 1;
    case raster_color_space::rgb:
    case raster_color_space::srgb:
    case raster_color_space::adobe_rgb:
      return 3;
  }
  return 0;
}

/// The byte a line's "blank to the end" code repeats: white in additive colour spaces, no ink otherwise.
inline unsigned char fill_byte(uint32_t color_space) {
  switch (static_cast<raster_color_space>(color_space)) {
    case raster_color_space::gray:
    case raster_color_space::rgb:
    case raster_color_space::sgray:
    case raster_color_space::srgb:
    case raster_color_space::adobe_rgb:
      return 0xff;
    case raster_color_space::black:
      return 0x00;
  }
  return 0x00;
}

/// A 32-bit word of a PWG raster page header `h` at `offset`.
inline uint32_t pwg_word(const unsigned char* h, const document_kind& kind, size_t offset) {
  return kind.big_endian ? big_endian(h + offset) : little_endian(h + offset);
}

/// Why the PWG raster page header `h` holds a value that its field cannot take (a colour order other than
/// 0, 1 or 2, say), or "" when every enumerated field holds one of its values. Read as integers, before any
/// of them becomes an enumeration.
inline std::string pwg_header_problem(const unsigned char* h, const document_kind& kind) {
  for (const enumerated_field& field : pwg_enumerated_fields) {
    const uint32_t value = pwg_word(h, kind, field.offset);
    if (value > field.last) {
      return std::string("its ") + field.name + " is " + std::to_string(value) + ", not 0 to " +
             std::to_string(field.last);
    }
  }
  if (const uint32_t space = pwg_word(h, kind, pwg_color_space); !is_pwg_color_space(space)) {
    return "its colour space " + std::to_string(space) + " is none that PWG raster defines";
  }
  return {};
}

/// Apple raster's colour spaces as PWG numbers them (48: a device colour space), and their colours.
constexpr uint32_t urf_color_spaces[] = {18, 19, 15, 20, 0, 1, 6};
constexpr uint32_t urf_colors[] = {1, 3, 3, 3, 1, 3, 4};
constexpr size_t urf_known_spaces = sizeof(urf_color_spaces) / sizeof(urf_color_spaces[0]);

/// The layout that the page header `h` (page_header_size bytes) gives.
inline raster_page_layout layout_of(const unsigned char* h, const document_kind& kind) {
  raster_page_layout layout;
  if (!kind.urf) {
    const auto word = [&](size_t offset) { return pwg_word(h, kind, offset); };
    layout.x_dpi = word(pwg_resolution);
    layout.y_dpi = word(pwg_resolution + 4);
    layout.width = word(pwg_width);
    layout.height = word(pwg_height);
    layout.bits_per_color = word(pwg_bits_per_color);
    layout.bits_per_pixel = word(pwg_bits_per_pixel);
    layout.bytes_per_line = word(pwg_bytes_per_line);
    layout.color_order = word(pwg_color_order);
    layout.color_space = word(pwg_color_space);
    layout.colors = word(pwg_colors);
    if (layout.colors == 0) layout.colors = colors_of(layout.color_space);
    return layout;
  }
  layout.bits_per_pixel = h[0];
  layout.color_space = h[1] < urf_known_spaces ? urf_color_spaces[h[1]] : 48;
  layout.colors = h[1] < urf_known_spaces ? urf_colors[h[1]] : 1;
  layout.bits_per_color = layout.bits_per_pixel / layout.colors;
  layout.width = big_endian(h + 12);
  layout.height = big_endian(h + 16);
  layout.x_dpi = layout.y_dpi = big_endian(h + 20);
  layout.bytes_per_line = static_cast<uint32_t>(uint64_t{layout.width} * layout.bits_per_pixel / 8);
  layout.color_order = 0;
  return layout;
}

/// Reads one line of a page of `layout` (which raster_layout_problem accepted) from `source`: a count of
/// the times the line repeats beyond the first, then codes until the line is full: 0-127, one pixel
/// repeated n+1 times; 129-255, 257-n literal pixels; 128, the rest of the line blank. Runs reaching past
/// the line are cut at its end, as CUPS's reader does. `line` receives `fill(byte, bytes)`,
/// `literal(bytes, size)` and `repeat_pixel(pixel, pixel_size, count)`; `copies` the line's count.
/// False when the source ends first.
template <class Source, class Line>
bool read_line(Source& source, const raster_page_layout& layout, uint32_t& copies, Line& line) {
  const size_t pixel = layout.bits_per_pixel / 8;
  if (!source.need(1)) return false;
  copies = source.data()[0] + 1u;
  source.skip(1);
  size_t left = layout.bytes_per_line;
  while (left > 0) {
    if (!source.need(1)) return false;
    const unsigned char code = source.data()[0];
    source.skip(1);
    if (code == 128) {
      line.fill(fill_byte(layout.color_space), left);
      left = 0;
    } else if (code > 128) {
      const size_t bytes = std::min<size_t>((257 - code) * pixel, left);
      if (!source.need(bytes)) return false;
      line.literal(source.data(), bytes);
      source.skip(bytes);
      left -= bytes;
    } else {
      const size_t bytes = std::min<size_t>((code + 1u) * pixel, left);
      if (!source.need(pixel)) return false;
      line.repeat_pixel(source.data(), pixel, bytes / pixel);
      source.skip(pixel);
      left -= bytes;
    }
  }
  return true;
}

}  // namespace raster_format
}  // namespace quorvane::print_service
