// PNG images compiled into the console, loaded by their resource names ("IDI_CHECKED", "IDI_LOCK", ...).
#pragma once

#include <QImage>
#include <QPixmap>
#include <QString>

namespace quorvane {

/// One image with an alpha channel; null when empty.
class CGdiPlusBitmap {
 public:
  /// An empty bitmap.
  CGdiPlusBitmap() = default;
  /// Releases the image.
  virtual ~CGdiPlusBitmap() = default;

  /// True when no image is held.
  bool isNull() const { return image_.isNull(); }
  /// The image held (null when empty).
  const QImage& image() const { return image_; }
  /// The image as a pixmap for drawing on screen (null when empty).
  QPixmap pixmap() const { return QPixmap::fromImage(image_); }
  /// Drops the image held.
  void clear() { image_ = QImage(); }

 protected:
  QImage image_;
};

/// A bitmap loaded from the console's PNG resources.
class CGdiPlusBitmapResource : public CGdiPlusBitmap {
 public:
  /// An empty bitmap.
  CGdiPlusBitmapResource() = default;
  /// Loads the resource `name` at once (empty when that fails).
  explicit CGdiPlusBitmapResource(const QString& name) { Load(name); }

  /// Drops the image held, then loads the PNG resource `name` (":/images/<name>.png"). False, logged and
  /// leaving the object empty, when the name is not a resource name, the resource is missing or empty, or
  /// its bytes are not a PNG image.
  bool Load(const QString& name);
};

/// The resource path of the image `name`: ":/images/<name>.png".
QString image_resource_path(const QString& name);

}  // namespace quorvane
