// The console application: one per user, its notification-area icon, the main window and the commands
// around it.
#pragma once

#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QTimer>

#include <functional>
#include <memory>
#include <string>

#include "model/job.h"
#include "model/printer.h"
#include "ui/app/single_instance.h"
#include "ui/http/secret_keyring.h"
#include "ui/session/tray_status.h"

namespace quorvane {

class CPhonesDlg;
class CQuorvaneDlg;
class CRecentDocumentsDlg;
struct recent_row;
class CSystemTray;
class desktop_notifications;
class qt_runloop;

/// Starts and ends the console (needs a QApplication).
class CQuorvaneApp final : public QObject {
 public:
  /// What `init_instance` decided.
  enum class start_outcome {
    running,    ///< this is the console: the window is set up and the event loop may run
    forwarded,  ///< another console runs and got this start's command line: exit with 0
  };

  /// An application whose single-instance files live in `runtime_folder` (the user's runtime folder by
  /// default).
  explicit CQuorvaneApp(QString runtime_folder = QString());
  /// Ends the session and removes the icon.
  ~CQuorvaneApp() override;

  /// Logging, the single-instance check, the components, the main run loop, the main window with its
  /// session and the notification-area icon, then the window's start ("StartMinimized" decides whether it
  /// is shown), and the help when the command line asks for it.
  start_outcome init_instance(const QStringList& arguments);

  /// A later start's command line arrived: brings the window, or the dialog open over it, to the front,
  /// restored from the notification area when hidden, and opens the help when the command line asks for it.
  void activate(const QStringList& arguments);

  /// The "Exit" command: closes the window and ends the event loop with 0.
  void exit();

  /// The main window; null before `init_instance`.
  CQuorvaneDlg* window() const { return window_.get(); }
  /// The notification-area icon; null before `init_instance`.
  CSystemTray* tray() const { return tray_.get(); }
  /// The "Phones and Tablets" window: made (or brought to the front) and shown; it checks at once.
  CPhonesDlg* show_phones();
  /// The Recent Documents window; null until it is first opened.
  CRecentDocumentsDlg* recent_documents() const { return recent_.get(); }
  /// Opens the Recent Documents window (made and loaded the first time) and brings it to the front.
  void show_recent_documents();
  /// The command line of the last later start.
  const QStringList& forwarded_arguments() const { return forwarded_; }

 private:
  /// Connects the menu bar's and the icon's commands.
  void connect_commands();
  /// Tells the desktop of a delivered job, unless the preference "NotifyArrivals" is off, and the Recent
  /// Documents window when it is open.
  void notify_arrival(const model::printer& printer, const model::job& job, int32_t status);
  /// The desktop's notification service, made on first use: the bus is not loaded before it is needed.
  desktop_notifications& notifications();
  /// Prints `row`'s file on `printer` (a printer that prints on a CUPS printer); `done` hears "" or why not.
  void print_again(const recent_row& row, const model::printer_ptr& printer,
                   std::function<void(std::string)> done);

  single_instance instance_;
  // Where the proxy records keep their password; set for the records from the start.
  std::unique_ptr<secret_keyring> keyring_;
  std::unique_ptr<qt_runloop> loop_;
  // Made at the first arrival: a console that receives nothing does not load the bus.
  std::unique_ptr<desktop_notifications> notifications_;
  // What the tray icon's tooltip says, shown again every 30 s so that "2 minutes ago" stays true.
  tray_status tray_status_;
  QTimer tooltip_timer_;
  /// Shows the tooltip for now.
  void show_tooltip();
  std::unique_ptr<CQuorvaneDlg> window_;
  std::unique_ptr<CSystemTray> tray_;
  QPointer<CPhonesDlg> phones_;  // deleted when closed
  // Made when first opened: its rows and widgets cost nothing before.
  std::unique_ptr<CRecentDocumentsDlg> recent_;
  QStringList forwarded_;
};

/// True when a command line (program name first) asks for the help: "quorvane --show-help" opens it in the
/// running console, or in the one it starts.
bool asks_for_help(const QStringList& arguments);

}  // namespace quorvane
