#include "print_service/raster_to_pdf.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <vector>

#include "print_service/raster_format_p.h"

namespace quorvane::print_service {
namespace {

// Pages beyond this many inches or pixels on a side are refused (a corrupt header, not a page).
constexpr uint64_t max_page_inches = 100;
constexpr uint32_t max_page_pixels = 65535;

// A block of output goes to the sink once this much has collected.
constexpr size_t output_block = size_t{1} << 20;

// Appends `points` with up to three decimals, whatever the locale.
void append_points(std::string& text, double points) {
  char digits[32];
  const auto end = std::to_chars(digits, digits + sizeof(digits), points, std::chars_format::fixed, 3).ptr;
  std::string_view number(digits, static_cast<size_t>(end - digits));
  while (number.back() == '0') number.remove_suffix(1);
  if (number.back() == '.') number.remove_suffix(1);
  text += number;
}

// The PDF's bytes with their offset, handed to the sink in blocks.
class pdf_output {
 public:
  explicit pdf_output(const pdf_sink& sink) : sink_(sink) { buffer_.reserve(output_block + 4096); }

  uint64_t offset() const { return flushed_ + buffer_.size(); }
  bool failed() const { return failed_; }

  void put(std::string_view text) {
    buffer_.append(text);
    if (buffer_.size() >= output_block) flush();
  }
  void put(uint64_t number) {
    char digits[24];
    const auto end = std::to_chars(digits, digits + sizeof(digits), number).ptr;
    buffer_.append(digits, end);
  }
  void put_points(double points) { append_points(buffer_, points); }

  // Hands what has collected to the sink; false once the sink refused.
  bool flush() {
    if (!failed_ && !buffer_.empty()) {
      failed_ = !sink_(buffer_);
      flushed_ += buffer_.size();
    }
    buffer_.clear();
    return !failed_;
  }

 private:
  const pdf_sink& sink_;
  std::string buffer_;
  uint64_t flushed_ = 0;
  bool failed_ = false;
};

// One line of an image in PDF's run-length coding: a byte n of 0-127 before n+1 literal bytes, 129-255
// before one byte repeated 257-n times. Adjacent literals share their runs.
class run_length_line {
 public:
  void clear() {
    bytes_.clear();
    literal_ = 0;
  }
  const std::string& bytes() const { return bytes_; }

  void literal(const unsigned char* data, size_t size) {
    while (size > 0) {
      if (literal_ == 0 || literal_ == 128) {
        literal_start_ = bytes_.size();
        bytes_.push_back(0);
        literal_ = 0;
      }
      const size_t part = std::min(size, 128 - literal_);
      bytes_.append(reinterpret_cast<const char*>(data), part);
      literal_ += part;
      bytes_[literal_start_] = static_cast<char>(literal_ - 1);
      data += part;
      size -= part;
    }
  }

  void fill(unsigned char value, size_t count) { repeat(value, count); }

  void repeat(unsigned char value, size_t count) {
    literal_ = 0;
    while (count >= 2) {
      const size_t part = std::min<size_t>(count, 128);
      bytes_.push_back(static_cast<char>(257 - part));
      bytes_.push_back(static_cast<char>(value));
      count -= part;
    }
    if (count == 1) literal(&value, 1);
  }

  // `count` copies of a pixel of `size` bytes: a run when its bytes are equal, else literal bytes.
  void repeat_pixel(const unsigned char* pixel, size_t size, size_t count) {
    if (std::all_of(pixel, pixel + size, [&](unsigned char b) { return b == pixel[0]; })) {
      repeat(pixel[0], count * size);
      return;
    }
    unsigned char block[126];  // 42 RGB pixels
    const size_t per_block = sizeof(block) / size;
    for (size_t i = 0; i < per_block * size; ++i) block[i] = pixel[i % size];
    while (count > 0) {
      const size_t part = std::min(count, per_block);
      literal(block, part * size);
      count -= part;
    }
  }

 private:
  std::string bytes_;
  size_t literal_ = 0;  // bytes in the literal run being written (0: none)
  size_t literal_start_ = 0;
};

// A document in memory as a source of raster_format.
class memory_source {
 public:
  memory_source(const unsigned char* data, size_t size) : data_(data), size_(size) {}
  bool need(size_t n) const { return size_ - pos_ >= n; }
  const unsigned char* data() const { return data_ + pos_; }
  void skip(size_t n) { pos_ += n; }
  bool at_end() const { return pos_ == size_; }

 private:
  const unsigned char* data_;
  size_t size_;
  size_t pos_ = 0;
};

// Reads a raster document and writes its pages.
class converter {
 public:
  converter(std::string_view data, const pdf_sink& sink)
      : source_(reinterpret_cast<const unsigned char*>(data.data()), data.size()), out_(sink) {}

