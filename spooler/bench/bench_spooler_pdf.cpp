// Rendering a 100-page PDF into the print document stream (a null sink), against `pdftocairo -pdf` of the
// same file in the same run, and against bench_pdf_reference (a minimal poppler-glib + cairo program doing
// the same work as ours, without the colour management pdftocairo does): wall time and peak memory, each
// measured on a fresh process, the three interleaved in every round. The goals apply to the pdftocairo
// ratios.
//
//   bench_spooler_pdf [pages] [rounds]          (default 100 pages, 6 rounds)
//   bench_spooler_pdf --render FILE             (the measured child: renders FILE into a null sink)
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "bench_common.h"
#include "bench_document.h"

namespace fs = std::filesystem;
using quorvane::bench::make_document;
using quorvane::bench::measure;
using quorvane::bench::median;
using quorvane::bench::render_as_printed;

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "--render") == 0) return render_as_printed(argv[2]);
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
