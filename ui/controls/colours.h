// Colours that stay readable: the contrast of two colours as WCAG 2 measures it, and what makes a palette
// dark, on which the console's fixed light colours give way to the palette's own.
#pragma once

#include <QColor>
#include <QPalette>

namespace quorvane {

/// The least contrast that normal text needs against its background (WCAG 2, level AA).
inline constexpr double readable_contrast = 4.5;

/// The relative luminance of `colour`, from 0 (black) to 1 (white), as WCAG 2 defines it; alpha is ignored.
double relative_luminance(const QColor& colour);

/// The contrast ratio of two colours, from 1 (the same luminance) to 21 (black and white).
double contrast_ratio(const QColor& a, const QColor& b);

/// `text` itself when its contrast against `background` is at least `readable_contrast`; else `text` moved
/// toward white or black (whichever stands further from `background`) just far enough to be.
QColor readable_on(const QColor& text, const QColor& background);

/// `from` moved the fraction `amount` (0..1) of the way to `to`, channel by channel.
QColor mixed(const QColor& from, const QColor& to, double amount);

/// True when `palette` is a dark theme: its base colour (the background of lists and fields) is darker than
/// its text colour.
bool is_dark(const QPalette& palette);

}  // namespace quorvane
