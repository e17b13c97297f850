#include "raster_documents.h"

#include <cairo.h>
#include <gtest/gtest.h>
#include <poppler.h>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace quorvane::print_service::testing {

namespace {

unsigned bytes_per_pixel(const char* type) {
  return std::strstr(type, "cmyk") ? 4 : std::strstr(type, "rgb") ? 3 : 1;
}

}  // namespace

std::string write_with_cups(cups_mode_t mode, const std::vector<page_spec>& pages) {
  std::string data;
  cups_raster_t* raster = cupsRasterOpenIO(
      [](void* context, unsigned char* bytes, size_t length) -> ssize_t {
        static_cast<std::string*>(context)->append(reinterpret_cast<const char*>(bytes), length);
        return static_cast<ssize_t>(length);
      },
      &data, mode);
  EXPECT_NE(raster, nullptr);
  for (const page_spec& page : pages) {
    cups_page_header2_t header;
    EXPECT_TRUE(cupsRasterInitPWGHeader(&header, pwgMediaForPWG("iso_a4_210x297mm"), page.type, page.x_dpi,
                                        page.y_dpi, "one-sided", nullptr));
    const unsigned pixel = bytes_per_pixel(page.type);
    header.cupsWidth = page.width;
    header.cupsHeight = page.height;
    header.cupsBytesPerLine = page.width * pixel;
    header.cupsInteger[CUPS_RASTER_PWG_TotalPageCount] = static_cast<unsigned>(pages.size());
    EXPECT_TRUE(cupsRasterWriteHeader2(raster, &header));
    std::vector<unsigned char> line(header.cupsBytesPerLine);
    for (unsigned y = 0; y < page.height; ++y) {
      for (unsigned x = 0; x < page.width; ++x) {
        for (unsigned b = 0; b < pixel; ++b) line[x * pixel + b] = page.pixel(x, y, b);
      }
      EXPECT_EQ(cupsRasterWritePixels(raster, line.data(), header.cupsBytesPerLine), header.cupsBytesPerLine);
    }
  }
  cupsRasterClose(raster);
  return data;
}

namespace {

struct memory_reader {
  const std::string* data;
  size_t pos = 0;
};

}  // namespace

std::vector<decoded_page> read_with_cups(const std::string& data) {
  memory_reader reader{&data};
  std::vector<decoded_page> pages;
  cups_raster_t* raster = cupsRasterOpenIO(
      [](void* context, unsigned char* bytes, size_t length) -> ssize_t {
        auto* r = static_cast<memory_reader*>(context);
        const size_t n = std::min(length, r->data->size() - r->pos);
        std::memcpy(bytes, r->data->data() + r->pos, n);
        r->pos += n;
        return static_cast<ssize_t>(n);
      },
      &reader, CUPS_RASTER_READ);
  if (!raster) return pages;
  decoded_page page;
  while (cupsRasterReadHeader2(raster, &page.header)) {
    const unsigned line = page.header.cupsBytesPerLine;
    page.pixels.assign(static_cast<size_t>(line) * page.header.cupsHeight, 0);
    bool whole = true;
    for (unsigned y = 0; y < page.header.cupsHeight && whole; ++y) {
      whole = cupsRasterReadPixels(raster, page.pixels.data() + static_cast<size_t>(y) * line, line) == line;
    }
    if (!whole) break;
    pages.push_back(page);
  }
  cupsRasterClose(raster);
  return pages;
}

std::vector<rendered_page> render(const std::string& pdf, unsigned x_dpi, unsigned y_dpi) {
  std::vector<rendered_page> pages;
  GBytes* bytes = g_bytes_new(pdf.data(), pdf.size());
  GError* error = nullptr;
  PopplerDocument* document = poppler_document_new_from_bytes(bytes, nullptr, &error);
  g_bytes_unref(bytes);
  if (!document) {
    ADD_FAILURE() << "poppler cannot open the PDF: " << (error ? error->message : "?");
    if (error) g_error_free(error);
    return pages;
  }
  for (int i = 0; i < poppler_document_get_n_pages(document); ++i) {
    PopplerPage* page = poppler_document_get_page(document, i);
    rendered_page out;
    poppler_page_get_size(page, &out.width, &out.height);
    out.columns = static_cast<int>(std::lround(out.width * x_dpi / 72));
    out.rows = static_cast<int>(std::lround(out.height * y_dpi / 72));
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, out.columns, out.rows);
    cairo_t* cr = cairo_create(surface);
    cairo_set_source_rgb(cr, 1, 0.5, 0);  // no white that the image could leave unpainted unseen
    cairo_paint(cr);
    cairo_scale(cr, x_dpi / 72.0, y_dpi / 72.0);
    poppler_page_render(page, cr);
    cairo_destroy(cr);
    cairo_surface_flush(surface);
    const unsigned char* data = cairo_image_surface_get_data(surface);
    const int stride = cairo_image_surface_get_stride(surface);
    for (int y = 0; y < out.rows; ++y) {
      const auto* row = reinterpret_cast<const uint32_t*>(data + static_cast<size_t>(y) * stride);
      for (int x = 0; x < out.columns; ++x) out.pixels.push_back(row[x] & 0xffffff);
    }
    cairo_surface_destroy(surface);
    g_object_unref(page);
    pages.push_back(std::move(out));
  }
  g_object_unref(document);
  return pages;
}

void expect_pdf_shows_raster(const std::string& pdf, const std::string& raster) {
  const std::vector<decoded_page> expected = read_with_cups(raster);
  ASSERT_FALSE(expected.empty()) << "libcups reads no page";
  ASSERT_FALSE(pdf.empty());
  const cups_page_header2_t& first = expected[0].header;
  const std::vector<rendered_page> rendered = render(pdf, first.HWResolution[0], first.HWResolution[1]);
  ASSERT_EQ(rendered.size(), expected.size());
  for (size_t p = 0; p < expected.size(); ++p) {
    const cups_page_header2_t& h = expected[p].header;
    const rendered_page& page = rendered[p];
    EXPECT_NEAR(page.width, h.cupsWidth * 72.0 / h.HWResolution[0], 0.001) << "page " << p + 1;
    EXPECT_NEAR(page.height, h.cupsHeight * 72.0 / h.HWResolution[1], 0.001) << "page " << p + 1;
    ASSERT_EQ(page.columns, static_cast<int>(h.cupsWidth)) << "page " << p + 1;
    ASSERT_EQ(page.rows, static_cast<int>(h.cupsHeight)) << "page " << p + 1;
    const unsigned pixel = h.cupsBitsPerPixel / 8;
    for (unsigned y = 0; y < h.cupsHeight; ++y) {
      for (unsigned x = 0; x < h.cupsWidth; ++x) {
        const unsigned char* in = &expected[p].pixels[(static_cast<size_t>(y) * h.cupsWidth + x) * pixel];
        uint32_t want = 0;
        if (pixel == 3) {
          want = (uint32_t{in[0]} << 16) | (uint32_t{in[1]} << 8) | in[2];
        } else {
          const uint32_t v = h.cupsColorSpace == CUPS_CSPACE_K ? 255u - in[0] : in[0];
          want = v * 0x010101u;
        }
        const uint32_t got = page.pixels[static_cast<size_t>(y) * page.columns + x];
        if (got != want) {
          ADD_FAILURE() << "page " << p + 1 << " pixel (" << x << ", " << y << "): got " << std::hex << got
                        << ", want " << want;
          return;
        }
      }
    }
  }
}

}  // namespace quorvane::print_service::testing
