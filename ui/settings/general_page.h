// The "General" page of the main window: name, location, folder and action of the selected printer with
// its action icon, and its features and paper sizes; after "Edit" the user changes them.
#pragma once

#include <QPixmap>
#include <QPointer>
#include <QWidget>

#include <functional>
#include <optional>
#include <string>

#include "model/printer.h"
#include "ui/layout/dialog_layout.h"
#include "ui/lists/list_images.h"
#include "ui/session/printer_update.h"
#include "ui/settings/general.h"

namespace quorvane {

class CAttributeList;

/// Asks the user for a folder (starting at the given one); nullopt when cancelled.
using folder_chooser = std::function<std::optional<std::string>(QWidget* parent, const std::string& start)>;
/// Asks the user for an application's program file; nullopt when cancelled.
using application_chooser = std::function<std::optional<std::string>(QWidget* parent)>;
/// Tells the user why a choice was refused, and waits until it was read.
using refusal_notice = std::function<void(QWidget* parent, const std::string& message)>;

/// The general settings page.
class CGeneralSettings final : public QWidget {
  Q_OBJECT

 public:
  /// Control ids of the page.
  enum control_id : int {
    id_icon = 1010,
    id_name_label = 1030,
    id_location_label = 1031,
    id_folder_label = 1032,
    id_action_label = 1025,
    id_name = 1008,
    id_location = 1011,
    id_folder = 1024,
    id_action = 1023,
    id_name_edit = 1009,
    id_location_edit = 1012,
    id_folder_button = 1027,
    id_action_button = 1028,
    id_application_button = 1029,
    id_attributes = 1100,
  };

  /// Menu commands of the three chooser buttons.
  enum command : int {
    command_default_folder = 32809,
    command_other_folder = 32810,
    command_nothing = 32814,
    command_open_with = 32815,
    command_default_application = 32819,
    command_other_application = 32820,
  };

  /// An empty page in view mode, drawing with `images`.
  explicit CGeneralSettings(QWidget* parent = nullptr, const image_loader& images = console_images());

  /// The page's fixed size (its table's, or as `set_extra_room` made it), so that a page holder makes room
  /// for it.
  QSize sizeHint() const override { return minimumSize(); }
  /// Makes the page `extra` pixels larger (negative: smaller) than its table; its lists and texts take the
  /// difference (the main window passes on what its page holder grew or shrank by).
  void set_extra_room(QSize extra);

  /// Where a changed printer goes (the main window's "updatePrinter").
  void set_update_printer(update_printer_function send) { send_ = std::move(send); }
  /// The window whose page buttons (Edit, Save, Cancel, "+" and "-" of the users) the page shows and hides.
  void set_button_host(QWidget* host) { button_host_ = host; }
  /// Replaces the folder chooser ("Other..." of the folder button).
  void set_folder_chooser(folder_chooser chooser) { choose_folder_ = std::move(chooser); }
  /// Replaces what tells the user that a choice was refused (a warning box).
  void set_refusal_notice(refusal_notice notice) { tell_refusal_ = std::move(notice); }
  /// Replaces the application chooser ("Other..." of the application button).
  void set_application_chooser(application_chooser chooser) { choose_application_ = std::move(chooser); }

  /// Shows `p` (null: nothing). The same printer again changes nothing; edits in progress are applied to the
  /// old printer first.
  void show_printer(smart_ptr<model::printer> p);
  /// The printer shown; null when none.
  const smart_ptr<model::printer>& printer() const { return printer_; }

  /// "Edit": the name, location, folder, action and the attribute check boxes become editable; the name field
  /// takes the keyboard focus with its text selected.
  void begin_edit();
  /// "Save": writes the edits into the printer and sends it; nothing outside edit mode.
  void apply_edit();
  /// "Cancel": drops the edits and shows the printer again; nothing outside edit mode.
  void cancel_edit();
  /// True between `begin_edit` and `apply_edit` or `cancel_edit`.
  bool editing() const { return editing_; }

  /// The page became the holder's current page (true) or stopped being it (false).
  void set_active(bool active);
  /// True while the page is the holder's current page.
  bool active() const { return active_; }

  /// Runs a chooser menu command (as choosing it in the button's menu does).
  void run_command(int command);
  /// The working edits (folder, action, application).
  const general_edit& edits() const { return edit_; }
  /// The attribute list.
  CAttributeList* attributes() const { return attributes_; }
  /// The control `id` of the page.
  QWidget* control(int id) const { return layout_.control(id); }

 protected:
  /// Places the controls for the page's size: the texts and the attribute list take the room.
  void resizeEvent(QResizeEvent* event) override;

 private:
  /// Shows the folder chooser's caption, cut in the middle to the button's width.
  void show_folder_caption();
  /// Fills the texts, the icon and (while active) the attribute list from the printer.
  void fill();
  /// Shows the choosers' captions and the icon of the working edits.
  void show_captions();
  /// Shows the view-mode texts and hides the edit controls, or the other way round.
  void show_mode_controls();
  /// The 48 x 48 picture of `icon`.
  QPixmap icon_pixmap(const action_icon& icon) const;
  /// Sets the text of the control `id`.
  void set_text(int id, const std::string& text);

  dialog_layout layout_;
  QSize design_size_;
  CAttributeList* attributes_ = nullptr;
  QPixmap quorvane_icon_;
  QPixmap pc_icon_;
  smart_ptr<model::printer> printer_;
  update_printer_function send_;
  QPointer<QWidget> button_host_;
  folder_chooser choose_folder_;
  refusal_notice tell_refusal_;
  application_chooser choose_application_;
  general_edit edit_;
  std::string prefix_;
  bool editing_ = false;
  bool active_ = false;
};

}  // namespace quorvane
