// Peak memory of the PDF print path for a 10-page and a 10,000-page document: the pages are measured against
// the render budget, then rendered one at a time into the print document stream (a null sink), as the
// console prints them. Beside it, in the same rounds, bench_pdf_reference (poppler-glib and cairo doing the
// rendering and nothing else) on the same files: what grows with the page count in both is poppler's and
// cairo's own record of the pages, not ours. Each run is a fresh process; the order turns every round.
//
//   bench_spooler_pages [rounds] [pages]        (default 5 rounds, 10 and 10,000 pages)
//   bench_spooler_pages --render FILE           (the measured child)
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

#include "bench_common.h"
#include "bench_document.h"

namespace fs = std::filesystem;
using quorvane::bench::make_document;
using quorvane::bench::measure;
using quorvane::bench::median;
using quorvane::bench::render_as_printed;

namespace {

// The peak resident memory of one run in KiB; exits on a failed run.
double peak_kib(const std::vector<std::string>& argv) {
  const auto cost = quorvane::bench::measure(argv);
  if (!cost.ok) {
    std::fprintf(stderr, "%s failed\n", argv[0].c_str());
    std::exit(1);
  }
  return static_cast<double>(cost.peak_kib);
}

void print_spread(const char* what, const std::vector<double>& values) {
  std::printf("  %s: median %.3f, rounds", what, median(values));
  for (double v : values) std::printf(" %.3f", v);
  std::printf("\n");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "--render") == 0) return render_as_printed(argv[2]);
  const int rounds = argc > 1 ? std::atoi(argv[1]) : 5;
  const int many = argc > 2 ? std::atoi(argv[2]) : 10000;
  constexpr int few = 10;
  const fs::path base = fs::temp_directory_path() / ("quorvane-pages-bench-" + std::to_string(getpid()));
  fs::create_directories(base);
  const std::string small = (base / "small.pdf").string(), large = (base / "large.pdf").string();
  // Text and shapes only: an image on every page would be decoded and encoded again 10,000 times, making a
  // round take minutes; what poppler keeps for each page does not depend on what the page draws.
  constexpr int lines = 20;
  if (!make_document(small, few, lines, /*image=*/false) ||
      !make_document(large, many, lines, /*image=*/false)) {
    std::fprintf(stderr, "Unable to write the test documents\n");
    return 1;
  }
  const std::string self = fs::read_symlink("/proc/self/exe").string();
  const std::string reference = (fs::path(self).parent_path() / "bench_pdf_reference").string();

  std::vector<double> ours_few, ours_many, ref_few, ref_many;
  std::vector<double> ours_ratio, ref_ratio, ours_to_ref;
  for (int round = 0; round < rounds; ++round) {
    double of = 0, om = 0, rf = 0, rm = 0;
    if (round % 2 == 0) {
      of = peak_kib({self, "--render", small});
      om = peak_kib({self, "--render", large});
      rf = peak_kib({reference, small});
      rm = peak_kib({reference, large});
    } else {
      rm = peak_kib({reference, large});
      rf = peak_kib({reference, small});
      om = peak_kib({self, "--render", large});
      of = peak_kib({self, "--render", small});
    }
    ours_few.push_back(of);
    ours_many.push_back(om);
    ref_few.push_back(rf);
    ref_many.push_back(rm);
    ours_ratio.push_back(om / of);
    ref_ratio.push_back(rm / rf);
    ours_to_ref.push_back(om / rm);
  }
  fs::remove_all(base);

  std::printf(
      "peak resident memory, medians of %d rounds: ours %d pages %.0f KiB, %d pages %.0f KiB; "
      "reference %.0f KiB, %.0f KiB\n",
      rounds, few, median(ours_few), many, median(ours_many), median(ref_few), median(ref_many));
  std::printf("growth per page: ours %.2f KiB, reference %.2f KiB\n",
              (median(ours_many) - median(ours_few)) / (many - few),
              (median(ref_many) - median(ref_few)) / (many - few));
  print_spread("ours, peak at many pages / peak at few", ours_ratio);
  print_spread("reference, peak at many pages / peak at few", ref_ratio);
  print_spread("ours / reference at many pages (our own layers' share)", ours_to_ref);
  return 0;
}
