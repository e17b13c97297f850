#include "ui/layout/dialog_units.h"

#include <QApplication>
#include <QFontInfo>
#include <QFontMetrics>

#include <cstdint>
#include <cstdlib>

#include "core/log.h"

namespace quorvane {

int mul_div(int number, int numerator, int denominator) {
  if (denominator == 0) return 0;
  const int64_t product = int64_t{number} * numerator;
  const int64_t half = std::llabs(denominator) / 2;
  // Round half away from zero: widen the magnitude by half the divisor before truncating.
  const bool negative = (product < 0) != (denominator < 0);
  const int64_t magnitude = (std::llabs(product) + half) / std::llabs(denominator);
  return static_cast<int>(negative ? -magnitude : magnitude);
}

QFont dialog_font() {
  QFont font(QString::fromLatin1(dialog_font_family));
  font.setPixelSize(dialog_font_pixel_size);
  font.setStyleHint(QFont::SansSerif);
  return font;
}

bool set_dialog_font_app_wide() {
  const QFont font = dialog_font();
  QApplication::setFont(font);
  const QString resolved = QFontInfo(font).family();
  if (resolved != QString::fromLatin1(dialog_font_family)) {
    QV_LOG(log_error, "Unable to use the dialog font '%s': resolved to '%s'", dialog_font_family,
           resolved.toUtf8().constData());
    return false;
  }
  return true;
}

dialog_units dialog_units::from_font(const QFont& font) {
  static const QString letters = QStringLiteral("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ");
  const QFontMetrics metrics(font);
  const int cx = (metrics.horizontalAdvance(letters) / 26 + 1) / 2;
  const int cy = metrics.ascent() + metrics.descent();
  return dialog_units(cx, cy);
}

dialog_units dialog_units::from_dialog_font() {
  return from_font(dialog_font());
}

int dialog_units::x(int du) const {
  return mul_div(du, cx_, 4);
}

int dialog_units::y(int du) const {
  return mul_div(du, cy_, 8);
}

QRect dialog_units::rect(int x, int y, int w, int h) const {
  return QRect(this->x(x), this->y(y), this->x(w), this->y(h));
}

QSize dialog_units::size(int w, int h) const {
  return QSize(x(w), y(h));
}

}  // namespace quorvane
