// Dialog units: a dialog's layout is written in units of its font's average character size, a quarter of
// the average width horizontally and an eighth of the height vertically.
#pragma once

#include <QFont>
#include <QRect>
#include <QSize>

namespace quorvane {

/// The family of the console's dialog font.
inline constexpr const char* dialog_font_family = "DejaVu Sans Condensed";
/// The pixel size of the console's dialog font.
inline constexpr int dialog_font_pixel_size = 11;

/// The console's dialog font: DejaVu Sans Condensed at 11 pixels (base units 6 x 13).
QFont dialog_font();

/// Makes the dialog font the application's font, so that dialogs, menus and tooltips share it. Needs a
/// QApplication. Returns false (and logs) when the font's family is not installed and a fallback was used.
bool set_dialog_font_app_wide();

/// Dialog base units and the conversion of dialog units to pixels.
class dialog_units {
 public:
  /// Base units measured from `font`: cx is the rounded half of the average width of the 52 Latin letters,
  /// cy is the font's ascent plus descent.
  static dialog_units from_font(const QFont& font);
  /// Base units measured from `dialog_font()`.
  static dialog_units from_dialog_font();

  /// Base units given as they are.
  constexpr dialog_units(int cx, int cy) : cx_(cx), cy_(cy) {}

  /// The horizontal base unit in pixels.
  constexpr int cx() const { return cx_; }
  /// The vertical base unit in pixels.
  constexpr int cy() const { return cy_; }

  /// A horizontal position or width in pixels: x * cx / 4, rounded half away from zero.
  int x(int du) const;
  /// A vertical position or height in pixels: y * cy / 8, rounded half away from zero.
  int y(int du) const;
  /// A rectangle in pixels; each of the four values is converted on its own (the right edge is not).
  QRect rect(int x, int y, int w, int h) const;
  /// A size in pixels.
  QSize size(int w, int h) const;

 private:
  int cx_;
  int cy_;
};

/// `number * numerator / denominator` rounded half away from zero (0 for a zero denominator).
int mul_div(int number, int numerator, int denominator);

}  // namespace quorvane
