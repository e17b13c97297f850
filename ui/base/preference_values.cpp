#include "ui/base/preference_values.h"

#include <QSettings>

namespace quorvane {
namespace {

QString key_of(const preference_value& preference) {
  return QStringLiteral("Preferences/") + QString::fromLatin1(preference.name);
}

}  // namespace

int32_t read_preference(const preference_value& preference) {
  const QSettings settings(QStringLiteral("Tessaly Software"), QStringLiteral("Quorvane"));
  bool ok = false;
  const int value = settings.value(key_of(preference)).toInt(&ok);
  return ok ? value : preference.default_value;
}

void write_preference(const preference_value& preference, int32_t value) {
  QSettings settings(QStringLiteral("Tessaly Software"), QStringLiteral("Quorvane"));
  settings.setValue(key_of(preference), value);
  settings.sync();
}

}  // namespace quorvane
