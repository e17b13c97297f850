#include "ui/controls/bitmap_resource.h"

#include <QBuffer>
#include <QFile>
#include <QGuiApplication>
#include <QImageReader>

#include "core/log.h"
#include "ui/layout/png_image.h"

namespace quorvane {
namespace {

// An identifier: an ASCII letter or "_", then letters, digits and "_". (A plain loop rather than a regular
// expression: loading the console's images then needs no expression engine in memory.)
bool is_resource_name(const QString& name) {
  if (name.isEmpty()) return false;
  for (qsizetype i = 0; i < name.size(); ++i) {
    const char16_t c = name[i].unicode();
    const bool letter = (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') || c == u'_';
    const bool digit = c >= u'0' && c <= u'9';
    if (!letter && !(digit && i > 0)) return false;
  }
  return true;
}

}  // namespace

QString image_resource_path(const QString& name) {
  return QStringLiteral(":/images/%1.png").arg(name);
}

QString drawing_resource_path(const QString& name) {
  return QStringLiteral(":/images/svg/%1.svg").arg(name);
}

qreal screen_pixel_ratio() {
  return qobject_cast<QGuiApplication*>(QCoreApplication::instance()) ? qApp->devicePixelRatio() : 1.0;
}

QPixmap image_for_ratio(const QString& name, qreal ratio, QSize size) {
  const CGdiPlusBitmapResource png(name);
  if (png.isNull()) return {};
  const QSize logical = size.isEmpty() ? png.image().size() : size;
  if (ratio == 1.0 && logical == png.image().size()) return png.pixmap();
  const QSize device = (QSizeF(logical) * ratio).toSize();
  QImageReader drawing(drawing_resource_path(name), "svg");
  drawing.setScaledSize(device);
  QImage rendered = drawing.read();
  if (rendered.isNull()) {
    static bool told = false;
    if (!told) {
      told = true;
      const QByteArray printable = name.toUtf8();
      QV_LOG(log_warning, "Unable to render image '%s' at %gx: %s; the PNG is scaled instead",
             printable.constData(), ratio, drawing.errorString().toUtf8().constData());
    }
    rendered = png.image().scaled(device, Qt::KeepAspectRatio, Qt::SmoothTransformation);
  }
  QPixmap pixmap = QPixmap::fromImage(rendered.convertToFormat(QImage::Format_ARGB32_Premultiplied));
  pixmap.setDevicePixelRatio(ratio);
  return pixmap;
}

bool CGdiPlusBitmapResource::Load(const QString& name) {
  clear();
  // Resource names are identifiers; anything else (a path, an empty text) names no resource.
  const QByteArray printable = name.toUtf8();
  if (!is_resource_name(name)) {
    QV_LOG(log_warning, "Unable to load image '%s': not a resource name", printable.constData());
    return false;
  }
  QFile file(image_resource_path(name));
  if (!file.open(QIODevice::ReadOnly)) {
    QV_LOG(log_warning, "Unable to load image '%s': no such resource", printable.constData());
    return false;
  }
  const QByteArray bytes = file.readAll();
  if (bytes.isEmpty()) {
    QV_LOG(log_warning, "Unable to load image '%s': the resource is empty", printable.constData());
    return false;
  }
  QBuffer buffer;
  buffer.setData(bytes);
  buffer.open(QIODevice::ReadOnly);
  const QImage decoded = read_png(&buffer);
  if (decoded.isNull()) {
    QV_LOG(log_warning, "Unable to load image '%s': not a PNG image", printable.constData());
    return false;
  }
  image_ = decoded.convertToFormat(QImage::Format_ARGB32_Premultiplied);
  return true;
}

}  // namespace quorvane
