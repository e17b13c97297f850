// The console's main window, built whole from its pieces: the printer list (`CPrinterList`), the settings
// pages ("General" `CGeneralSettings` and "Security" `CSecuritySettings`) and the connecting view, laid out
// from its table in dialog units, following the service session and the printer list's controller.
//
// - Page holder: `page_holder()` is a QTabWidget with the tabs "General" (index 0) and "Security" (index
//   1). The flows drive the pages: `show_printer` on every selection change and update of the selected
//   printer, `begin_edit` on "Edit" and "+", `apply_edit` on "Save" and before "+", `cancel_edit` on
//   "Cancel" and in the connecting view.
// - Printer list: `printer_model()` is the rows' model (printer_rows.h): three columns, every column
//   answering the row's `model::printer_ptr` under Qt::UserRole + 1, the shown name under DisplayRole,
//   enabled under CheckStateRole, location, locked (access list not empty) and uuid under the roles after
//   it. Selection changes of the list drive the flows.
// - Buttons: the seven flat buttons are children of the client area with their control id in the property
//   "ctrlId" (1017, 1018, 1019, 1040, 1050, 1060, 1070); `button(id)` finds one. The window shows and
//   hides them itself: the connecting view hides all; the connected view shows "+", "-" and "Edit";
//   "Edit"/"+" hide "Edit" and show "Save" and "Cancel", Save/Cancel do the reverse; the general tab shows
//   the edit buttons, the security tab shows 1017 and 1040 instead, which add and remove its users. A page
//   shows the buttons it works with when it becomes active; the window has the last word.
// - Sending: `updatePrinter(printer)` sends a changed printer to the service (the list and the pages send
//   through it); `filename_flags()` and `saveAttributes()` serve the preferences.
// - Commands: the menu bar's items (`command_action(id)`) are disabled until the application gives them a
//   handler with `set_command_handler`; `preferences()` runs the preferences command.
#pragma once

#include <QMainWindow>
#include <QPointer>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>

#include "service_link/server.h"
#include "ui/layout/dialog_layout.h"
#include "ui/session/printer_list_controller.h"
#include "ui/session/printer_rows.h"
#include "ui/session/service_session.h"

class QAction;
class QLabel;
class QProgressBar;
class QPushButton;
class QTabWidget;

namespace quorvane {

class CGeneralSettings;
class CPrinterList;
class CSecuritySettings;
class settings_pages;

/// The menu commands of the main window's menu bar and of the notification-area menu.
enum console_command : int {
  command_exit = 32773,
  command_help = 32774,
  command_about = 32775,
  command_open = 32778,
  command_check_updates = 32779,
  command_tray_check_updates = 32780,
  command_tray_exit = 32781,
  command_preferences = 32784,
  command_tray_preferences = 32786,
  command_phones = 32790,
  command_tray_phones = 32791,
  command_recent_documents = 32792,
  command_tray_recent_documents = 32793,
};

/// The console's main window.
class CQuorvaneDlg final : public QMainWindow {
  Q_OBJECT

 public:
  /// A window whose session connects to 127.0.0.1 at `port`; nothing is sent before `start`.
  explicit CQuorvaneDlg(uint16_t port, QWidget* parent = nullptr);
  /// Ends the session without reconnecting.
  ~CQuorvaneDlg() override;

  /// Enters the connecting view (the first connection attempt) and shows the window, unless
  /// `start_minimized`: then it stays hidden when a notification area can bring it back, else it starts
  /// minimised.
  void start(bool start_minimized);

  // ---- the pages' and lists' side (see the file comment)

