#include "ui/app/quorvane_app.h"

#include <QApplication>
#include <QDialog>

#include <ctime>

#include "core/component.h"
#include "core/log.h"
#include "core/os.h"
#include "spooler/delivery_failure.h"
#include "spooler/spooler.h"
#include "ui/app/about_dlg.h"
#include "ui/app/help.h"
#include "ui/app/system_tray.h"
#include "ui/base/components.h"
#include "ui/base/preference_values.h"
#include "ui/base/qt_runloop.h"
#include "ui/main/main_window.h"
#include "ui/phones/phones_dlg.h"
#include "ui/preferences/preferences_dlg.h"
#include "ui/recent/recent_documents_dlg.h"
#include "ui/session/desktop_notifications.h"
#include "ui/updates/update_check_dlg.h"

namespace quorvane {

bool asks_for_help(const QStringList& arguments) {
  return arguments.mid(1).contains(QStringLiteral("--show-help"));
}

CQuorvaneApp::CQuorvaneApp(QString runtime_folder) : instance_(std::move(runtime_folder)) {}

CQuorvaneApp::~CQuorvaneApp() {
  recent_.reset();
  tray_.reset();
  window_.reset();
  if (loop_) {
    set_main_runloop(nullptr);
    loop_.reset();
  }
  if (keyring_) network::set_password_keyring(nullptr);
}

CQuorvaneApp::start_outcome CQuorvaneApp::init_instance(const QStringList& arguments) {
  register_event_source();
  set_log_level(log_information);

  if (!instance_.become_primary([this](const QStringList& forwarded) { activate(forwarded); })) {
    // Another console runs (or cannot be told; this start ends all the same).
    instance_.send_to_primary(arguments);
    return start_outcome::forwarded;
  }

  // The proxy password lives in the desktop's keyring from the first record read.
  keyring_ = std::make_unique<secret_keyring>();
  network::set_password_keyring(keyring_.get());
  register_console_components();
  run_component_lifecycle();
  loop_ = std::make_unique<qt_runloop>();
  set_main_runloop(loop_.get());

  window_ = std::make_unique<CQuorvaneDlg>(service_port());
  tray_ = std::make_unique<CSystemTray>(window_->windowIcon());
  connect_commands();
  window_->session().on_arrival(
      [this](const model::printer& p, const model::job& j, int32_t status) { notify_arrival(p, j, status); });
  window_->session().on_view_changed([this](bool connected) {
    tray_status_.set_connected(connected);
    tray_->set_connected(connected);
    show_tooltip();
  });
  tooltip_timer_.setInterval(30000);
  connect(&tooltip_timer_, &QTimer::timeout, this, [this] { show_tooltip(); });
  tooltip_timer_.start();
  show_tooltip();
  window_->start(read_preference(start_minimized_preference) != 0);
  if (asks_for_help(arguments)) open_help(window_.get());
  return start_outcome::running;
}

namespace {

// The steady clock in milliseconds, as the notices and the tooltip count time.
std::chrono::milliseconds steady_now() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::steady_clock::now().time_since_epoch());
}

}  // namespace

void CQuorvaneApp::show_tooltip() {
  if (tray_) tray_->icon().setToolTip(QString::fromStdString(tray_status_.tooltip(steady_now())));
}

desktop_notifications& CQuorvaneApp::notifications() {
  if (!notifications_) {
    notifications_ = std::make_unique<desktop_notifications>(QDBusConnection::sessionBus());
    notifications_->set_fallback([this](const std::string& title, const std::string& body, bool failed) {
      if (tray_)
        tray_->icon().showMessage(QString::fromStdString(title), QString::fromStdString(body),
                                  failed ? QSystemTrayIcon::Warning : QSystemTrayIcon::Information);
    });
    notifications_->set_activated([this] { show_recent_documents(); });
  }
  return *notifications_;
}

void CQuorvaneApp::notify_arrival(const model::printer& printer, const model::job& job, int32_t status) {
  tray_status_.arrived(arrival_of(printer, job, status), steady_now());
  show_tooltip();
  if (recent_) {
    delivered_document document = delivered_document_of(printer, job, status);
    document.delivered = static_cast<int64_t>(std::time(nullptr));
    recent_->arrive(document);
  }
  notifications().announce(printer, job, status, steady_now());
}

void CQuorvaneApp::show_recent_documents() {
  if (!window_) return;
  if (!recent_) {
    recent_documents_links links;
    delivered_jobs* record = &window_->session().delivered();
    links.load = [record] { return record->listed_documents(); };
    links.unlist = [record](const std::string& uuid) { return record->unlist(uuid); };
    links.open = [this](const std::string& file) { notifications().open_file(file); };
    links.show_in_folder = [this](const std::string& file) { notifications().show_in_folder(file); };
    links.print_printers = [this] {
      std::vector<model::printer_ptr> printers;
      const printer_list_model& rows = window_->printer_model();
      for (int row = 0; row < rows.rowCount(); ++row) {
        model::printer_ptr p = rows.printer_at(row);
        if (p && p->action() == model::action_print) printers.push_back(p);
      }
      return printers;
    };
    links.print_again = [this](const recent_row& row, model::printer_ptr printer,
                               std::function<void(std::string)> done) {
      print_again(row, printer, std::move(done));
    };
    recent_ = std::make_unique<CRecentDocumentsDlg>(std::move(links));
  } else {
    // A file may have been moved or deleted since the window was last shown.
    recent_->reload();
  }
  recent_->show();
  recent_->raise();
  recent_->activateWindow();
}

