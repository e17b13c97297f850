// Helpers for the list tests: images of known colours, printers, and pixel reading.
#pragma once

#include <QColor>
#include <QImage>
#include <QStandardItemModel>
#include <QWidget>

#include <string>
#include <vector>

#include "model/printer.h"
#include "ui/lists/list_images.h"

namespace quorvane::testing {

/// Solid colours of the test images, one per resource name, so that a pixel tells which image is there.
inline const QColor checked_colour{0, 160, 0};
inline const QColor unchecked_colour{200, 0, 0};
inline const QColor lock_colour{0, 0, 200};
inline const QColor feature_image_colour{255, 0, 255};
inline const QColor user_colour{255, 140, 0};

/// Opaque images of the right sizes in the colours above ("IDI_COLOR", "IDI_DUPLEX", "IDI_LANDSCAPE" and
/// "IDI_PAPER" share one colour); null for other names.
image_loader solid_images();

/// A printer named `shown` (behind the three-byte prefix U+E00C) at `location`.
smart_ptr<model::printer> make_printer(const std::string& shown, const std::string& location = "Hall");

/// A three-column printer-list model with one row per printer, as the main window builds it.
void fill_printer_model(QStandardItemModel& model, const std::vector<smart_ptr<model::printer>>& printers);

/// What `widget` shows now, rendered offscreen.
QImage render(QWidget* widget);

/// True when `got` is within `tolerance` of `want` in each of red, green and blue.
bool near(const QColor& got, const QColor& want, int tolerance = 3);

/// The darkest grey level (smallest of r, g, b maxima) in `area` of `image`; 255 for an empty area.
int darkest(const QImage& image, const QRect& area);

/// True when every pixel of `area` is `colour`.
bool uniform(const QImage& image, const QRect& area, const QColor& colour);

}  // namespace quorvane::testing
