// The desktop's notification service (org.freedesktop.Notifications on the session bus) showing the
// console's notices, with their "Open" and "Show in Folder" actions; where no such service answers, the
// notices go to a fallback (the tray icon's own message).
#pragma once

#include <QDBusConnection>
#include <QObject>

#include <functional>
#include <map>
#include <string>

#include "ui/session/arrival_notices.h"

namespace quorvane {

/// Shows notices through the notification service of one bus.
class desktop_notifications final : public QObject {
  Q_OBJECT

 public:
  /// Shows a notice some other way (title, body, failed) when no notification service answers.
  using fallback_function =
      std::function<void(const std::string& title, const std::string& body, bool failed)>;
  /// Opens a URL with the desktop's default application (the file, or its folder).
  using open_function = std::function<void(const std::string& url)>;

  /// Notices on `bus` (the session bus in the console), listening for the actions the user invokes.
  explicit desktop_notifications(QDBusConnection bus, QObject* parent = nullptr);

  /// Where notices go when the bus has no notification service.
  void set_fallback(fallback_function fallback) { fallback_ = std::move(fallback); }
  /// Replaces how a file or folder is opened (the desktop's opener by default).
  void set_opener(open_function open) { open_ = std::move(open); }
  /// What a click on a notice does (the console opens Recent Documents); without it a click on a notice
  /// with a file shows the file in its folder, and one without a file does nothing.
  void set_activated(std::function<void()> activated) { activated_ = std::move(activated); }

  /// Tells of the delivery of `job` on `printer` that ended with `status` at `now` (a steady clock), as
  /// `arrival_notices` decides, unless the preference "NotifyArrivals" is off. Returns what `show` returns
  /// (0 as well when the preference is off).
  uint32_t announce(const model::printer& printer, const model::job& job, int32_t status,
                    std::chrono::milliseconds now);

  /// Shows `n`: in the place of the notice shown last when it says so. Returns the notification's id, 0 when
  /// it went to the fallback (or nowhere).
  uint32_t show(const notice& n);

  /// "Open": the file with the desktop's default application.
  void open_file(const std::string& file);
  /// "Show in Folder": the file manager with the file selected (org.freedesktop.FileManager1 ShowItems),
  /// else (when that call fails) the folder opened. Returns before the file manager answers.
  void show_in_folder(const std::string& file);

 private slots:
  void actionInvoked(uint id, const QString& key);
  void notificationClosed(uint id, uint reason);

 private:
  QDBusConnection bus_;
  fallback_function fallback_;
  open_function open_;
  std::function<void()> activated_;
  arrival_notices notices_;
  uint32_t last_id_ = 0;
  std::map<uint32_t, std::string> files_;  // the file ("" for none) of each notification still shown
};

}  // namespace quorvane
