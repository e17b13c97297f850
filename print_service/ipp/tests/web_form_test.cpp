// The form a browser sends from a printer's page: transcripts as browsers send them, fed whole, in pieces
// split at every offset, and broken in each way the reader refuses.
#include "print_service/ipp/web_form.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quorvane::print_service::testing {
namespace {

const std::string boundary = "----WebKitFormBoundary7MA4YWxkTrZu0gW";

// A body of the printer page's form: copies, paper size and the file `content`.
std::string body(const std::string& content, const std::string& file_name = "report.pdf") {
  return "--" + boundary + "\r\nContent-Disposition: form-data; name=\"copies\"\r\n\r\n2\r\n" + "--" +
         boundary + "\r\nContent-Disposition: form-data; name=\"media\"\r\n\r\niso_a5_148x210mm\r\n" + "--" +
         boundary + "\r\nContent-Disposition: form-data; name=\"file\"; filename=\"" + file_name +
         "\"\r\nContent-Type: application/pdf\r\n\r\n" + content + "\r\n--" + boundary + "--\r\n";
}

struct read_result {
  bool ok = false;
  bool complete = false;
  std::string error;
  std::string file_name, content_type, file;
  std::map<std::string, std::string> fields;
};

// Reads `text` in pieces of at most `piece` bytes (0: whole).
read_result read_form(const std::string& text, size_t piece = 0) {
  read_result r;
  web_form_reader reader(
      boundary, "file",
      [&](const std::string& name, const std::string& type) {
        r.file_name = name;
        r.content_type = type;
        return true;
      },
      [&](std::string_view bytes) {
        r.file.append(bytes);
        return true;
      });
  r.ok = true;
  if (piece == 0) piece = text.size() + 1;
  for (size_t at = 0; at < text.size() && r.ok; at += piece) r.ok = reader.feed(text.substr(at, piece));
  r.complete = reader.complete();
  r.error = reader.error();
  r.fields = reader.fields();
  return r;
}

TEST(WebForm, ABrowsersFormReadsTheSameWhereverItsBytesAreSplit) {
  // Content with what looks like a delimiter but is not one (no line break before it, a shorter boundary).
  const std::string content = "%PDF-1.4\r\n--" + boundary.substr(0, 10) + "\r\nx--" + boundary + "\r\n%%EOF";
  const std::string text = body(content);
  for (size_t piece : {size_t{0}, size_t{1}, size_t{2}, size_t{7}, boundary.size() + 3, size_t{64}}) {
    const read_result r = read_form(text, piece);
    SCOPED_TRACE("pieces of " + std::to_string(piece));
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_TRUE(r.complete);
    EXPECT_EQ(r.file, content);
    EXPECT_EQ(r.file_name, "report.pdf");
    EXPECT_EQ(r.content_type, "application/pdf");
    EXPECT_EQ(r.fields, (std::map<std::string, std::string>{{"copies", "2"}, {"media", "iso_a5_148x210mm"}}));
  }
  // Split once at every offset.
  for (size_t split = 0; split <= text.size(); ++split) {
    read_result r;
    web_form_reader reader(
        boundary, "file", [](const std::string&, const std::string&) { return true; },
        [&](std::string_view bytes) {
          r.file.append(bytes);
          return true;
        });
    ASSERT_TRUE(reader.feed(text.substr(0, split)) && reader.feed(text.substr(split)))
        << "split at " << split;
    EXPECT_TRUE(reader.complete()) << "split at " << split;
    EXPECT_EQ(r.file, content) << "split at " << split;
  }
}

TEST(WebForm, WhatBrowsersVaryIsRead) {
  struct variant_case {
    const char* label;
    std::string text;
    std::string file_name;
  };
  const variant_case cases[] = {
      {"a folder before the file name", body("%PDF-", "C:\\Users\\me\\report.pdf"), "report.pdf"},
      {"a preamble before the first boundary", "ignored preamble\r\n" + body("%PDF-"), "report.pdf"},
      {"spaces after a boundary",
       [] {
         std::string t = body("%PDF-");
         t.replace(t.find("\r\n", 2), 2, "  \r\n");
         return t;
       }(),
       "report.pdf"},
      {"an empty file", body(""), "report.pdf"},
  };
  for (const variant_case& c : cases) {
    const read_result r = read_form(c.text, 5);
    EXPECT_TRUE(r.ok && r.complete) << c.label << ": " << r.error;
    EXPECT_EQ(r.file_name, c.file_name) << c.label;
  }
}

TEST(WebForm, BrokenOrOversizedFormsAreRefusedWithTheReason) {
  const std::string b = "--" + boundary;
  const std::string file_part =
      "\r\nContent-Disposition: form-data; name=\"file\"; filename=\"a.pdf\"\r\n\r\nx\r\n";
  std::string many_parts;
  for (int i = 0; i < 9; ++i)
    many_parts += b + "\r\nContent-Disposition: form-data; name=\"f" + std::to_string(i) + "\"\r\n\r\n1\r\n";
  struct refusal_case {
    const char* label;
    std::string text;
    const char* reason;  // a part of the reason
  };
  const refusal_case cases[] = {
      {"no boundary at all", std::string(5000, 'x'), "does not begin with its boundary"},
      {"text after a boundary", b + "garbage\r\n", "followed by other text"},
      {"a boundary line without end", b + std::string(100, ' '), "does not end"},
      {"headers without end",
       b + "\r\nContent-Disposition: form-data; name=\"copies\"" + std::string(5000, 'x'),
       "bytes of headers"},
      {"a header line without a name", b + "\r\nno colon here\r\n\r\n1\r\n" + b + "--", "has no name"},
      {"a part without a field name", b + "\r\nContent-Disposition: form-data\r\n\r\n1\r\n" + b + "--",
       "no field name"},
      {"a part that is not form data",
       b + "\r\nContent-Disposition: attachment; name=\"x\"\r\n\r\n1\r\n" + b + "--", "not form data"},
      {"an unterminated quoted parameter",
       b + "\r\nContent-Disposition: form-data; name=\"copies\r\n\r\n1\r\n", "not form data"},
      {"a field too long",
       b + "\r\nContent-Disposition: form-data; name=\"copies\"\r\n\r\n" + std::string(300, '9'),
       "longer than 256 bytes"},
      {"too many parts", many_parts, "more than 8 parts"},
      {"two files", b + file_part + b + file_part + b + "--", "more than one file"},
      {"a file in another field",
       b + "\r\nContent-Disposition: form-data; name=\"media\"; filename=\"a\"\r\n\r\n1\r\n",
       "a file in the field 'media'"},
  };
  for (const refusal_case& c : cases) {
    for (size_t piece : {size_t{0}, size_t{3}}) {
      const read_result r = read_form(c.text, piece);
      EXPECT_FALSE(r.ok) << c.label;
      EXPECT_NE(r.error.find(c.reason), std::string::npos)
          << c.label << ": got '" << r.error << "', want '" << c.reason << "'";
    }
  }
}

TEST(WebForm, AFormCutShortIsNotComplete) {
  const std::string text = body("%PDF-1.4 ... %%EOF");
  for (size_t cut : {size_t{10}, text.size() / 2, text.size() - 5}) {
    const read_result r = read_form(text.substr(0, cut));
    EXPECT_TRUE(r.ok) << cut;
    EXPECT_FALSE(r.complete) << cut;
  }
}

TEST(WebForm, AReceiverStopsTheReading) {
  size_t bytes_seen = 0;
  web_form_reader refusing_start(
      boundary, "file", [](const std::string&, const std::string&) { return false; },
      [&](std::string_view) { return true; });
  EXPECT_FALSE(refusing_start.feed(body("%PDF-")));
  EXPECT_TRUE(refusing_start.error().empty());
  EXPECT_FALSE(refusing_start.feed("more"));

  web_form_reader refusing_bytes(
      boundary, "file", [](const std::string&, const std::string&) { return true; },
      [&](std::string_view bytes) {
        bytes_seen += bytes.size();
        return false;
      });
  EXPECT_FALSE(refusing_bytes.feed(body(std::string(1000, 'x'))));
  EXPECT_GT(bytes_seen, 0u);
}

TEST(WebForm, TheBoundaryComesFromTheContentType) {
  struct boundary_case {
    std::string content_type;
    std::optional<std::string> want;
  };
  const boundary_case cases[] = {
      {"multipart/form-data; boundary=----WebKitFormBoundaryAbC", "----WebKitFormBoundaryAbC"},
      {"Multipart/Form-Data; charset=utf-8; BOUNDARY=\"a b'c\"", "a b'c"},
      {"multipart/form-data", std::nullopt},
      {"multipart/form-data; boundary=", std::nullopt},
      {"multipart/form-data; boundary=" + std::string(71, 'a'), std::nullopt},
      {"multipart/form-data; boundary=a\"b", std::nullopt},
      {"multipart/form-data; boundary=\"ends with space \"", std::nullopt},
      {"application/x-www-form-urlencoded; boundary=abc", std::nullopt},
      {"multipart/form-data; boundary=\"unterminated", std::nullopt},
  };
  for (const boundary_case& c : cases) {
    EXPECT_EQ(form_boundary(c.content_type), c.want) << c.content_type;
  }
}

}  // namespace
}  // namespace quorvane::print_service::testing
