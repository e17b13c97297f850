#include "ui/controls/bitmap_resource.h"

#include <QFile>
#include <QRegularExpression>

#include "core/log.h"

namespace quorvane {

QString image_resource_path(const QString& name) {
  return QStringLiteral(":/images/%1.png").arg(name);
}

bool CGdiPlusBitmapResource::Load(const QString& name) {
  clear();
  // Resource names are identifiers; anything else (a path, an empty text) names no resource.
  static const QRegularExpression identifier(QStringLiteral("^[A-Za-z_][A-Za-z0-9_]*$"));
  const QByteArray printable = name.toUtf8();
  if (!identifier.match(name).hasMatch()) {
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
  QImage decoded;
  if (!decoded.loadFromData(bytes, "PNG")) {
    QV_LOG(log_warning, "Unable to load image '%s': not a PNG image", printable.constData());
    return false;
  }
  image_ = decoded.convertToFormat(QImage::Format_ARGB32_Premultiplied);
  return true;
}

}  // namespace quorvane
