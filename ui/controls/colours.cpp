#include "ui/controls/colours.h"

#include <algorithm>
#include <cmath>

namespace quorvane {
namespace {

// One sRGB channel (0..1) made linear.
double linear(double channel) {
  return channel <= 0.04045 ? channel / 12.92 : std::pow((channel + 0.055) / 1.055, 2.4);
}

}  // namespace

double relative_luminance(const QColor& colour) {
  const QColor rgb = colour.toRgb();
  return 0.2126 * linear(rgb.redF()) + 0.7152 * linear(rgb.greenF()) + 0.0722 * linear(rgb.blueF());
}

double contrast_ratio(const QColor& a, const QColor& b) {
  const double la = relative_luminance(a);
  const double lb = relative_luminance(b);
  return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

QColor mixed(const QColor& from, const QColor& to, double amount) {
  const QColor a = from.toRgb();
  const QColor b = to.toRgb();
  auto channel = [amount](int x, int y) {
    return int(std::lround(x + (y - x) * std::clamp(amount, 0.0, 1.0)));
  };
  return QColor(channel(a.red(), b.red()), channel(a.green(), b.green()), channel(a.blue(), b.blue()));
}

QColor readable_on(const QColor& text, const QColor& background) {
  if (contrast_ratio(text, background) >= readable_contrast) return text;
  // One of black and white stands at least 4.58:1 from any colour; the text goes toward that one in small
  // steps, so that it keeps as much of its own colour as it can.
  const QColor white(255, 255, 255);
  const QColor black(0, 0, 0);
  const QColor target =
      contrast_ratio(white, background) >= contrast_ratio(black, background) ? white : black;
  constexpr int steps = 40;
  for (int step = 1; step < steps; ++step) {
    const QColor candidate = mixed(text, target, double(step) / steps);
    if (contrast_ratio(candidate, background) >= readable_contrast) return candidate;
  }
  return target;
}

bool is_dark(const QPalette& palette) {
  return relative_luminance(palette.color(QPalette::Base)) <
         relative_luminance(palette.color(QPalette::Text));
}

}  // namespace quorvane
