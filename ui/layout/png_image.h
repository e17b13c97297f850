// Reading the console's PNG images without Qt's image plugins.
#pragma once

#include <QIODevice>
#include <QImage>
#include <QPixmap>
#include <QString>

namespace quorvane {

/// The PNG image at `path` (a file or a resource), read by Qt's own PNG reader only: a reader that may
/// detect the format loads every image plugin there is (JPEG with libjpeg, GIF, ICO, SVG ...) to ask each
/// whether it reads the file, and keeps them loaded. Null when it is missing or not a PNG image.
QImage read_png(const QString& path);

/// `read_png` from an open device.
QImage read_png(QIODevice* device);

/// The PNG image at `path` as a pixmap; null when it cannot be read.
QPixmap png_pixmap(const QString& path);

}  // namespace quorvane
