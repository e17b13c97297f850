// The rendering libraries: the image library, the streamed PDF document and poppler rendering.
#include <gtest/gtest.h>

#include <cairo-pdf.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <regex>
#include <thread>
#include <vector>

#include "fixtures.h"
#include "spooler/cups_spooler.h"
#include "spooler/document_stream.h"
#include "spooler/image_library.h"
#include "spooler/pdf_document.h"
#include "spooler/render_budget.h"

namespace quorvane {
namespace {

using test::temp_folder;

// The colour of one pixel of an RGB24 surface as 0xRRGGBB.
uint32_t pixel(cairo_surface_t* surface, int x, int y) {
  cairo_surface_flush(surface);
  const unsigned char* row =
      cairo_image_surface_get_data(surface) + y * cairo_image_surface_get_stride(surface);
  return reinterpret_cast<const uint32_t*>(row)[x] & 0xffffff;
}

// A PDF document written into memory.
struct memory_pdf {
  std::string bytes;
  document_stream stream{[this](const unsigned char* data, size_t size) {
    bytes.append(reinterpret_cast<const char*>(data), size);
    return true;
  }};
};

// Pages of a PDF file, read back with poppler.
int32_t pages_of(const std::string& path) {
  pdf_document document;
  std::string error;
  return document.load(path, error) == 0 ? document.pageCount() : -1;
}

TEST(image_library, decodes_png_and_jpeg_by_content_with_their_sizes) {
  temp_folder dir;
  ASSERT_TRUE(test::make_png(dir.file("wide.png"), 400, 300, 0xff0000));
  // A JPEG under a misleading name: the content decides.
  ASSERT_TRUE(test::make_jpeg(dir.file("tall.png"), 30, 40, 0x0000ff));
  struct {
    const char* file;
    int32_t width, height;
  } cases[] = {{"wide.png", 400, 300}, {"tall.png", 30, 40}};
  image_library library;
  ASSERT_FALSE(library.missing());
  for (const auto& c : cases) {
    const int32_t doc = library.newDocument();
    ASSERT_GT(doc, 0);
    EXPECT_GT(library.addImageFromFile(doc, dir.file(c.file), 0), 0)
        << c.file << ": " << library.lastError(doc);
    EXPECT_EQ(library.imageWidth(doc), c.width) << c.file;
    EXPECT_EQ(library.imageHeight(doc), c.height) << c.file;
    EXPECT_EQ(library.releaseDocument(doc), 1);
  }
}

TEST(image_library, refuses_what_is_not_a_readable_image) {
  temp_folder dir;
  ASSERT_TRUE(test::write_file(dir.file("text.jpg"), "this is not an image"));
  ASSERT_TRUE(test::write_file(dir.file("cut.png"), std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16)));
  ASSERT_TRUE(test::write_file(dir.file("cut.jpg"), std::string("\xff\xd8\xff\xe0\0\x10JFIF", 10)));
  image_library library;
  for (const char* name : {"text.jpg", "cut.png", "cut.jpg", "missing.png"}) {
    const int32_t doc = library.newDocument();
    EXPECT_EQ(library.addImageFromFile(doc, dir.file(name), 0), 0) << name;
    EXPECT_FALSE(library.lastError(doc).empty()) << name;
    EXPECT_EQ(library.imageWidth(doc), 0) << name;
    EXPECT_EQ(library.drawImage(doc, 0, 10, 10, 10), 0) << name << ": drawing without an image";
    library.releaseDocument(doc);
  }
  EXPECT_EQ(library.imageWidth(12345), 0) << "unknown document";
  EXPECT_EQ(library.setPageDimensions(library.newDocument(), 0, 100), 0) << "zero width";
}

TEST(image_library, refuses_an_image_whose_header_claims_more_pixels_than_the_budget_before_decoding_it) {
  temp_folder dir;
  // The files hold a header and (for the JPEG) 16 x 16 pixels of data: only the header makes them large.
  struct {
    const char* name;
    bool jpeg;
    uint32_t width, height;
    bool over;
  } cases[] = {
      // over the budget: refused with its reason, nothing decoded
      {"jpeg claiming 65535 x 65535", true, 65535, 65535, true},
      {"png claiming 30000 x 30000", false, 30000, 30000, true},
      {"png one column more than A3 at 600 dpi", false, 7017, 9921, true},
      {"png a line of one pixel more than the budget", false, 69605737, 1, true},
      {"png claiming the largest size PNG allows", false, 0x7fffffff, 0x7fffffff, true},
      {"jpeg a turned A3 page and one line", true, 9921, 7017, true},
      // within the budget: the decoder runs (and fails on the PNG, which has no image data)
      {"png exactly an A3 page at 600 dpi", false, 7016, 9921, false},
      {"jpeg claiming 2000 x 1500", true, 2000, 1500, false},
  };
  image_library library;
  for (const auto& c : cases) {
    const std::string file = dir.file(c.jpeg ? "claim.jpg" : "claim.png");
    ASSERT_TRUE(c.jpeg ? test::make_jpeg_claiming(file, static_cast<int>(c.width), static_cast<int>(c.height))
                       : test::make_png_claiming(file, c.width, c.height))
        << c.name;
    const int32_t doc = library.newDocument();
    const int32_t added = library.addImageFromFile(doc, file, 0);
    const std::string error = library.lastError(doc);
    EXPECT_EQ(library.overBudget(doc), c.over) << c.name << ": " << error;
    if (c.over) {
      EXPECT_EQ(added, 0) << c.name;
      const std::string want = "the image is " + std::to_string(c.width) + " x " + std::to_string(c.height) +
                               " pixels, more than an A3 page at 600 dpi (7016 x 9921)";
      EXPECT_EQ(error, want) << c.name;
    } else if (c.jpeg) {
      EXPECT_GT(added, 0) << c.name << ": " << error;
      EXPECT_EQ(library.imageWidth(doc), static_cast<int32_t>(c.width)) << c.name;
    } else {
      EXPECT_EQ(added, 0) << c.name;
      EXPECT_EQ(error.find("A3"), std::string::npos)
          << c.name << ": got '" << error << "', want the decoder's";
    }
    library.releaseDocument(doc);
  }

  // The JPEG decoder keeps the budget by itself, from the size libjpeg reads.
  ASSERT_TRUE(test::make_jpeg_claiming(dir.file("big.jpg"), 30000, 30000));
  const std::string bytes = test::read_file(dir.file("big.jpg"));
  std::string error;
  EXPECT_EQ(decode_jpeg(std::vector<unsigned char>(bytes.begin(), bytes.end()), error), nullptr);
  EXPECT_EQ(error, "the image is 30000 x 30000 pixels, more than an A3 page at 600 dpi (7016 x 9921)");
}

TEST(image_library, reads_the_declared_size_only_from_a_whole_header) {
  temp_folder dir;
  ASSERT_TRUE(test::make_jpeg_claiming(dir.file("a.jpg"), 65535, 300));
  ASSERT_TRUE(test::make_png_claiming(dir.file("a.png"), 30000, 40000));
  struct {
    const char* file;
    std::optional<image_size> (*read)(const std::vector<unsigned char>&);
    int64_t width, height;
    size_t header_end;  // 0: after the JPEG's frame header
  } cases[] = {{"a.jpg", jpeg_header_size, 65535, 300, 0}, {"a.png", png_header_size, 30000, 40000, 24}};
  for (const auto& c : cases) {
    const std::string text = test::read_file(dir.file(c.file));
    const size_t header_end = c.header_end ? c.header_end : text.find("\xff\xc0") + 9;
    const std::vector<unsigned char> whole(text.begin(), text.end());
    const std::optional<image_size> size = c.read(whole);
    ASSERT_TRUE(size) << c.file;
    EXPECT_EQ(size->width, c.width) << c.file;
    EXPECT_EQ(size->height, c.height) << c.file;
    // Cut at every offset: a size is read only once the header is whole, and then it is the same size.
    size_t first_read = whole.size();
    for (size_t cut = 0; cut < whole.size(); ++cut) {
      const std::optional<image_size> part =
          c.read(std::vector<unsigned char>(whole.begin(), whole.begin() + cut));
      if (!part) continue;
      first_read = std::min(first_read, cut);
      EXPECT_EQ(part->width, c.width) << c.file << " cut at " << cut;
      EXPECT_EQ(part->height, c.height) << c.file << " cut at " << cut;
    }
    EXPECT_EQ(first_read, header_end) << c.file;
  }
  // A scan before any frame header, and a segment length below 2, hold no size.
  const std::vector<unsigned char> scan_first = {0xff, 0xd8, 0xff, 0xda, 0,  8, 1, 1, 0, 0, 0x3f,
                                                 0,    0xff, 0xc0, 0,    11, 8, 1, 0, 1, 0};
  EXPECT_FALSE(jpeg_header_size(scan_first));
  const std::vector<unsigned char> bad_length = {0xff, 0xd8, 0xff, 0xe0, 0, 1, 0xff, 0xc0,
                                                 0,    11,   8,    1,    0, 1, 0};
  EXPECT_FALSE(jpeg_header_size(bad_length));
}

TEST(image_library, renders_a_placed_image_at_the_resolution_asked) {
  temp_folder dir;
  ASSERT_TRUE(test::make_png(dir.file("red.png"), 72, 36, 0xff0000));
  image_library library;
  const int32_t doc = library.newDocument();
  ASSERT_GT(library.addImageFromFile(doc, dir.file("red.png"), 0), 0);
  ASSERT_EQ(library.setPageDimensions(doc, 72, 72), 1);
  // The image fills the lower half of the page: its top edge is 36 units above the bottom.
  ASSERT_EQ(library.drawImage(doc, 0, 36, 72, 36), 1);
  EXPECT_EQ(library.pageCount(doc), 1);
  EXPECT_EQ(library.pageWidth(doc), 72);

  // At 144 dpi the 1-inch page covers 144 x 144 pixels.
  cairo_surface_t* target = cairo_image_surface_create(CAIRO_FORMAT_RGB24, 200, 200);
  cairo_t* cr = cairo_create(target);
  cairo_set_source_rgb(cr, 1, 1, 1);
  cairo_paint(cr);
  ASSERT_EQ(library.renderPageToContext(doc, 144, 1, cr), 1);
  EXPECT_EQ(pixel(target, 70, 110), 0xff0000u) << "lower half of the page";
  EXPECT_EQ(pixel(target, 70, 30), 0xffffffu) << "upper half stays blank";
  EXPECT_EQ(pixel(target, 170, 110), 0xffffffu) << "outside the page";
  EXPECT_EQ(library.renderPageToContext(doc, 144, 2, cr), 0) << "page 2 does not exist";
  EXPECT_EQ(library.renderPageToContext(doc, 0, 1, cr), 0) << "resolution 0";
  cairo_destroy(cr);
  cairo_surface_destroy(target);
  library.releaseDocument(doc);
}

TEST(image_library, serves_jobs_on_several_threads_at_once) {
  temp_folder dir;
  ASSERT_TRUE(test::make_jpeg(dir.file("a.jpg"), 64, 48, 0x00ff00));
  ASSERT_TRUE(test::make_png(dir.file("b.png"), 48, 64, 0x0000ff));
  image_library library;
  std::atomic<int> good{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int round = 0; round < 20; ++round) {
        const std::string file = dir.file(t % 2 ? "b.png" : "a.jpg");
        const int32_t doc = library.newDocument();
        const int32_t w = t % 2 ? 48 : 64, h = t % 2 ? 64 : 48;
        memory_pdf out;
        bool ok = library.addImageFromFile(doc, file, 0) > 0 && library.imageWidth(doc) == w &&
                  library.imageHeight(doc) == h && library.setPageDimensions(doc, w, h) &&
                  library.drawImage(doc, 0, h, w, h);
        cairo_t* cr = out.stream.beginPage(w, h);
        ok = ok && cr && library.renderPageToContext(doc, 72, 1, cr) && out.stream.endPage() &&
             out.stream.finish();
        library.releaseDocument(doc);
        if (ok) ++good;
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(good.load(), 80);
}

TEST(render_resolution, spreads_the_whole_inches_of_the_page_over_the_printable_width) {
  struct {
    const char* name;
    double printable, page, want;
  } cases[] = {
      {"5 whole inches", 595, 400, 119},         // 400 / 72 = 5.55 -> 5; 595 / 5 = 119
      {"exactly one inch", 600, 72, 600},        //
      {"narrower than an inch", 600, 36, 1200},  // fitted instead of dividing by zero
      {"no width", 600, 0, 0},
      {"no printable width", 0, 100, 0},
  };
  for (const auto& c : cases) {
    EXPECT_DOUBLE_EQ(render_resolution(c.printable, c.page), c.want) << c.name;
  }
}

TEST(document_stream, streams_pages_into_the_sink_and_reports_a_refusing_sink) {
  memory_pdf out;
  for (int n = 0; n < 3; ++n) {
    cairo_t* cr = out.stream.beginPage(200, 100);
    ASSERT_NE(cr, nullptr);
    cairo_rectangle(cr, 10, 10, 50, 50);
    cairo_fill(cr);
    ASSERT_TRUE(out.stream.endPage());
  }
  ASSERT_TRUE(out.stream.finish());
  EXPECT_EQ(out.stream.pageCount(), 3);
  EXPECT_EQ(out.bytes.compare(0, 5, "%PDF-"), 0);
  EXPECT_EQ(out.stream.bytesWritten(), out.bytes.size());
  temp_folder dir;
  ASSERT_TRUE(test::write_file(dir.file("out.pdf"), out.bytes));
  EXPECT_EQ(pages_of(dir.file("out.pdf")), 3);

  // A sink that refuses after the first bytes ends the document.
  size_t taken = 0;
  document_stream refusing([&taken](const unsigned char*, size_t size) {
    if (taken > 0) return false;
    taken += size;
    return true;
  });
  for (int n = 0; n < 3 && refusing.beginPage(100, 100); ++n) refusing.endPage();
  EXPECT_FALSE(refusing.finish());
  EXPECT_FALSE(refusing.ok());
}

TEST(document_stream, writes_a_document_without_pages_as_a_pdf_of_no_pages) {
  // Zero render copies: nothing must reach the paper, not even a blank page.
  memory_pdf out;
  ASSERT_TRUE(out.stream.finish());
  EXPECT_EQ(out.stream.pageCount(), 0);
  EXPECT_EQ(out.bytes.compare(0, 5, "%PDF-"), 0);
  EXPECT_NE(out.bytes.find("/Count 0"), std::string::npos) << "got\n" << out.bytes;
  EXPECT_EQ(out.bytes.find("/Type /Page "), std::string::npos) << "got\n" << out.bytes;
  EXPECT_EQ(out.stream.bytesWritten(), out.bytes.size());
  // The cross references point at the objects.
  const size_t xref = out.bytes.find("xref\n0 3\n");
  ASSERT_NE(xref, std::string::npos);
  EXPECT_NE(out.bytes.find("startxref\n" + std::to_string(xref) + "\n"), std::string::npos) << out.bytes;
  for (const char* object : {"1 0 obj", "2 0 obj"}) {
    const size_t at = out.bytes.find(object);
    char entry[32];
    std::snprintf(entry, sizeof entry, "%010zu 00000 n", at);
    EXPECT_NE(out.bytes.find(entry, xref), std::string::npos) << object << " at " << at << ": " << out.bytes;
  }
}

TEST(pdf_document, renders_a_page_range_into_the_stream) {
  temp_folder dir;
  ASSERT_TRUE(test::make_pdf(dir.file("five.pdf"), 5, 300, 400));
  pdf_document document;
  std::string error;
  ASSERT_EQ(document.load(dir.file("five.pdf"), error), 0) << error;
  EXPECT_EQ(document.pageCount(), 5);
  struct {
    int32_t first, last, want;
  } cases[] = {{0, 0, 5}, {2, 0, 4}, {2, 3, 2}, {0, 1, 1}, {4, 99, 2}, {6, 0, -1}, {3, 2, -1}};
  for (const auto& c : cases) {
    memory_pdf out;
    const bool rendered = document.render(out.stream, c.first, c.last);
    EXPECT_EQ(rendered, c.want > 0) << c.first << ".." << c.last;
    if (!rendered) continue;
    ASSERT_TRUE(out.stream.finish());
    EXPECT_EQ(out.stream.pageCount(), c.want)
        << c.first << ".." << c.last << ": got " << out.stream.pageCount() << " pages, want " << c.want;
  }
}

TEST(pdf_document, refuses_a_page_of_more_square_points_than_the_budget_holds_pixels) {
  temp_folder dir;
  struct {
    const char* name;
    double width, height;
    const char* reason;  // empty: the page is rendered
  } cases[] = {
      // within the budget
      {"A4", 595, 842, ""},
      {"A0", 2384, 3370, ""},
      {"the largest square", 8343, 8343, ""},
      // over it
      {"one point more each way", 8344, 8344,
       "page 1 measures 115.9 x 115.9 inches, drawn at 72 dpi as 8344 x 8344 pixels, more than an A3 page at "
       "600 "
       "dpi (7016 x 9921)"},
      {"200 inches square", 14400, 14400,
       "page 1 measures 200 x 200 inches, drawn at 72 dpi as 14400 x 14400 pixels, more than an A3 page at "
       "600 "
       "dpi (7016 x 9921)"},
      {"a long strip", 1000, 100000,
       "page 1 measures 13.89 x 1389 inches, drawn at 72 dpi as 1000 x 100000 pixels, more than an A3 page "
       "at "
       "600 dpi (7016 x 9921)"},
  };
  for (const auto& c : cases) {
    ASSERT_TRUE(test::make_pdf(dir.file("page.pdf"), 1, c.width, c.height)) << c.name;
    pdf_document document;
    std::string error;
    ASSERT_EQ(document.load(dir.file("page.pdf"), error), 0) << c.name << ": " << error;
    EXPECT_EQ(document.rangeOverBudget(0, 0), c.reason) << c.name;
    memory_pdf out;
    EXPECT_EQ(document.render(out.stream, 0, 0), *c.reason == '\0') << c.name;
    EXPECT_EQ(out.stream.pageCount(), *c.reason == '\0' ? 1 : 0)
        << c.name << ": nothing of a refused page is drawn";
  }

  // Only the pages to print count: a huge second page stops the whole document, not its first page alone.
  const std::string two = dir.file("two.pdf");
  cairo_surface_t* surface = cairo_pdf_surface_create(two.c_str(), 595, 842);
  cairo_t* cr = cairo_create(surface);
  cairo_show_page(cr);
  cairo_pdf_surface_set_size(surface, 14400, 14400);
  cairo_show_page(cr);
  cairo_destroy(cr);
  cairo_surface_destroy(surface);
  pdf_document document;
  std::string error;
  ASSERT_EQ(document.load(two, error), 0) << error;
  EXPECT_EQ(document.rangeOverBudget(1, 1), "");
  EXPECT_EQ(document.rangeOverBudget(2, 0).rfind("page 2 measures 200 x 200 inches", 0), 0u)
      << document.rangeOverBudget(2, 0);
  memory_pdf first;
  EXPECT_TRUE(document.render(first.stream, 1, 1));
  memory_pdf all;
  EXPECT_FALSE(document.render(all.stream, 0, 0));
  EXPECT_EQ(all.stream.pageCount(), 1) << "stopped at the page over the budget";
}

TEST(pdf_document, stops_a_document_whose_pages_take_more_memory_than_the_budget_to_lay_out) {
  temp_folder dir;
  // 1,000 pages sharing a dictionary of 5,000 entries: under 100 KiB on disk, about a gigabyte of page
  // records in poppler if it were laid out to the end.
  ASSERT_TRUE(test::make_pdf_sharing_resources(dir.file("shared.pdf"), 1000, 5000));
  pdf_document document;
  std::string error;
  ASSERT_EQ(document.load(dir.file("shared.pdf"), error), 0) << error;
  ASSERT_EQ(document.pageCount(), 1000);
  const int64_t before = memory_watch::resident_bytes();
  const std::string reason = document.rangeOverBudget(0, 0);
  const int64_t grown = memory_watch::resident_bytes() - before;
  static const std::regex want(R"(laying out pages 1 to ([0-9]+) took more than 266 MiB of memory)");
  std::smatch m;
  ASSERT_TRUE(std::regex_match(reason, m, want)) << "got '" << reason << "'";
  EXPECT_LT(std::stoi(m[1]), 1000) << "stopped before the last page";
  EXPECT_LT(grown, render_budget_bytes + (int64_t{64} << 20)) << "grew by " << (grown >> 20) << " MiB";

  // A small document of the same kind is laid out and rendered.
  ASSERT_TRUE(test::make_pdf_sharing_resources(dir.file("few.pdf"), 20, 5000));
  pdf_document few;
  ASSERT_EQ(few.load(dir.file("few.pdf"), error), 0) << error;
  EXPECT_EQ(few.rangeOverBudget(0, 0), "");
  memory_pdf out;
  std::string refusal;
  EXPECT_TRUE(few.render(out.stream, 0, 0, &refusal)) << refusal;
  EXPECT_EQ(out.stream.pageCount(), 20);

  // A watch handed in counts from its own start: copies of one print document share one.
  const memory_watch print_document;
  std::vector<char> earlier_copies(static_cast<size_t>(render_budget_bytes) + (size_t{16} << 20), 1);
  memory_pdf again;
  EXPECT_FALSE(few.render(again.stream, 0, 0, &refusal, &print_document));
  EXPECT_EQ(refusal, "rendering pages 1 to 1 took more than 266 MiB of memory");
  EXPECT_EQ(earlier_copies.back(), 1);
}

TEST(budget_resolution, lowers_the_fallback_resolution_until_the_page_fits) {
  struct {
    const char* name;
    double width, height, want;
  } cases[] = {
      {"A4 keeps 300 dpi", 595, 842, 300},
      {"A1 just below 300 dpi", 1684, 2384, 299.8},  // at 300 dpi 7017 x 9933 pixels, 0.1 % over
      {"A0 at 212 dpi", 2384, 3370, 211.9},
      {"the largest square at 72 dpi", 8343, 8343, 71.99},
      {"200 inches square below 72 dpi", 14400, 14400, 41.7},
      {"no area", 0, 842, 0},
  };
  for (const auto& c : cases) {
    const double got = budget_resolution(c.width, c.height, pdf_document::fallback_resolution);
    EXPECT_NEAR(got, c.want, 0.05) << c.name;
    if (got > 0) {
      EXPECT_TRUE(fits_render_budget(std::ceil(c.width * got / 72), std::ceil(c.height * got / 72)))
          << c.name;
    }
  }
}

TEST(pdf_document, refuses_missing_and_corrupt_files) {
  temp_folder dir;
  ASSERT_TRUE(test::write_file(dir.file("corrupt.pdf"), "%PDF-1.4\nthis is no PDF body\n%%EOF\n"));
  for (const char* name : {"missing.pdf", "corrupt.pdf"}) {
    pdf_document document;
    std::string error;
    EXPECT_EQ(document.load(dir.file(name), error), -1) << name;
    EXPECT_FALSE(error.empty()) << name;
    EXPECT_EQ(document.pageCount(), 0) << name;
  }
}

}  // namespace
}  // namespace quorvane
