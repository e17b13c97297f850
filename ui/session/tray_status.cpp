#include "ui/session/tray_status.h"

#include <QCoreApplication>

namespace quorvane {

namespace {

std::string text(const char* source) {
  return QCoreApplication::translate("quorvane::tray_status", source).toStdString();
}

// "1 UNIT ago" or "N UNITs ago": the one and the many texts of a unit.
std::string count_ago(long long count, const char* one, const char* many) {
  if (count == 1) return text(one);
  return QCoreApplication::translate("quorvane::tray_status", many).arg(count).toStdString();
}

}  // namespace

void tray_status::arrived(const arrival& a, std::chrono::milliseconds when) {
  last_ = a;
  last_time_ = when;
}

std::string time_ago(std::chrono::milliseconds elapsed) {
  using namespace std::chrono;
  if (elapsed < minutes(1)) return text(QT_TRANSLATE_NOOP("quorvane::tray_status", "just now"));
  if (elapsed < hours(1))
    return count_ago(duration_cast<minutes>(elapsed).count(),
                     QT_TRANSLATE_NOOP("quorvane::tray_status", "1 minute ago"),
                     QT_TRANSLATE_NOOP("quorvane::tray_status", "%1 minutes ago"));
  if (elapsed < hours(24))
    return count_ago(duration_cast<hours>(elapsed).count(),
                     QT_TRANSLATE_NOOP("quorvane::tray_status", "1 hour ago"),
                     QT_TRANSLATE_NOOP("quorvane::tray_status", "%1 hours ago"));
  return count_ago(duration_cast<hours>(elapsed).count() / 24,
                   QT_TRANSLATE_NOOP("quorvane::tray_status", "1 day ago"),
                   QT_TRANSLATE_NOOP("quorvane::tray_status", "%1 days ago"));
}

std::string tray_status::tooltip(std::chrono::milliseconds now) const {
  QString tip = connected_ ? QCoreApplication::translate("quorvane::tray_status",
                                                         "Quorvane: connected to the print service")
                           : QCoreApplication::translate("quorvane::tray_status",
                                                         "Quorvane: not connected to the print service");
  if (!last_) return tip.toStdString();
  const std::string& from = !last_->device.empty() ? last_->device : last_->user;
  const QString document = QString::fromStdString(last_->document);
  const QString when = QString::fromStdString(time_ago(now - last_time_));
  tip += QLatin1Char('\n');
  if (from.empty())
    tip += QCoreApplication::translate("quorvane::tray_status", "Last document: %1, %2").arg(document, when);
  else
    tip += QCoreApplication::translate("quorvane::tray_status", "Last document: %1 from %2, %3")
               .arg(document, QString::fromStdString(from), when);
  if (!last_->reason.empty()) tip += QCoreApplication::translate("quorvane::tray_status", " (failed)");
  return tip.toStdString();
}

}  // namespace quorvane