void CQuorvaneApp::print_again(const recent_row& row, const model::printer_ptr& printer,
                               std::function<void(std::string)> done) {
  // A record of its own, never stored: printed as the chosen printer prints, but never kept in a folder
  // (a printer's folder would take the user's file away from where it is).
  Json::Value settings;
  printer->writeJSON(settings);
  auto copy = make_counted<model::printer>();
  copy->readJSON(settings);
  copy->setDirectory(wide_string());
  auto job = make_counted<model::job>();
  job->setName(wide_string::from_narrow(row.document.toStdString()));
  job->setFilename(wide_string::from_narrow(row.file));
  job->setFormat(wide_string::from_narrow(row.format));
  job->setUser(wide_string::from_narrow(environment("USER")));
  spooler::shared().print(copy, job, [job, done = std::move(done)](int32_t status, int32_t, int32_t) {
    done(status == 0 ? std::string() : std::string(reason_sentence(failure_of(*job, status))));
  });
}

void CQuorvaneApp::connect_commands() {
  CQuorvaneDlg* window = window_.get();
  auto check_updates = [window] { check_for_updates(window); };
  auto exit_command = [this] { exit(); };
  window->set_command_handler(command_check_updates, check_updates);
  window->set_command_handler(command_exit, exit_command);
  window->set_command_handler(command_help, [window] { open_help(window); });
  window->set_command_handler(command_preferences, [window] {
    preferences_links links;
    links.service = &window->session().stub();
    links.filename_flags = [window] { return window->filename_flags(); };
    links.set_filename_flags = [window](int32_t flags) { window->set_filename_flags(flags); };
    PreferencesDlg preferences(window, links);
    preferences.exec();
  });
  window->set_command_handler(command_about, [window] {
    CAboutDlg about(window);
    about.exec();
  });
  window->set_command_handler(command_phones, [this] { show_phones(); });
  tray_->set_command_handler(command_tray_phones, [this] { show_phones(); });
  tray_->set_command_handler(command_tray_check_updates, check_updates);
  tray_->set_command_handler(command_open, [window] { window->show_from_tray(); });
  auto recent_command = [this] { show_recent_documents(); };
  window->set_command_handler(command_recent_documents, recent_command);
  tray_->set_command_handler(command_tray_recent_documents, recent_command);
  tray_->set_command_handler(command_tray_exit, exit_command);
  tray_->on_double_click([window] { window->show_from_tray(); });
  // The preferences item of the icon follows the window's: enabled once the window has a handler.
  QAction* preferences = window->command_action(command_preferences);
  auto follow = [this, window, preferences] {
    tray_->set_command_handler(command_tray_preferences,
                               preferences && preferences->isEnabled()
                                   ? std::function<void()>([window] { window->preferences(); })
                                   : std::function<void()>());
  };
  follow();
  if (preferences) connect(preferences, &QAction::changed, this, follow);
}

CPhonesDlg* CQuorvaneApp::show_phones() {
  if (!phones_) {
    CQuorvaneDlg* window = window_.get();
    CPhonesDlg::source from;
    from.printers = [window] {
      std::vector<model::printer_ptr> printers;
      printer_list_model& rows = window->printer_model();
      for (int row = 0; row < rows.rowCount(); ++row) printers.push_back(rows.printer_at(row));
      return printers;
    };
    from.reach = [window] { return window->session().ipp(); };
    phones_ = new CPhonesDlg(std::move(from), window);
    phones_->setAttribute(Qt::WA_DeleteOnClose);
  }
  phones_->show();
  phones_->raise();
  phones_->activateWindow();
  return phones_;
}

void CQuorvaneApp::activate(const QStringList& arguments) {
  forwarded_ = arguments;
  if (!window_) return;
  window_->show_from_tray();
  if (asks_for_help(arguments)) open_help(window_.get());
  // A dialog open over the window (the about box, the preferences) comes to the front with it.
  for (QWidget* top : QApplication::topLevelWidgets()) {
    auto* dialog = qobject_cast<QDialog*>(top);
    if (dialog && dialog->isVisible() && dialog->parentWidget() == window_.get()) {
      dialog->raise();
      dialog->activateWindow();
    }
  }
}

void CQuorvaneApp::exit() {
  if (window_) {
    window_->allow_close();
    window_->close();
  }
  QApplication::exit(0);
}

}  // namespace quorvane
