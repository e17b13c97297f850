#include "ui/controls/bitmap_resource.h"

#include <QBuffer>
#include <QFile>

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
