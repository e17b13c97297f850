#include "fixtures.h"

#include <cairo-pdf.h>
#include <cairo.h>
#include <jpeglib.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

namespace quorvane::test {

bool make_pdf(const std::string& path, int pages, double width, double height) {
  cairo_surface_t* surface = cairo_pdf_surface_create(path.c_str(), width, height);
  cairo_t* cr = cairo_create(surface);
  for (int n = 0; n < pages; ++n) {
    const double grey = 0.2 + 0.6 * n / (pages > 1 ? pages - 1 : 1);
    cairo_set_source_rgb(cr, grey, grey, grey);
    cairo_rectangle(cr, 36, 36, width - 72, height - 72);
    cairo_fill(cr);
    cairo_show_page(cr);
  }
  cairo_destroy(cr);
  cairo_surface_finish(surface);
  const bool ok = cairo_surface_status(surface) == CAIRO_STATUS_SUCCESS;
  cairo_surface_destroy(surface);
  return ok;
}

bool make_pdf_sharing_resources(const std::string& path, int pages, int entries) {
  // Objects 1 catalog, 2 page tree, 3 resources, 4 empty contents, 5... the pages.
  std::vector<std::string> objects = {"<< /Type /Catalog /Pages 2 0 R >>", "", "",
                                      "<< /Length 0 >>\nstream\n\nendstream"};
  std::string kids, states;
  for (int n = 0; n < entries; ++n) states += "/G" + std::to_string(n) + " << /CA 1 >> ";
  objects[2] = "<< /ExtGState << " + states + ">> >>";
  for (int n = 0; n < pages; ++n) {
    kids += std::to_string(5 + n) + " 0 R ";
    objects.push_back(
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 595 842] /Resources 3 0 R /Contents 4 0 R >>");
  }
  objects[1] = "<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(pages) + " >>";
  std::string pdf = "%PDF-1.4\n";
  std::string xref = "xref\n0 " + std::to_string(objects.size() + 1) + "\n0000000000 65535 f \n";
  for (size_t n = 0; n < objects.size(); ++n) {
    char entry[32];
    std::snprintf(entry, sizeof entry, "%010zu 00000 n \n", pdf.size());
    xref += entry;
    pdf += std::to_string(n + 1) + " 0 obj\n" + objects[n] + "\nendobj\n";
  }
  const size_t start = pdf.size();
  pdf += xref + "trailer\n<< /Size " + std::to_string(objects.size() + 1) + " /Root 1 0 R >>\nstartxref\n" +
         std::to_string(start) + "\n%%EOF\n";
  return write_file(path, pdf);
}

bool make_png(const std::string& path, int width, int height, uint32_t rgb) {
  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height);
  cairo_t* cr = cairo_create(surface);
  cairo_set_source_rgb(cr, ((rgb >> 16) & 0xff) / 255.0, ((rgb >> 8) & 0xff) / 255.0, (rgb & 0xff) / 255.0);
  cairo_paint(cr);
  cairo_destroy(cr);
  const bool ok = cairo_surface_write_to_png(surface, path.c_str()) == CAIRO_STATUS_SUCCESS;
  cairo_surface_destroy(surface);
  return ok;
}

bool make_jpeg(const std::string& path, int width, int height, uint32_t rgb) {
  FILE* out = fopen(path.c_str(), "wb");
  if (!out) return false;
  jpeg_compress_struct info;
  jpeg_error_mgr errors;
  info.err = jpeg_std_error(&errors);
  jpeg_create_compress(&info);
  jpeg_stdio_dest(&info, out);
  info.image_width = static_cast<JDIMENSION>(width);
  info.image_height = static_cast<JDIMENSION>(height);
  info.input_components = 3;
  info.in_color_space = JCS_RGB;
  jpeg_set_defaults(&info);
  jpeg_set_quality(&info, 90, TRUE);
  jpeg_start_compress(&info, TRUE);
  std::vector<JSAMPLE> row(static_cast<size_t>(width) * 3);
  for (int x = 0; x < width; ++x) {
    row[x * 3] = (rgb >> 16) & 0xff;
    row[x * 3 + 1] = (rgb >> 8) & 0xff;
    row[x * 3 + 2] = rgb & 0xff;
  }
  while (info.next_scanline < info.image_height) {
    JSAMPROW rows[1] = {row.data()};
    jpeg_write_scanlines(&info, rows, 1);
  }
  jpeg_finish_compress(&info);
  jpeg_destroy_compress(&info);
  return fclose(out) == 0;
}

bool make_jpeg_claiming(const std::string& path, int width, int height) {
  if (!make_jpeg(path, 16, 16, 0x808080)) return false;
  std::string bytes = read_file(path);
  // The baseline frame header: marker FF C0, length, precision, then height and width, big-endian.
  const size_t frame = bytes.find("\xff\xc0");
  if (frame == std::string::npos || frame + 9 > bytes.size()) return false;
  bytes[frame + 5] = static_cast<char>(height >> 8);
  bytes[frame + 6] = static_cast<char>(height & 0xff);
  bytes[frame + 7] = static_cast<char>(width >> 8);
  bytes[frame + 8] = static_cast<char>(width & 0xff);
  return write_file(path, bytes);
}

namespace {

// The CRC-32 that PNG chunks carry (polynomial 0xEDB88320), over the chunk's type and data.
uint32_t png_crc(const std::string& data) {
  uint32_t crc = 0xffffffffu;
  for (unsigned char byte : data) {
    crc ^= byte;
    for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xedb88320u & (0u - (crc & 1u)));
  }
  return crc ^ 0xffffffffu;
}

std::string big_endian(uint32_t value) {
  return {static_cast<char>(value >> 24), static_cast<char>(value >> 16), static_cast<char>(value >> 8),
          static_cast<char>(value)};
}

std::string png_chunk(const std::string& type, const std::string& data) {
  const std::string body = type + data;
  return big_endian(static_cast<uint32_t>(data.size())) + body + big_endian(png_crc(body));
}

}  // namespace

bool make_png_claiming(const std::string& path, uint32_t width, uint32_t height) {
  // Bit depth 8, colour type 6 (RGBA), deflate, adaptive filtering, no interlace.
  const std::string header = big_endian(width) + big_endian(height) + std::string("\x08\x06\0\0\0", 5);
  return write_file(path,
                    std::string("\x89PNG\r\n\x1a\n", 8) + png_chunk("IHDR", header) + png_chunk("IEND", ""));
}

bool write_file(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
  return static_cast<bool>(out);
}

bool exists(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0;
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string run(const std::string& command) {
  std::string output;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return output;
  char buffer[4096];
  size_t got;
  while ((got = fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, got);
  pclose(pipe);
  return output;
}

}  // namespace quorvane::test