  raster_conversion run(uint32_t max_pages) {
    raster_conversion result;
    if (!source_.need(4)) {
      result.error = "the document is not PWG raster or Apple raster";
      return result;
    }
    if (!raster_format::identify(source_.data(), kind_, result.error)) return result;
    if (!source_.need(kind_.file_header_size)) {
      result.error = "the raster document is cut short in its header";
      return result;
    }
    source_.skip(kind_.file_header_size);
    out_.put("%PDF-1.4\n%\xe2\xe3\xcf\xd3\n");
    start_object(1);
    out_.put("<< /Type /Catalog /Pages 2 0 R >>\nendobj\n");
    while (!source_.at_end() && (max_pages == 0 || pages_.size() < max_pages)) {
      if (!convert_page(result.error)) return result;
      if (out_.failed()) break;
    }
    if (pages_.empty() && result.error.empty()) result.error = "the raster document has no page";
    if (!result.error.empty()) return result;
    finish();
    if (!out_.flush()) {
      result.error = "the PDF cannot be written";
      return result;
    }
    result.ok = true;
    result.pages = static_cast<uint32_t>(pages_.size());
    return result;
  }

 private:
  bool read_page_header(raster_page_layout& layout, std::string& error) {
    if (!source_.need(kind_.page_header_size)) {
      error = "the raster document is cut short in the header of page " + std::to_string(pages_.size() + 1);
      return false;
    }
    layout = raster_format::layout_of(source_.data(), kind_);
    source_.skip(kind_.page_header_size);
    error = raster_layout_problem(layout);
    if (!error.empty()) {
      error = "page " + std::to_string(pages_.size() + 1) + ": " + error;
      return false;
    }
    return true;
  }

  void start_object(uint32_t number) {
    if (offsets_.size() <= number) offsets_.resize(number + 1);
    offsets_[number] = out_.offset();
    out_.put(number);
    out_.put(" 0 obj\n");
  }

  // Objects of page i (from 0): the page, its contents, its image and the image's length.
  static uint32_t page_object(size_t i) { return 3 + 4 * static_cast<uint32_t>(i); }

  bool convert_page(std::string& error) {
    raster_page_layout layout;
    if (!read_page_header(layout, error)) return false;
    const uint32_t page = page_object(pages_.size());
    pages_.push_back(page);
    const double width = layout.width * 72.0 / layout.x_dpi;
    const double height = layout.height * 72.0 / layout.y_dpi;

    start_object(page);
    out_.put("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 ");
    out_.put_points(width);
    out_.put(" ");
    out_.put_points(height);
    out_.put("] /Resources << /XObject << /Im0 ");
    out_.put(page + 2);
    out_.put(" 0 R >> >> /Contents ");
    out_.put(page + 1);
    out_.put(" 0 R >>\nendobj\n");

    std::string contents = "q ";
    append_points(contents, width);
    contents += " 0 0 ";
    append_points(contents, height);
    contents += " 0 0 cm /Im0 Do Q";
    start_object(page + 1);
    out_.put("<< /Length ");
    out_.put(contents.size());
    out_.put(" >>\nstream\n");
    out_.put(contents);
    out_.put("\nendstream\nendobj\n");

    const bool gray = layout.colors == 1;
    start_object(page + 2);
    out_.put("<< /Type /XObject /Subtype /Image /Width ");
    out_.put(layout.width);
    out_.put(" /Height ");
    out_.put(layout.height);
    out_.put(gray ? " /ColorSpace /DeviceGray" : " /ColorSpace /DeviceRGB");
    // Black raster counts ink: 0 is white.
    if (layout.color_space == static_cast<uint32_t>(raster_color_space::black)) out_.put(" /Decode [1 0]");
    out_.put(" /BitsPerComponent 8 /Filter /RunLengthDecode /Length ");
    out_.put(page + 3);
    out_.put(" 0 R >>\nstream\n");
    const uint64_t start = out_.offset();
    if (!convert_lines(layout, error)) return false;
    out_.put("\x80");  // end of data
    const uint64_t length = out_.offset() - start;
    out_.put("\nendstream\nendobj\n");
    start_object(page + 3);
    out_.put(length);
    out_.put("\nendobj\n");
    return true;
  }

  bool cut_short(std::string& error) const {
    error = "the raster document is cut short on page " + std::to_string(pages_.size());
    return false;
  }

  // The page's lines, each repeated as often as it says (never past the page's end).
  bool convert_lines(const raster_page_layout& layout, std::string& error) {
    uint32_t rows = 0;
    while (rows < layout.height) {
      uint32_t copies = 0;
      line_.clear();
      if (!raster_format::read_line(source_, layout, copies, line_)) return cut_short(error);
      copies = std::min(copies, layout.height - rows);
      for (uint32_t i = 0; i < copies; ++i) out_.put(line_.bytes());
      rows += copies;
      if (out_.failed()) return true;
    }
    return true;
  }

