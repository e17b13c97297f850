// The raster to PDF conversion against CUPS's own raster reader: each document is read by libcups and
// converted by the service, the PDF is rendered by poppler at the raster's resolution, and every pixel
// must be the one libcups read.
#include "print_service/documents/raster_to_pdf.h"

#include <cups/raster.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>
#include <zlib.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "raster_documents.h"
#include "test_support/temporary_folder.h"

namespace quorvane::print_service::testing {
namespace {

// The PDF of `data`, or "" with a test failure.
std::string convert(const std::string& data, uint32_t max_pages = 0) {
  std::string pdf;
  const raster_conversion result = raster_to_pdf(data, max_pages, [&](std::string_view bytes) {
    pdf.append(bytes);
    return true;
  });
  EXPECT_TRUE(result.ok) << result.error;
  return result.ok ? pdf : std::string();
}

// Expects every image stream of `pdf` to be whole zlib data (its check sum included, which PDF readers
// may not look at) holding run-length data that ends with its end-of-data code.
void expect_whole_image_streams(const std::string& pdf) {
  const std::string marker = "/Filter [/FlateDecode /RunLengthDecode] /Length ";
  size_t images = 0;
  for (size_t at = pdf.find(marker); at != std::string::npos; at = pdf.find(marker, at + 1)) {
    const size_t start = pdf.find(">>\nstream\n", at) + 10;
    const size_t end = pdf.find("\nendstream", start);
    ASSERT_NE(end, std::string::npos);
    z_stream z{};
    ASSERT_EQ(inflateInit(&z), Z_OK);
    std::string out(1 << 16, '\0');
    std::string decoded;
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(pdf.data() + start));
    z.avail_in = static_cast<uInt>(end - start);
    int status = Z_OK;
    while (status == Z_OK) {
      z.next_out = reinterpret_cast<Bytef*>(out.data());
      z.avail_out = static_cast<uInt>(out.size());
      status = inflate(&z, Z_NO_FLUSH);
      decoded.append(out.data(), out.size() - z.avail_out);
    }
    inflateEnd(&z);
    EXPECT_EQ(status, Z_STREAM_END) << "image " << images + 1;
    EXPECT_EQ(z.avail_in, 0u) << "image " << images + 1 << ": bytes after the zlib data";
    ASSERT_FALSE(decoded.empty());
    EXPECT_EQ(decoded.back(), '\x80') << "image " << images + 1;
    ++images;
  }
  EXPECT_GT(images, 0u);
}

// Converts `data` and expects the PDF to show what libcups reads.
void expect_same_pixels(const std::string& data) {
  const std::string pdf = convert(data);
  expect_whole_image_streams(pdf);
  expect_pdf_shows_raster(pdf, data);
}

// ---- Documents made byte by byte, for codes libcups's writer never uses.

void put_word(std::string& out, size_t offset, uint32_t value, bool big) {
  for (int i = 0; i < 4; ++i) {
    const int shift = big ? 24 - 8 * i : 8 * i;
    out[offset + static_cast<size_t>(i)] = static_cast<char>((value >> shift) & 0xff);
  }
}

// A PWG raster page header (1796 bytes).
std::string pwg_header(unsigned width, unsigned height, unsigned bits, unsigned space, unsigned dpi,
                       bool big = true) {
  std::string header(1796, '\0');
  std::memcpy(header.data(), "PwgRaster", 9);
  put_word(header, 276, dpi, big);
  put_word(header, 280, dpi, big);
  put_word(header, 372, width, big);
  put_word(header, 376, height, big);
  put_word(header, 384, 8, big);
  put_word(header, 388, bits, big);
  put_word(header, 392, width * bits / 8, big);
  put_word(header, 400, space, big);
  put_word(header, 420, bits / 8, big);
  return header;
}

// An Apple raster page header (32 bytes).
std::string urf_header(unsigned width, unsigned height, unsigned bits, unsigned space, unsigned dpi) {
  std::string header(32, '\0');
  header[0] = static_cast<char>(bits);
  header[1] = static_cast<char>(space);
  put_word(header, 12, width, true);
  put_word(header, 16, height, true);
  put_word(header, 20, dpi, true);
  return header;
}

std::string bytes(std::initializer_list<int> values) {
  std::string out;
  for (int v : values) out.push_back(static_cast<char>(v));
  return out;
}

constexpr unsigned sgray = 18, srgb = 19, black = 3;

TEST(RasterToPdf, PagesWrittenByCupsConvertToTheSamePixels) {
  const auto noise = [](unsigned x, unsigned y, unsigned b) {
    return static_cast<unsigned char>((x * 73 + y * 151 + b * 41) ^ (x * y));
  };
  const auto bands = [](unsigned x, unsigned y, unsigned b) {
    return static_cast<unsigned char>(((y / 4) % 2 && (x / 3) % 2) ? 20 + b * 90 : 255);
  };
  // Runs longer than a code can say, literal stretches and lines repeated more than 256 times.
  const auto long_runs = [](unsigned x, unsigned y, unsigned) {
    return static_cast<unsigned char>(y < 300 ? 255 : (x < 200 ? 0 : (x % 7) * 30));
  };
  const auto colored = [](unsigned x, unsigned y, unsigned b) {
    const unsigned char red[] = {200, 30, 10}, teal[] = {0, 128, 128};
    return (x / 5 + y / 3) % 2 ? red[b] : teal[b];
  };
  struct doc_case {
    const char* label;
    cups_mode_t mode;
    std::vector<page_spec> pages;
  };
  const doc_case cases[] = {
      // PWG raster, grey.
      {"sgray noise", CUPS_RASTER_WRITE_PWG, {{"sgray_8", 37, 11, 72, 72, noise}}},
      {"sgray bands, odd width", CUPS_RASTER_WRITE_PWG, {{"sgray_8", 129, 17, 72, 72, bands}}},
      {"sgray one pixel wide", CUPS_RASTER_WRITE_PWG, {{"sgray_8", 1, 5, 72, 72, noise}}},
      // Lines repeated in the PDF: two bytes each, and lines longer than the 32 KB a back-reference reaches.
      {"one pixel wide, repeated", CUPS_RASTER_WRITE_PWG, {{"sgray_8", 1, 301, 72, 72, bands}}},
      {"srgb over 32 KB a line, repeated",
       CUPS_RASTER_WRITE_PWG,
       {{"srgb_8", 11000, 4, 300, 300,
         [](unsigned x, unsigned y, unsigned b) {
           return static_cast<unsigned char>(y < 3 ? (x * 7 + b * 13) % 251 : 255);
         }}}},
      {"sgray long runs", CUPS_RASTER_WRITE_PWG, {{"sgray_8", 257, 600, 72, 72, long_runs}}},
      {"black ink", CUPS_RASTER_WRITE_PWG, {{"black_8", 21, 9, 72, 72, bands}}},
      {"sgray at 300 by 150 dpi", CUPS_RASTER_WRITE_PWG, {{"sgray_8", 50, 30, 300, 150, bands}}},
      // PWG raster, colour.
      {"srgb noise", CUPS_RASTER_WRITE_PWG, {{"srgb_8", 23, 7, 72, 72, noise}}},
      {"srgb repeated colours", CUPS_RASTER_WRITE_PWG, {{"srgb_8", 300, 9, 72, 72, colored}}},
      {"srgb bands", CUPS_RASTER_WRITE_PWG, {{"srgb_8", 45, 12, 72, 72, bands}}},
      {"adobe rgb", CUPS_RASTER_WRITE_PWG, {{"adobe-rgb_8", 13, 6, 72, 72, colored}}},
      // Several pages, each with its own layout.
      {"three pages",
       CUPS_RASTER_WRITE_PWG,
       {{"sgray_8", 31, 8, 72, 72, noise},
        {"srgb_8", 17, 5, 72, 72, colored},
        {"sgray_8", 31, 8, 72, 72, bands}}},
      // Apple raster.
      {"urf grey",
       CUPS_RASTER_WRITE_APPLE,
       {{"sgray_8", 41, 13, 72, 72, bands}, {"sgray_8", 9, 3, 72, 72, noise}}},
      {"urf colour", CUPS_RASTER_WRITE_APPLE, {{"srgb_8", 35, 10, 72, 72, colored}}},
      {"urf long runs", CUPS_RASTER_WRITE_APPLE, {{"sgray_8", 257, 600, 72, 72, long_runs}}},
  };
  for (const doc_case& c : cases) {
    SCOPED_TRACE(c.label);
    expect_same_pixels(write_with_cups(c.mode, c.pages));
  }
}

TEST(RasterToPdf, EveryCodeReadsAsCupsReadsIt) {
  struct byte_case {
    const char* label;
    std::string document;
  };
  const std::string pwg = "RaS2";
  const std::string urf = std::string("UNIRAST", 8) + bytes({0, 0, 0, 1});
  const byte_case cases[] = {
      // Code 128 fills the rest of the line: white, or no ink in black.
      {"fill in sgray", pwg + pwg_header(5, 2, 8, sgray, 72) + bytes({0, 0, 9, 128, 0, 128})},
      {"fill in black", pwg + pwg_header(5, 1, 8, black, 72) + bytes({0, 0, 200, 128})},
      {"fill in srgb", pwg + pwg_header(4, 1, 24, srgb, 72) + bytes({0, 0, 1, 2, 3, 128})},
      // Runs reaching past the line's end are cut there; a literal run only takes the bytes that fit.
      {"repeat past the end", pwg + pwg_header(5, 2, 8, sgray, 72) + bytes({0, 127, 60, 0, 4, 70})},
      {"literal past the end",
       pwg + pwg_header(5, 2, 8, sgray, 72) + bytes({0, 250, 1, 2, 3, 4, 5, 0, 4, 90})},
      {"rgb literal past the end",
       pwg + pwg_header(2, 2, 24, srgb, 72) + bytes({0, 254, 1, 2, 3, 4, 5, 6, 0, 1, 7, 8, 9})},
      // Pixels one at a time (code 0), two literal pixels (the shortest literal).
      {"single pixels", pwg + pwg_header(3, 1, 8, sgray, 72) + bytes({0, 0, 10, 0, 20, 0, 30})},
      {"short literal", pwg + pwg_header(3, 1, 8, sgray, 72) + bytes({0, 255, 10, 20, 0, 30})},
      // An RGB pixel whose bytes differ, repeated, and one whose bytes are equal.
      {"rgb repeats", pwg + pwg_header(50, 1, 24, srgb, 72) + bytes({0, 29, 255, 0, 128, 19, 77, 77, 77})},
      // A line repeat that runs past the page: the next page starts after it.
      {"line repeat past the page", pwg + pwg_header(2, 3, 8, sgray, 72) + bytes({255, 1, 40}) +
                                        pwg_header(2, 1, 8, sgray, 72) + bytes({0, 1, 50})},
      {"line repeats",
       pwg + pwg_header(3, 6, 8, sgray, 72) + bytes({2, 2, 10, 1, 0, 5, 128, 1, 0, 20, 1, 30})},
      // Little-endian PWG raster.
      {"little endian", "2SaR" + pwg_header(3, 2, 8, sgray, 72, /*big=*/false) + bytes({1, 254, 1, 2, 3})},
      // Apple raster: W8 and SRGB24 with the same codes.
      {"urf codes", urf + urf_header(5, 3, 8, 0, 72) + bytes({0, 1, 30, 128, 1, 250, 9, 8, 7, 6, 5})},
      {"urf rgb", urf + urf_header(3, 2, 24, 1, 72) + bytes({1, 0, 1, 2, 3, 255, 4, 5, 6, 9, 9, 9})},
  };
  for (const byte_case& c : cases) {
    SCOPED_TRACE(c.label);
    expect_same_pixels(c.document);
  }
}

TEST(RasterToPdf, WhatCannotBeConvertedIsRefusedWithTheReason) {
  const std::string pwg = "RaS2";
  struct refusal {
    const char* label;
    std::string document;
    const char* reason;  // part of the error
  };
  const refusal cases[] = {
      {"not raster", "%PDF-1.4\n", "not PWG raster or Apple raster"},
      {"empty", "", "not PWG raster or Apple raster"},
      {"uncompressed cups raster", "RaS3" + pwg_header(2, 1, 8, sgray, 72), "uncompressed"},
      {"no page", "RaS2", "no page"},
      {"one-bit black", pwg + pwg_header(8, 1, 1, black, 72), "1 bits per pixel"},
      {"cmyk", pwg + pwg_header(2, 1, 32, 6, 72), "32 bits per pixel"},
      {"no resolution", pwg + pwg_header(2, 1, 8, sgray, 0), "no resolution"},
      {"over 100 inches", pwg + pwg_header(30001, 1, 8, sgray, 300), "too large"},
      {"urf lab", std::string("UNIRAST", 8) + bytes({0, 0, 0, 1}) + urf_header(2, 1, 24, 2, 72),
       "colour space 15"},
      {"header cut short", pwg + pwg_header(2, 1, 8, sgray, 72).substr(0, 100), "cut short"},
      {"lines cut short", pwg + pwg_header(4, 2, 8, sgray, 72) + bytes({0, 3, 1}), "cut short"},
  };
  for (const refusal& c : cases) {
    SCOPED_TRACE(c.label);
    size_t written = 0;
    const raster_conversion result = raster_to_pdf(c.document, 0, [&](std::string_view bytes) {
      written += bytes.size();
      return true;
    });
    EXPECT_FALSE(result.ok);
    EXPECT_NE(result.error.find(c.reason), std::string::npos) << "got \"" << result.error << "\"";
  }
}

TEST(RasterToPdf, ADocumentCutAnywhereIsRefusedOrEndsAtAWholePage) {
  const auto noise = [](unsigned x, unsigned y, unsigned b) {
    return static_cast<unsigned char>((x * 31 + y * 7 + b) % 5 ? 255 : x * y);
  };
  for (cups_mode_t mode : {CUPS_RASTER_WRITE_PWG, CUPS_RASTER_WRITE_APPLE}) {
    const std::string document =
        write_with_cups(mode, {{"srgb_8", 9, 4, 72, 72, noise}, {"sgray_8", 7, 3, 72, 72, noise}});
    const std::string first_page_end =
        write_with_cups(mode, {{"srgb_8", 9, 4, 72, 72, noise}});  // the first page alone
    for (size_t size = 0; size < document.size(); ++size) {
      // Each prefix in a buffer of its own size, so that reading past it is seen by the sanitizer.
      const std::string prefix = document.substr(0, size);
      std::string pdf;
      const raster_conversion result = raster_to_pdf(prefix, 0, [&](std::string_view bytes) {
        pdf.append(bytes);
        return true;
      });
      // Apple raster's file header counts the pages; like CUPS's reader, the conversion goes by the data.
      const bool boundary = size == first_page_end.size();
      EXPECT_EQ(result.ok, boundary) << "cut at " << size << ": " << result.error;
      if (result.ok) {
        EXPECT_EQ(result.pages, 1u);
      }
    }
  }
}

TEST(RasterToPdf, OnlyTheFirstPagesAskedForAreRead) {
  const auto gray = [](unsigned x, unsigned, unsigned) { return static_cast<unsigned char>(x * 20); };
  std::string document = write_with_cups(
      CUPS_RASTER_WRITE_PWG,
      {{"sgray_8", 5, 2, 72, 72, gray}, {"sgray_8", 5, 2, 72, 72, gray}, {"sgray_8", 5, 2, 72, 72, gray}});
  document += "whatever follows";
  std::string pdf;
  const raster_conversion result = raster_to_pdf(document, 2, [&](std::string_view bytes) {
    pdf.append(bytes);
    return true;
  });
  ASSERT_TRUE(result.ok) << result.error;
  EXPECT_EQ(result.pages, 2u);
  EXPECT_EQ(render(pdf, 72, 72).size(), 2u);
}

TEST(RasterToPdf, AFileIsWrittenOnlyWhileThereIsRoomAndRemovedOnFailure) {
  testing_support::temporary_folder folder;
  const auto gray = [](unsigned x, unsigned y, unsigned) { return static_cast<unsigned char>(x * y); };
  const std::string document = write_with_cups(CUPS_RASTER_WRITE_PWG, {{"sgray_8", 300, 300, 72, 72, gray}});
  const std::string raster_path = folder.path() + "/doc.pwg";
  const int fd = open(raster_path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(write(fd, document.data(), document.size()), static_cast<ssize_t>(document.size()));
  const std::string pdf_path = folder.path() + "/doc.pdf";

  uint64_t asked = 0;
  raster_conversion result = raster_file_to_pdf(fd, pdf_path, 0, [&](uint64_t bytes) {
    asked += bytes;
    return true;
  });
  ASSERT_TRUE(result.ok) << result.error;
  EXPECT_EQ(asked, std::filesystem::file_size(pdf_path));
  EXPECT_EQ((std::filesystem::status(pdf_path).permissions() & std::filesystem::perms::all),
            std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);

  result = raster_file_to_pdf(fd, pdf_path, 0, [](uint64_t) { return false; });
  EXPECT_FALSE(result.ok);
  EXPECT_NE(result.error.find("no room"), std::string::npos) << result.error;
  EXPECT_FALSE(std::filesystem::exists(pdf_path));
  close(fd);
}

}  // namespace
}  // namespace quorvane::print_service::testing
