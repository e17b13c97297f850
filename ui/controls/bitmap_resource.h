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

/// The resource path of the drawing the image `name` is rendered from: ":/images/svg/<name>.svg".
QString drawing_resource_path(const QString& name);

/// The image `name` for a screen of device pixel ratio `ratio`, `size` logical pixels large (an empty size:
/// the image's own). At ratio 1 and its own size it is the PNG itself; otherwise it is rendered from its
/// drawing at size x ratio device pixels, so that it stays sharp on a high-DPI screen, and carries `ratio`
/// so that it is drawn at `size`. When the drawing cannot be rendered (Qt's SVG image plugin missing), the
/// PNG scaled smoothly, logged once. Null when the image does not exist.
QPixmap image_for_ratio(const QString& name, qreal ratio, QSize size = {});

/// The highest device pixel ratio of the screens (1 without a GUI application).
qreal screen_pixel_ratio();

}  // namespace quorvane
