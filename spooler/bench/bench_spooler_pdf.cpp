// Rendering a 100-page PDF into the print document stream (a null sink), against `pdftocairo -pdf` of the
// same file in the same run, and against bench_pdf_reference (a minimal poppler-glib + cairo program doing
// the same work as ours, without the colour management pdftocairo does): wall time and peak memory, each
// measured on a fresh process, the three interleaved in every round. The goals apply to the pdftocairo
// ratios.
//
//   bench_spooler_pdf [pages] [rounds]          (default 100 pages, 6 rounds)
//   bench_spooler_pdf --render FILE             (the measured child: renders FILE into a null sink)
#include <cairo-pdf.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "bench_common.h"
#include "spooler/document_stream.h"
#include "spooler/pdf_document.h"

namespace fs = std::filesystem;
using quorvane::bench::measure;
using quorvane::bench::median;

namespace {

// A document with text, vector shapes and an image on every page, like a typical office print.
bool make_document(const std::string& path, int pages) {
  cairo_surface_t* photo = cairo_image_surface_create(CAIRO_FORMAT_RGB24, 400, 300);
  cairo_t* p = cairo_create(photo);
  for (int y = 0; y < 300; y += 10) {
    for (int x = 0; x < 400; x += 10) {
      cairo_set_source_rgb(p, x / 400.0, y / 300.0, std::fmod(x * y, 7) / 7.0);
      cairo_rectangle(p, x, y, 10, 10);
      cairo_fill(p);
    }
  }
  cairo_destroy(p);
  cairo_surface_t* surface = cairo_pdf_surface_create(path.c_str(), 595, 842);
  cairo_t* cr = cairo_create(surface);
  cairo_select_font_face(cr, "sans-serif", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
  cairo_set_font_size(cr, 10);
  for (int n = 0; n < pages; ++n) {
    cairo_set_source_rgb(cr, 0, 0, 0);
    for (int line = 0; line < 50; ++line) {
      char text[128];
      std::snprintf(text, sizeof text,
                    "Page %d, line %d: the quick brown fox jumps over the lazy dog 0123456789", n + 1,
                    line + 1);
      cairo_move_to(cr, 50, 60 + line * 12);
      cairo_show_text(cr, text);
    }
    cairo_set_source_rgb(cr, 0.2, 0.4, 0.8);
    cairo_arc(cr, 450, 720, 60, 0, 2 * M_PI);
    cairo_fill(cr);
    cairo_save(cr);
    cairo_translate(cr, 50, 680);
    cairo_scale(cr, 0.5, 0.5);
    cairo_set_source_surface(cr, photo, 0, 0);
    cairo_paint(cr);
    cairo_restore(cr);
    cairo_show_page(cr);
  }
  cairo_destroy(cr);
  cairo_surface_finish(surface);
  const bool ok = cairo_surface_status(surface) == CAIRO_STATUS_SUCCESS;
  cairo_surface_destroy(surface);
  cairo_surface_destroy(photo);
  return ok;
}

int render(const char* file) {
  quorvane::pdf_document document;
  std::string error;
  if (document.load(file, error) != 0) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  quorvane::document_stream out([](const unsigned char*, size_t) { return true; });
  if (!document.render(out, 0, 0) || !out.finish()) return 1;
  std::printf("%d pages, %zu bytes\n", out.pageCount(), out.bytesWritten());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "--render") == 0) return render(argv[2]);
  const int pages = argc > 1 ? std::atoi(argv[1]) : 100;
  const int rounds = argc > 2 ? std::atoi(argv[2]) : 6;
  const fs::path base = fs::temp_directory_path() / ("quorvane-pdf-bench-" + std::to_string(getpid()));
  fs::create_directories(base);
  const std::string input = (base / "input.pdf").string();
  if (!make_document(input, pages)) {
    std::fprintf(stderr, "Unable to write the test document\n");
    return 1;
  }
  const std::string self = fs::read_symlink("/proc/self/exe").string();
  const std::string minimal = (fs::path(self).parent_path() / "bench_pdf_reference").string();
  std::vector<double> our_time, ref_time, our_kib, ref_kib, min_time, min_kib;
  for (int round = 0; round < rounds; ++round) {
    auto run_ours = [&] {
      const auto cost = measure({self, "--render", input});
      if (!cost.ok) std::exit(1);
      our_time.push_back(cost.seconds);
      our_kib.push_back(static_cast<double>(cost.peak_kib));
    };
    auto run_reference = [&] {
      const auto cost = measure({"pdftocairo", "-pdf", input, "/dev/null"});
      if (!cost.ok) std::exit(1);
      ref_time.push_back(cost.seconds);
      ref_kib.push_back(static_cast<double>(cost.peak_kib));
    };
    auto run_minimal = [&] {
      const auto cost = measure({minimal, input});
      if (!cost.ok) std::exit(1);
      min_time.push_back(cost.seconds);
      min_kib.push_back(static_cast<double>(cost.peak_kib));
    };
    // The order turns every round, so that each program runs first, second and third equally often.
    switch (round % 3) {
      case 0:
        run_ours();
        run_reference();
        run_minimal();
        break;
      case 1:
        run_reference();
        run_minimal();
        run_ours();
        break;
      default:
        run_minimal();
        run_ours();
        run_reference();
        break;
    }
  }
  fs::remove_all(base);
  const double t = median(our_time), rt = median(ref_time), m = median(our_kib), rm = median(ref_kib);
  std::printf(
      "%d-page PDF into a null sink: ours %.3f s / %.0f KiB, pdftocairo -pdf %.3f s / %.0f KiB "
      "(medians of %d rounds)\n",
      pages, t, m, rt, rm, rounds);
  const double nt = median(min_time), nm = median(min_kib);
  std::printf("minimal poppler-glib + cairo reference %.3f s / %.0f KiB\n", nt, nm);
  std::printf(
      "against pdftocairo -pdf (the goals apply here): time ratio %.3f (goal <= 1.2), "
      "peak memory ratio %.3f (goal <= 1.5)\n",
      t / rt, m / rm);
  std::printf(
      "against the minimal reference (no goal, the cost of our own layers): time ratio %.3f, "
      "peak memory ratio %.3f\n",
      t / nt, m / nm);
  return 0;
}
