#include "print_service/documents/raster_to_pdf.h"

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

#include <zlib.h>

#include "core/files.h"
#include "print_service/documents/raster_format.h"

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

// The image's run-length lines in the zlib format (for the FlateDecode filter before RunLengthDecode),
// compressed only where the run-length coding cannot: a line written again (a line repeat of the raster)
// becomes back-references to the line before it, in blocks with the fixed Huffman codes; a new line is
// stored as it is. A page of text then takes a tenth of its run-length size, at the cost of a copy.
class line_deflater {
 public:
  explicit line_deflater(pdf_output& out) : out_(out) {}

  void start() {
    out_.put("\x78\x01");  // deflate, 32 KB window, no dictionary
    adler_ = adler32(0, nullptr, 0);
    bits_ = 0;
    bit_count_ = 0;
  }

  // `copies` copies of `line`.
  void lines(const std::string& line, uint32_t copies) {
    if (line.empty() || copies == 0) return;
    const auto* bytes = reinterpret_cast<const unsigned char*>(line.data());
    const uLong line_adler = adler32(adler32(0, nullptr, 0), bytes, static_cast<uInt>(line.size()));
    for (uint32_t i = 0; i < copies; ++i) {
      adler_ = adler32_combine(adler_, line_adler, static_cast<z_off_t>(line.size()));
    }
    stored(bytes, line.size());
    if (copies == 1) return;
    // A back-reference reaches 32 KB back; longer lines are stored again.
    if (line.size() > max_distance) {
      for (uint32_t i = 1; i < copies; ++i) stored(bytes, line.size());
      return;
    }
    put_bits(0b010, 3);  // a block with the fixed codes, not the last
    uint64_t left = uint64_t{line.size()} * (copies - 1);
    while (left >= min_match) {
      const auto length = static_cast<unsigned>(std::min<uint64_t>(left, max_match));
      match(length, static_cast<unsigned>(line.size()));
      left -= length;
    }
    // The copies end with the line's own last bytes.
    for (uint64_t i = line.size() - left; i < line.size(); ++i) literal(bytes[i]);
    put_code(0, 7);  // end of block (256)
  }

  void finish() {
    put_bits(0b011, 3);  // the last block, fixed codes, empty
    put_code(0, 7);
    if (bit_count_ % 8) put_bits(0, 8 - bit_count_ % 8);
    flush_bits();
    const unsigned char trailer[] = {
        static_cast<unsigned char>(adler_ >> 24), static_cast<unsigned char>(adler_ >> 16),
        static_cast<unsigned char>(adler_ >> 8), static_cast<unsigned char>(adler_)};
    out_.put(std::string_view(reinterpret_cast<const char*>(trailer), sizeof(trailer)));
  }

 private:
  static constexpr size_t max_distance = 32768;
  static constexpr unsigned min_match = 3;
  static constexpr unsigned max_match = 258;

  // Bits go out least significant first.
  void put_bits(uint32_t value, unsigned count) {
    bits_ |= uint64_t{value} << bit_count_;
    bit_count_ += count;
    if (bit_count_ >= 32) flush_bits();
  }
  void flush_bits() {
    char bytes[8];
    size_t n = 0;
    while (bit_count_ >= 8) {
      bytes[n++] = static_cast<char>(bits_ & 0xff);
      bits_ >>= 8;
      bit_count_ -= 8;
    }
    out_.put(std::string_view(bytes, n));
  }
  // Huffman codes go out most significant bit first.
  void put_code(uint32_t code, unsigned length) {
    uint32_t reversed = 0;
    for (unsigned i = 0; i < length; ++i) reversed |= ((code >> i) & 1u) << (length - 1 - i);
    put_bits(reversed, length);
  }

  void literal(unsigned char value) {
    if (value < 144) {
      put_code(0x30u + value, 8);
    } else {
      put_code(0x190u + (value - 144u), 9);
    }
  }

  void match(unsigned length, unsigned distance) {
    // Lengths 3-258 as codes 257-285 with extra bits.
    static constexpr unsigned length_base[] = {3,  4,  5,  6,   7,   8,   9,   10,  11, 13,
                                               15, 17, 19, 23,  27,  31,  35,  43,  51, 59,
                                               67, 83, 99, 115, 131, 163, 195, 227, 258};
    static constexpr unsigned length_extra[] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                                2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
    unsigned code = 28;
    while (length_base[code] > length) --code;
    const unsigned symbol = 257 + code;
    if (symbol < 280) {
      put_code(symbol - 256, 7);
    } else {
      put_code(0xc0u + (symbol - 280), 8);
    }
    put_bits(length - length_base[code], length_extra[code]);
    // Distances 1-32768 as codes 0-29 with extra bits.
    unsigned dcode = 0, base = 1, extra = 0;
    for (unsigned c = 0; c < 30; ++c) {
      const unsigned e = c < 4 ? 0 : c / 2 - 1;
      const unsigned b = c < 4 ? c + 1 : (((c % 2) + 2) << e) + 1;
      if (b > distance) break;
      dcode = c;
      base = b;
      extra = e;
    }
    put_code(dcode, 5);
    put_bits(distance - base, extra);
  }

  void stored(const unsigned char* data, size_t size) {
    while (size > 0) {
      const size_t part = std::min<size_t>(size, 65535);
      put_bits(0b000, 3);  // a stored block, not the last
      if (bit_count_ % 8) put_bits(0, 8 - bit_count_ % 8);
      put_bits(static_cast<uint32_t>(part), 16);
      put_bits(static_cast<uint32_t>(~part & 0xffff), 16);
      flush_bits();
      out_.put(std::string_view(reinterpret_cast<const char*>(data), part));
      data += part;
      size -= part;
    }
  }

  pdf_output& out_;
  uLong adler_ = 1;
  uint64_t bits_ = 0;
  unsigned bit_count_ = 0;
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
    out_.put(" /BitsPerComponent 8 /Filter [/FlateDecode /RunLengthDecode] /Length ");
    out_.put(page + 3);
    out_.put(" 0 R >>\nstream\n");
    const uint64_t start = out_.offset();
    deflater_.start();
    if (!convert_lines(layout, error)) return false;
    deflater_.lines(std::string(1, '\x80'), 1);  // the run-length coding's end of data
    deflater_.finish();
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
      deflater_.lines(line_.bytes(), copies);
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
  line_deflater deflater_{out_};
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
    if (const int error = write_all(out, bytes)) {
      write_error = "the PDF file cannot be written: " + std::string(std::strerror(error));
      return false;
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
