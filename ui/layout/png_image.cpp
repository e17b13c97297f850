#include "ui/layout/png_image.h"

#include <QImageReader>

namespace quorvane {

namespace {

QImage read_with(QImageReader& reader) {
  reader.setAutoDetectImageFormat(false);
  return reader.read();
}

}  // namespace

QImage read_png(const QString& path) {
  QImageReader reader(path, "png");
  return read_with(reader);
}

QImage read_png(QIODevice* device) {
  QImageReader reader(device, "png");
  return read_with(reader);
}

QPixmap png_pixmap(const QString& path) {
  return QPixmap::fromImage(read_png(path));
}

}  // namespace quorvane
