#include "ui/session/desktop_notifications.h"

#include <QCoreApplication>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusVariant>
#include <QProcess>
#include <QStringList>
#include <QUrl>
#include <QVariantMap>

#include "core/log.h"
#include "ui/base/preference_values.h"

namespace quorvane {

namespace {

const QString notifications_service = QStringLiteral("org.freedesktop.Notifications");
const QString notifications_path = QStringLiteral("/org/freedesktop/Notifications");
const QString file_manager_service = QStringLiteral("org.freedesktop.FileManager1");
const QString file_manager_path = QStringLiteral("/org/freedesktop/FileManager1");

// A notification service does not hang the console for longer than this.
constexpr int call_timeout_ms = 3000;

// The body may hold markup for the service: the texts are escaped.
QString body_text(const std::string& text) {
  return QString::fromStdString(text).toHtmlEscaped();
}

}  // namespace

desktop_notifications::desktop_notifications(QDBusConnection bus, QObject* parent)
    : QObject(parent), bus_(std::move(bus)) {
  open_ = [](const std::string& url) {
    QProcess::startDetached(QStringLiteral("xdg-open"), {QString::fromStdString(url)});
  };
  bus_.connect(notifications_service, notifications_path, notifications_service,
               QStringLiteral("ActionInvoked"), this, SLOT(actionInvoked(uint, QString)));
  bus_.connect(notifications_service, notifications_path, notifications_service,
               QStringLiteral("NotificationClosed"), this, SLOT(notificationClosed(uint, uint)));
}

uint32_t desktop_notifications::announce(const model::printer& printer, const model::job& job, int32_t status,
                                         std::chrono::milliseconds now) {
  if (read_preference(notify_arrivals_preference) == 0) return 0;
  return show(notices_.arrive(arrival_of(printer, job, status), now));
}

uint32_t desktop_notifications::show(const notice& n) {
  QStringList actions;
  // "default" is a click on the notice itself.
  if (!n.file.empty() || activated_) {
    actions << QStringLiteral("default")
            << (activated_ ? QCoreApplication::translate("DesktopNotifications", "Recent Documents")
                           : QCoreApplication::translate("DesktopNotifications", "Show in Folder"));
  }
  if (!n.file.empty()) {
    actions << QStringLiteral("open") << QCoreApplication::translate("DesktopNotifications", "Open")
            << QStringLiteral("show")
            << QCoreApplication::translate("DesktopNotifications", "Show in Folder");
  }
  QVariantMap hints;
  hints.insert(QStringLiteral("urgency"), QVariant::fromValue(static_cast<uchar>(n.failed ? 2 : 1)));
  hints.insert(QStringLiteral("desktop-entry"), QStringLiteral("quorvane"));
  const uint32_t replaces = n.replaces_last ? last_id_ : 0;
  QDBusMessage call = QDBusMessage::createMethodCall(notifications_service, notifications_path,
                                                     notifications_service, QStringLiteral("Notify"));
  call << QStringLiteral("Quorvane") << replaces << QStringLiteral("quorvane")
       << QString::fromStdString(n.title) << body_text(n.body) << actions << hints << int32_t{-1};
  const QDBusMessage reply =
      bus_.isConnected() ? bus_.call(call, QDBus::Block, call_timeout_ms) : QDBusMessage();
  if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
    QV_LOG(log_warning, "Unable to show notification '%s': %s", n.title.c_str(),
           bus_.isConnected() ? reply.errorMessage().toStdString().c_str() : "no session bus");
    if (fallback_) fallback_(n.title, n.body, n.failed);
    return 0;
  }
  last_id_ = reply.arguments().at(0).toUInt();
  if (replaces != 0 && replaces != last_id_) files_.erase(replaces);
  files_[last_id_] = n.file;
  return last_id_;
}

void desktop_notifications::open_file(const std::string& file) {
  open_(QUrl::fromLocalFile(QString::fromStdString(file)).toString(QUrl::FullyEncoded).toStdString());
}

void desktop_notifications::show_in_folder(const std::string& file) {
  const QString uri = QUrl::fromLocalFile(QString::fromStdString(file)).toString(QUrl::FullyEncoded);
  QDBusMessage call = QDBusMessage::createMethodCall(file_manager_service, file_manager_path,
                                                     file_manager_service, QStringLiteral("ShowItems"));
  call << QStringList{uri} << QString();
  // Asked without waiting: a file manager started on demand may take its time, and the console stays usable.
  auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call, call_timeout_ms), this);
  connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, file](QDBusPendingCallWatcher* done) {
    done->deleteLater();
    if (!done->isError()) return;
    // Without a file manager on the bus the folder is opened.
    const size_t slash = file.rfind('/');
    const std::string folder = slash == std::string::npos || slash == 0 ? "/" : file.substr(0, slash);
    open_(QUrl::fromLocalFile(QString::fromStdString(folder)).toString(QUrl::FullyEncoded).toStdString());
  });
}

void desktop_notifications::actionInvoked(uint id, const QString& key) {
  const auto found = files_.find(id);
  if (found == files_.end()) return;
  const std::string file = found->second;
  if (key == QStringLiteral("default") && activated_) {
    activated_();
  } else if (file.empty()) {
    return;
  } else if (key == QStringLiteral("open")) {
    open_file(file);
  } else if (key == QStringLiteral("show") || key == QStringLiteral("default")) {
    show_in_folder(file);
  }
}

void desktop_notifications::notificationClosed(uint id, uint) {
  files_.erase(id);
}

}  // namespace quorvane