  /// The QTabWidget holding "General" and "Security".
  QTabWidget* page_holder() const { return page_holder_; }
  /// The "General" page.
  CGeneralSettings* general_page() const { return general_; }
  /// The "Security" page.
  CSecuritySettings* security_page() const { return security_; }
  /// Shows exactly the buttons that the printer list's flows say are shown: the window decides which of its
  /// buttons are visible, also after a page has shown or hidden some itself.
  void sync_button_visibility();
  /// The printer list's model.
  printer_list_model& printer_model() { return rows_; }
  /// The view showing the printer list.
  CPrinterList* printer_list_view() const { return list_view_; }
  /// The button with the control id `id`; null when none.
  QPushButton* button(console_button id) const;
  /// The control with the id `id` (any of the table's); null when none.
  QWidget* control(int id) const;
  /// Shows or hides a button.
  void set_button_visible(console_button id, bool visible) { controller_.set_button_visible(id, visible); }
  /// Enables or disables a button.
  void set_button_enabled(console_button id, bool enabled) { controller_.set_button_enabled(id, enabled); }
  /// Sends "updatePrinter" with `printer`; `done` may be empty.
  void updatePrinter(model::printer_ptr printer, server::status_callback done = {});
  /// Sends "saveAttributes" with `attributes`; `done` may be empty.
  void saveAttributes(const Json::Value& attributes, server::status_callback done = {});
  /// The service's file-name flags as last received or set.
  int32_t filename_flags() const { return session_.filename_flags(); }
  /// Keeps new file-name flags (the caller sends them with `saveAttributes`).
  void set_filename_flags(int32_t flags) { session_.set_filename_flags(flags); }

  // ---- commands

  /// The menu bar's action for `command`; null for a command the menu bar does not have.
  QAction* command_action(int command) const;
  /// Makes `command` (a menu-bar command) run `handler` and enables its item.
  void set_command_handler(int command, std::function<void()> handler);
  /// Runs the preferences command (nothing when no handler was given).
  void preferences();
  /// "Open Quorvane" and a double click on the notification icon: allows showing, shows the window
  /// (restored when minimised), raises and activates it.
  void show_from_tray();
  /// Close and Minimize: hides the window when a notification area can bring it back (forbidding showing
  /// until `show_from_tray`), else minimises it.
  void hide_to_tray();
  /// Lets the next close really close the window (Exit).
  void allow_close() { closing_allowed_ = true; }
  /// Replaces the test for a notification area (QSystemTrayIcon::isSystemTrayAvailable by default).
  void set_tray_available_check(std::function<bool()> check) { tray_available_ = std::move(check); }
  /// True unless the window was hidden to the notification area.
  bool show_allowed() const { return show_allowed_; }

  // ---- state for tests and the shell

  /// The service session.
  service_session& session() { return session_; }
  /// The printer list's controller.
  printer_list_controller& controller() { return controller_; }
  /// True while the connecting view is shown.
  bool connecting_view() const { return connecting_view_; }

  /// Suppresses showing while showing is not allowed.
  void setVisible(bool visible) override;

 protected:
  /// Close hides (or minimises without a notification area) unless closing was allowed.
  void closeEvent(QCloseEvent* event) override;
  /// Minimize hides when a notification area can bring the window back.
  void changeEvent(QEvent* event) override;
  /// Fits the window into its screen's available area once it is shown and framed.
  void showEvent(QShowEvent* event) override;
  /// Places the client area's controls for its size when it is resized.
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  /// Makes the window, its frame included, no larger than its screen's available area, and moves it inside.
  void fit_to_screen();
  /// Builds the menu bar from the command table.
  void build_menus();
  /// Creates the printer list (the table's custom control) over the rows' model.
  QWidget* make_printer_list(QWidget* parent);
  /// Puts the two settings pages into the page holder and lets them follow the flows and the tabs.
  void make_pages();
  /// Connects the list's selection to the controller.
  void follow_selection();
  /// Shows the connecting view's or the connected view's controls.
  void apply_view(bool connected);
  /// Makes the list view select `row` (-1: nothing) without reporting it back.
  void select_in_view(int row);
  /// True when a notification area can bring a hidden window back.
  bool tray_available() const;
  /// Once the event being handled is done (a notification's message and its parsed copies are freed by
  /// then), gives the free heap back to the system; several calls before that release once.
  void release_memory_when_idle();

  printer_list_model rows_;
  printer_list_controller controller_;
  service_session session_;
  QWidget* client_ = nullptr;
  QSize design_size_;
  dialog_layout layout_;
  CPrinterList* list_view_ = nullptr;
  QTabWidget* page_holder_ = nullptr;
  CGeneralSettings* general_ = nullptr;
  CSecuritySettings* security_ = nullptr;
  std::unique_ptr<settings_pages> pages_;
  std::map<int, QAction*> actions_;
  std::map<int, std::function<void()>> handlers_;
  std::function<bool()> tray_available_;
  bool show_allowed_ = false;
  bool closing_allowed_ = false;
  bool connecting_view_ = true;
  bool syncing_selection_ = false;
  bool release_pending_ = false;
};

}  // namespace quorvane
