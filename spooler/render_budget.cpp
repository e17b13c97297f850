#include "spooler/render_budget.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include <unistd.h>

namespace quorvane {

bool fits_render_budget(double width, double height) {
  if (!(width > 0) || !(height > 0)) return false;
  // In floating point: two sides of up to 2^31 pixels multiply beyond 64-bit integers' exactness, not
  // beyond a double's range, and a page's size in pixels is fractional anyway.
  return width * height <= static_cast<double>(render_budget_pixels);
}

std::string over_render_budget(double width, double height) {
  // Any double prints whole, however large (a PDF may declare a page of 10^30 points).
  const auto whole = [](double value) {
    char text[400];
    std::snprintf(text, sizeof text, "%.0f", std::ceil(value));
    return std::string(text);
  };
  return whole(width) + " x " + whole(height) + " pixels, more than an A3 page at 600 dpi (" +
         std::to_string(render_budget_width) + " x " + std::to_string(render_budget_height) + ")";
}

double budget_resolution(double width, double height, double wanted) {
  if (!(width > 0) || !(height > 0) || !(wanted > 0)) return 0;
  double resolution =
      std::min(wanted, 72.0 * std::sqrt(static_cast<double>(render_budget_pixels) / (width * height)));
  // An image covering the page has whole pixels: each side rounds up, which may take it just past the budget.
  const auto pixels = [&](double side) { return std::ceil(side * resolution / 72.0); };
  while (resolution > 0 && !fits_render_budget(pixels(width), pixels(height))) resolution *= 0.9999;
  return resolution;
}

memory_watch::memory_watch() : start_(resident_bytes()) {}

bool memory_watch::exceeded() const {
  return resident_bytes() - start_ > render_budget_bytes;
}

int64_t memory_watch::resident_bytes() {
  FILE* statm = std::fopen("/proc/self/statm", "re");
  if (!statm) return 0;
  long long size = 0, resident = 0;
  const bool read = std::fscanf(statm, "%lld %lld", &size, &resident) == 2;
  std::fclose(statm);
  return read ? resident * static_cast<int64_t>(sysconf(_SC_PAGESIZE)) : 0;
}

}  // namespace quorvane
