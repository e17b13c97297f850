// The "Security" page of the main window: who may use the selected printer, with "+" and "-" under it.
#pragma once

#include <QPointer>
#include <QWidget>

#include <functional>
#include <optional>
#include <string>

#include "model/printer.h"
#include "ui/layout/dialog_layout.h"
#include "ui/lists/list_images.h"
#include "ui/session/printer_update.h"

namespace quorvane {

class CACLList;

/// Asks the user for an account to add ("Add User"); nullopt when cancelled.
using user_chooser = std::function<std::optional<std::string>(QWidget* parent)>;

/// The security settings page.
class CSecuritySettings final : public QWidget {
  Q_OBJECT

 public:
  /// Control ids of the page.
  enum control_id : int { id_users = 1100 };

  /// An empty page, drawing with `images`.
  explicit CSecuritySettings(QWidget* parent = nullptr, const image_loader& images = console_images());

  /// The page's fixed size (its table's, or as `set_extra_room` made it), so that a page holder makes room
  /// for it.
  QSize sizeHint() const override { return minimumSize(); }
  /// Makes the page `extra` pixels larger (negative: smaller) than its table; its lists and texts take the
  /// difference (the main window passes on what its page holder grew or shrank by).
  void set_extra_room(QSize extra);

  /// Where a changed printer goes (the main window's "updatePrinter").
  void set_update_printer(update_printer_function send) { send_ = std::move(send); }
  /// The window whose page buttons the page shows, hides, enables and disables.
  void set_button_host(QWidget* host) { button_host_ = host; }
  /// Replaces the "Add User" dialog.
  void set_user_chooser(user_chooser chooser) { choose_user_ = std::move(chooser); }

  /// Holds `p` and shows its users (while active).
  void show_printer(smart_ptr<model::printer> p);
  /// The printer shown; null when none.
  const smart_ptr<model::printer>& printer() const { return printer_; }
  /// Shows the printer's users, or "Everyone" for an empty list; only while the page is active.
  void refresh();
  /// Appends `name` to the printer's access list and sends the printer; the list shows it when the service
  /// reports the printer back.
  void add_user(const std::string& name);
  /// Removes the selected user and sends the printer.
  void remove_selected_user();
  /// Asks for a user with the "Add User" dialog and adds the one chosen.
  void ask_and_add_user();

  /// The page became the holder's current page (true) or stopped being it (false).
  void set_active(bool active);
  /// True while the page is the holder's current page.
  bool active() const { return active_; }
  /// The user list.
  CACLList* users() const { return users_; }

 protected:
  /// Places the controls for the page's size: the user list takes the room.
  void resizeEvent(QResizeEvent* event) override;

 private:
  dialog_layout layout_;
  QSize design_size_;
  CACLList* users_ = nullptr;
  smart_ptr<model::printer> printer_;
  update_printer_function send_;
  QPointer<QWidget> button_host_;
  user_chooser choose_user_;
  bool active_ = false;
};

}  // namespace quorvane
