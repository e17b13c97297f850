#include "model/document_formats.h"

#include <string>
#include <string_view>

#include <gtest/gtest.h>

namespace quorvane::model {
namespace {

using namespace std::string_view_literals;

// The first bytes of a document, and the format they show.
TEST(DocumentFormats, LeadingBytesNameTheirFormat) {
  const struct {
    const char* name;
    std::string_view head;
    const char* want;  // null: no format
  } cases[] = {
      // Formats handed to the console as sent
      {"PDF", "%PDF-1.7\n%\xe2\xe3"sv, "application/pdf"},
      {"JPEG", "\xFF\xD8\xFF\xE0\0\x10JFIF"sv, "image/jpeg"},
      {"PNG", "\x89PNG\r\n\x1A\n\0\0\0\rIHDR"sv, "image/png"},
      // Formats the service converts
      {"PWG raster, big-endian", "RaS2PwgRaster\0"sv, "image/pwg-raster"},
      {"PWG raster, little-endian", "2SaRPwgRaster\0"sv, "image/pwg-raster"},
      {"Apple raster", "UNIRAST\0\0\0\0\1"sv, "image/urf"},
      // Nothing
      {"empty", ""sv, nullptr},
      {"a PDF marker cut short", "%PDF"sv, nullptr},
      {"uncompressed CUPS raster", "RaS3"sv, nullptr},
      {"text", "hello, printer"sv, nullptr},
  };
  for (const auto& c : cases) {
    const document_format* got = document_format_of(c.head);
    const std::string got_text = got ? got->mime_type : "none";
    const std::string want_text = c.want ? c.want : "none";
    EXPECT_EQ(got_text, want_text) << c.name << ": got " << got_text << ", want " << want_text;
  }
}

TEST(DocumentFormats, EachFormatIsFoundByItsTypeAndSaysWhereItGoes) {
  const struct {
    const char* mime_type;
    bool handed_over;  // to the console as sent
    bool converted;
    const char* extension;
  } cases[] = {
      {"application/octet-stream", false, false, ""},
      {"application/pdf", true, false, ".pdf"},
      {"image/jpeg", true, false, ".jpg"},
      {"image/png", true, false, ".png"},
      {"image/pwg-raster", false, true, ".pwg"},
      {"image/urf", false, true, ".urf"},
  };
  for (const auto& c : cases) {
    const document_format* format = find_document_format(c.mime_type);
    ASSERT_NE(format, nullptr) << c.mime_type;
    EXPECT_EQ(is_handed_over(*format), c.handed_over) << c.mime_type;
    EXPECT_EQ(format->converted, c.converted) << c.mime_type;
    EXPECT_STREQ(format->extension, c.extension) << c.mime_type;
    EXPECT_TRUE(format->from_devices) << c.mime_type;
  }
  EXPECT_EQ(find_document_format("text/plain"), nullptr);
  EXPECT_EQ(find_document_format("application/pdf; charset=x"), nullptr) << "types are compared whole";
}

}  // namespace
}  // namespace quorvane::model