  void finish() {
    start_object(2);
    out_.put("<< /Type /Pages /Count ");
    out_.put(pages_.size());
    out_.put(" /Kids [");
    for (uint32_t page : pages_) {
      out_.put(page);
      out_.put(" 0 R ");
    }
    out_.put("] >>\nendobj\n");
    const uint64_t xref = out_.offset();
    out_.put("xref\n0 ");
    out_.put(offsets_.size());
    out_.put("\n0000000000 65535 f \n");
    for (size_t i = 1; i < offsets_.size(); ++i) {
      char entry[21];
      std::snprintf(entry, sizeof(entry), "%010llu 00000 n \n", static_cast<unsigned long long>(offsets_[i]));
      out_.put(std::string_view(entry, 20));
    }
    out_.put("trailer\n<< /Size ");
    out_.put(offsets_.size());
    out_.put(" /Root 1 0 R >>\nstartxref\n");
    out_.put(xref);
    out_.put("\n%%EOF\n");
  }

  memory_source source_;
  raster_format::document_kind kind_;
  pdf_output out_;
  std::vector<uint64_t> offsets_;  // of each object, by number
  std::vector<uint32_t> pages_;    // the page objects
  run_length_line line_;
};

}  // namespace

std::string raster_layout_problem(const raster_page_layout& layout) {
  if (layout.width == 0 || layout.height == 0 || layout.x_dpi == 0 || layout.y_dpi == 0) {
    return "the page has no size or no resolution";
  }
  if (layout.width > max_page_pixels || layout.height > max_page_pixels ||
      layout.width > max_page_inches * layout.x_dpi || layout.height > max_page_inches * layout.y_dpi) {
    return "the page of " + std::to_string(layout.width) + "x" + std::to_string(layout.height) +
           " pixels at " + std::to_string(layout.x_dpi) + "x" + std::to_string(layout.y_dpi) +
           " dpi is too large";
  }
  const auto space = static_cast<raster_color_space>(layout.color_space);
  const bool gray = layout.bits_per_pixel == 8 && layout.colors == 1 &&
                    (space == raster_color_space::gray || space == raster_color_space::sgray ||
                     space == raster_color_space::black);
  const bool rgb = layout.bits_per_pixel == 24 && layout.colors == 3 &&
                   (space == raster_color_space::rgb || space == raster_color_space::srgb ||
                    space == raster_color_space::adobe_rgb);
  if (!(gray || rgb) || layout.bits_per_color != 8 || layout.color_order != 0) {
    return "pages of " + std::to_string(layout.bits_per_pixel) + " bits per pixel in colour space " +
           std::to_string(layout.color_space) + " are not taken (8-bit grey and 24-bit RGB are)";
  }
  if (uint64_t{layout.bytes_per_line} != uint64_t{layout.width} * (layout.bits_per_pixel / 8)) {
    return "the page's line length does not match its width";
  }
  return {};
}

raster_conversion raster_to_pdf(std::string_view data, uint32_t max_pages, const pdf_sink& sink) {
  converter conversion(data, sink);
  raster_conversion result = conversion.run(max_pages);
  return result;
}

raster_conversion raster_file_to_pdf(int raster_fd, const std::string& pdf_path, uint32_t max_pages,
                                     const std::function<bool(uint64_t bytes)>& may_write) {
  raster_conversion result;
  struct stat info {};
  if (fstat(raster_fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    result.error = std::string("the raster document cannot be read: ") + std::strerror(errno);
    return result;
  }
  if (info.st_size == 0) {
    result.error = "the raster document is empty";
    return result;
  }
  const size_t size = static_cast<size_t>(info.st_size);
  void* mapped = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, raster_fd, 0);
  if (mapped == MAP_FAILED) {
    result.error = std::string("the raster document cannot be read: ") + std::strerror(errno);
    return result;
  }
  const int out = open(pdf_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (out < 0) {
    result.error = "the PDF file cannot be created: " + std::string(std::strerror(errno));
    munmap(mapped, size);
    return result;
  }
  std::string write_error;
  const auto sink = [&](std::string_view bytes) {
    if (!may_write(bytes.size())) {
      write_error = "the spool has no room for the PDF";
      return false;
    }
    while (!bytes.empty()) {
      const ssize_t written = write(out, bytes.data(), bytes.size());
      if (written < 0 && errno == EINTR) continue;
      if (written <= 0) {
        write_error = "the PDF file cannot be written: " + std::string(std::strerror(errno));
        return false;
      }
      bytes.remove_prefix(static_cast<size_t>(written));
    }
    return true;
  };
  result = raster_to_pdf(std::string_view(static_cast<const char*>(mapped), size), max_pages, sink);
  munmap(mapped, size);
  if (close(out) != 0 && result.ok) {
    result = {};
    result.error = "the PDF file cannot be written: " + std::string(std::strerror(errno));
  }
  if (!write_error.empty()) result.error = write_error;
  if (!result.ok) unlink(pdf_path.c_str());
  return result;
}

}  // namespace quorvane::print_service
