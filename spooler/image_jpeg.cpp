// JPEG decoding with libjpeg-turbo into cairo surfaces.
#include <csetjmp>
#include <cstdio>
#include <cstring>

#include <jpeglib.h>

#include "spooler/image_library.h"
#include "spooler/render_budget.h"

namespace quorvane {

namespace {

struct error_manager {
  jpeg_error_mgr base;
  std::jmp_buf escape;
  char message[JMSG_LENGTH_MAX];
};

void on_jpeg_error(j_common_ptr info) {
  auto* errors = reinterpret_cast<error_manager*>(info->err);
  errors->base.format_message(info, errors->message);
  std::longjmp(errors->escape, 1);
}

void on_jpeg_message(j_common_ptr, int) {}

void free_bytes(void* data) {
  delete static_cast<std::vector<unsigned char>*>(data);
}

}  // namespace

std::optional<image_size> jpeg_header_size(const std::vector<unsigned char>& bytes) {
  // Segments from the start-of-image marker on: a marker (0xFF, code) and, except for the stand-alone
  // markers, a big-endian length that counts itself. The frame header holds precision, height, width.
  const size_t size = bytes.size();
  size_t at = 2;
  while (at + 4 <= size) {
    if (bytes[at] != 0xff) return std::nullopt;
    const unsigned char marker = bytes[at + 1];
    if (marker == 0xff) {  // fill byte before a marker
      ++at;
      continue;
    }
    if (marker == 0x01 || (marker >= 0xd0 && marker <= 0xd8)) {  // TEM, RSTn, SOI: no length
      at += 2;
      continue;
    }
    // A scan or the end of the image before any frame header: there is no size to read.
    if (marker == 0xda || marker == 0xd9) return std::nullopt;
    const size_t length = size_t{bytes[at + 2]} << 8 | bytes[at + 3];
    if (length < 2) return std::nullopt;
    // SOF0 to SOF15, except DHT (C4), JPG (C8) and DAC (CC), which share the range.
    if (marker >= 0xc0 && marker <= 0xcf && marker != 0xc4 && marker != 0xc8 && marker != 0xcc) {
      if (at + 9 > size || length < 7) return std::nullopt;
      return image_size{int64_t{bytes[at + 7]} << 8 | bytes[at + 8],
                        int64_t{bytes[at + 5]} << 8 | bytes[at + 6]};
    }
    at += 2 + length;
  }
  return std::nullopt;
}

cairo_surface_t* decode_jpeg(const std::vector<unsigned char>& bytes, std::string& error) {
  jpeg_decompress_struct info;
  error_manager errors;
  info.err = jpeg_std_error(&errors.base);
  errors.base.error_exit = on_jpeg_error;
  errors.base.emit_message = on_jpeg_message;
  errors.message[0] = '\0';
  // Everything that must be released after a longjmp lives outside the protected block.
  cairo_surface_t* volatile surface = nullptr;
  std::vector<unsigned char> cmyk_row;

  if (setjmp(errors.escape)) {
    error = errors.message;
    jpeg_destroy_decompress(&info);
    if (surface) cairo_surface_destroy(surface);
    return nullptr;
  }
  jpeg_create_decompress(&info);
  jpeg_mem_src(&info, bytes.data(), static_cast<unsigned long>(bytes.size()));
  jpeg_read_header(&info, TRUE);
  // The library's own view of the size decides: nothing has been allocated for the pixels yet. The budget
  // also keeps both sides within cairo's 32767.
  if (!fits_render_budget(info.image_width, info.image_height)) {
    error = info.image_width == 0 || info.image_height == 0
                ? "the image has no pixels"
                : "the image is " + over_render_budget(info.image_width, info.image_height);
    jpeg_destroy_decompress(&info);
    return nullptr;
  }
  // CMYK cannot be converted by the library itself: it is read as CMYK and converted row by row.
  const bool cmyk = info.jpeg_color_space == JCS_CMYK || info.jpeg_color_space == JCS_YCCK;
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  info.out_color_space = cmyk ? JCS_CMYK : JCS_EXT_BGRX;
#else
  info.out_color_space = cmyk ? JCS_CMYK : JCS_EXT_XRGB;
#endif
  jpeg_start_decompress(&info);

  surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, static_cast<int>(info.output_width),
                                       static_cast<int>(info.output_height));
  if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
    error = cairo_status_to_string(cairo_surface_status(surface));
    cairo_surface_destroy(surface);
    jpeg_destroy_decompress(&info);
    return nullptr;
  }
  unsigned char* pixels = cairo_image_surface_get_data(surface);
  const int stride = cairo_image_surface_get_stride(surface);
  if (cmyk) cmyk_row.resize(static_cast<size_t>(info.output_width) * 4);
  while (info.output_scanline < info.output_height) {
    unsigned char* row = pixels + static_cast<ptrdiff_t>(info.output_scanline) * stride;
    if (!cmyk) {
      JSAMPROW rows[1] = {row};
      jpeg_read_scanlines(&info, rows, 1);
      continue;
    }
    JSAMPROW rows[1] = {cmyk_row.data()};
    jpeg_read_scanlines(&info, rows, 1);
    // Adobe writes CMYK JPEGs inverted: each stored value is 255 minus the ink.
    auto* out = reinterpret_cast<uint32_t*>(row);
    for (JDIMENSION x = 0; x < info.output_width; ++x) {
      const unsigned char* p = &cmyk_row[x * 4];
      const uint32_t k = p[3];
      const uint32_t r = p[0] * k / 255, g = p[1] * k / 255, b = p[2] * k / 255;
      out[x] = 0xff000000u | (r << 16) | (g << 8) | b;
    }
  }
  jpeg_finish_decompress(&info);
  jpeg_destroy_decompress(&info);
  cairo_surface_mark_dirty(surface);

  // PDF output then embeds the original JPEG stream instead of re-encoding the pixels; CMYK data is left
  // out because its inverted form would print as a negative in some readers.
  if (!cmyk) {
    auto* copy = new std::vector<unsigned char>(bytes);
    if (cairo_surface_set_mime_data(surface, CAIRO_MIME_TYPE_JPEG, copy->data(), copy->size(), free_bytes,
                                    copy) != CAIRO_STATUS_SUCCESS) {
      delete copy;
    }
  }
  return surface;
}

}  // namespace quorvane
