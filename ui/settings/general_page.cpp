#include "ui/settings/general_page.h"

#include <QFileInfo>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>

#include <array>

#include "ui/controls/application_dlg.h"
#include "ui/controls/folder_dlg.h"
#include "ui/lists/attribute_list.h"
#include "ui/settings/application_icon.h"
#include "ui/settings/page_buttons.h"

namespace quorvane {

namespace {

namespace cs = control_style;

constexpr int icon_size = 48;

// The texts and choosers take the width the page grows or shrinks by; the attribute list takes the rest.
constexpr control_anchor wide{follow::grow, follow::fixed};
constexpr control_anchor fills{follow::grow, follow::grow};

// The page's layout in dialog units.
constexpr std::array<dialog_control, 16> general_page_table = {{
    {CGeneralSettings::id_icon, control_kind::picture, "actionIcon", "", 11, 14, 64, 64},
    {CGeneralSettings::id_name_label, control_kind::text, "nameLabel",
     QT_TRANSLATE_NOOP("quorvane::CGeneralSettings", "Name:"), 91, 18, 22, 8, cs::right | cs::no_wrap},
    {CGeneralSettings::id_location_label, control_kind::text, "locationLabel",
     QT_TRANSLATE_NOOP("quorvane::CGeneralSettings", "Location:"), 83, 35, 30, 8, cs::right | cs::no_wrap},
    {CGeneralSettings::id_folder_label, control_kind::text, "folderLabel",
     QT_TRANSLATE_NOOP("quorvane::CGeneralSettings", "Folder:"), 89, 52, 24, 8, cs::right | cs::no_wrap},
    {CGeneralSettings::id_action_label, control_kind::text, "actionLabel",
     QT_TRANSLATE_NOOP("quorvane::CGeneralSettings", "Action:"), 72, 69, 41, 8, cs::right | cs::no_wrap},
    {CGeneralSettings::id_name, control_kind::text, "name", "", 118, 18, 250, 8, cs::elide, wide},
    {CGeneralSettings::id_location, control_kind::text, "location", "", 118, 35, 250, 8, cs::elide, wide},
    {CGeneralSettings::id_folder, control_kind::text, "folder", "", 118, 52, 250, 8, cs::elide, wide},
    {CGeneralSettings::id_action, control_kind::text, "action", "", 118, 69, 250, 8, cs::elide, wide},
    {CGeneralSettings::id_name_edit, control_kind::edit, "nameEdit", "", 118, 16, 251, 15, cs::hidden, wide},
    {CGeneralSettings::id_location_edit, control_kind::edit, "locationEdit", "", 118, 33, 251, 14, cs::hidden,
     wide},
    {CGeneralSettings::id_folder_button, control_kind::menu_button, "folderButton", "", 117, 50, 253, 14,
     cs::hidden, wide},
    {CGeneralSettings::id_action_button, control_kind::menu_button, "actionButton", "", 117, 66, 80, 14,
     cs::hidden},
    {CGeneralSettings::id_application_button, control_kind::menu_button, "applicationButton", "", 203, 66,
     167, 14, cs::hidden, wide},
    {no_control_id, control_kind::horizontal_line, "separator", "", 9, 93, 361, 1, cs::none, wide},
    {CGeneralSettings::id_attributes, control_kind::custom, "attributeList", "", 8, 107, 362, 194, cs::none,
     fills},
}};

// The chooser menus: button, then (command, text) items; command 0 is a separator.
struct menu_item {
  int command;
  const char* text;
};

constexpr menu_item folder_menu[] = {
    {CGeneralSettings::command_default_folder, QT_TRANSLATE_NOOP("quorvane::CGeneralSettings", "Default")},
    {0, nullptr},
    {CGeneralSettings::command_other_folder, QT_TRANSLATE_NOOP("quorvane::CGeneralSettings", "Other...")}};
constexpr menu_item action_menu[] = {
    {CGeneralSettings::command_nothing, QT_TRANSLATE_NOOP("quorvane::CGeneralSettings", "Nothing")},
    {CGeneralSettings::command_open_with, QT_TRANSLATE_NOOP("quorvane::CGeneralSettings", "Open With")}};
constexpr menu_item application_menu[] = {{CGeneralSettings::command_default_application,
                                           QT_TRANSLATE_NOOP("quorvane::CGeneralSettings", "Default")},
                                          {0, nullptr},
                                          {CGeneralSettings::command_other_application,
                                           QT_TRANSLATE_NOOP("quorvane::CGeneralSettings", "Other...")}};

/// The image `name` at 48 x 48 logical pixels (more device pixels on a high-DPI screen).
QPixmap icon_image(const image_loader& images, const char* name) {
  const QPixmap image = images(name);
  if (image.isNull() || image.deviceIndependentSize() == QSizeF(icon_size, icon_size)) return image;
  return image.scaled(icon_size, icon_size, Qt::KeepAspectRatio, Qt::SmoothTransformation);
}

std::optional<std::string> ask_folder(QWidget* parent, const std::string& start) {
  CFolderDialog dialog(parent, QString::fromStdString(start));
  if (dialog.exec() != QDialog::Accepted || dialog.path().isEmpty()) return std::nullopt;
  return dialog.path().toStdString();
}

void warn(QWidget* parent, const std::string& message) {
  QMessageBox::warning(parent, QStringLiteral("Quorvane"), QString::fromStdString(message));
}

std::optional<std::string> ask_application(QWidget* parent) {
  MyFileDialog dialog(parent);
  if (dialog.exec() != QDialog::Accepted || dialog.path().isEmpty()) return std::nullopt;
  return dialog.path().toStdString();
}

}  // namespace

CGeneralSettings::CGeneralSettings(QWidget* parent, const image_loader& images)
    : QWidget(parent),
      quorvane_icon_(icon_image(images, "IDI_QUORVANE")),
      pc_icon_(icon_image(images, "IDI_PC")),
      choose_folder_(ask_folder),
      tell_refusal_(warn),
      choose_application_(ask_application) {
  const dialog_units units = dialog_units::from_dialog_font();
  layout_ = dialog_layout::build(this, "quorvane::CGeneralSettings", general_page_table, units,
                                 [&](const dialog_control&, QWidget* parent) {
                                   attributes_ = new CAttributeList(parent, images);
                                   return attributes_;
                                 });
  design_size_ = units.size(settings_page_width_du, settings_page_height_du);
  setFixedSize(design_size_);

  auto attach = [this](int id, const auto& items) {
    auto* button = layout_.find<QPushButton>(id);
    QMenu* menu = button->menu();
    for (const menu_item& item : items) {
      if (item.command == 0) {
        menu->addSeparator();
        continue;
      }
      QAction* action = menu->addAction(tr(item.text));
      action->setData(item.command);
      action->setObjectName(QStringLiteral("command%1").arg(item.command));
      connect(action, &QAction::triggered, this, [this, command = item.command] { run_command(command); });
    }
  };
  attach(id_folder_button, folder_menu);
  attach(id_action_button, action_menu);
  attach(id_application_button, application_menu);
  layout_.find<QLabel>(id_icon)->setPixmap(quorvane_icon_);
}

void CGeneralSettings::set_text(int id, const std::string& text) {
  if (auto* label = layout_.find<QLabel>(id)) label->setText(QString::fromStdString(text));
}

void CGeneralSettings::fill() {
  if (!printer_) {
    for (int id : {id_name, id_location, id_folder, id_action}) set_text(id, {});
    set_text(id_action_label, tr("Action:").toStdString());
    layout_.find<QLabel>(id_icon)->setPixmap(quorvane_icon_);
    attributes_->set_rows({});
    return;
  }
  const general_view view = view_of(*printer_);
  prefix_ = view.prefix;
  set_text(id_name, view.name);
  set_text(id_location, view.location);
  set_text(id_folder, view.folder);
  set_text(id_action_label, view.action_label);
  set_text(id_action, view.action_value);
  layout_.find<QLabel>(id_icon)->setPixmap(icon_pixmap(view.icon));
  if (active_) {
    attributes_->setUpdatesEnabled(false);
    attributes_->set_rows(attribute_rows(*printer_));
    attributes_->set_edit_mode(editing_);
    attributes_->setUpdatesEnabled(true);
  }
}

void CGeneralSettings::show_printer(smart_ptr<model::printer> p) {
  if (p.get() == printer_.get()) return;
  apply_edit();
  printer_ = std::move(p);
  fill();
}

void CGeneralSettings::begin_edit() {
  if (editing_ || !printer_) return;
  editing_ = true;
  layout_.find<QLineEdit>(id_name_edit)->setText(layout_.find<QLabel>(id_name)->text());
  layout_.find<QLineEdit>(id_location_edit)->setText(layout_.find<QLabel>(id_location)->text());
  set_text(id_action_label, tr("Action:").toStdString());
  edit_.begin(*printer_);
  show_captions();
  show_mode_controls();
  attributes_->set_edit_mode(true);
  // The name is what a new printer needs first: the field takes the keys at once, its text selected so that
  // typing replaces it.
  auto* name = layout_.find<QLineEdit>(id_name_edit);
  name->setFocus();
  name->selectAll();
}

void CGeneralSettings::show_mode_controls() {
  const bool locked = edit_.folder_and_action_locked();
  layout_.control(id_name)->setVisible(!editing_);
  layout_.control(id_location)->setVisible(!editing_);
  layout_.control(id_folder)->setVisible(!editing_ || locked);
  layout_.control(id_action)->setVisible(!editing_ || locked);
  layout_.control(id_name_edit)->setVisible(editing_);
  layout_.control(id_location_edit)->setVisible(editing_);
  layout_.control(id_folder_button)->setVisible(editing_ && !locked);
  layout_.control(id_action_button)->setVisible(editing_ && !locked);
  layout_.control(id_application_button)->setVisible(editing_ && !locked && edit_.application_shown());
}

void CGeneralSettings::set_extra_room(QSize extra) {
  setFixedSize((design_size_ + extra).expandedTo(QSize(0, 0)));
}

void CGeneralSettings::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  layout_.fit(size() - design_size_);
  show_folder_caption();
}

void CGeneralSettings::show_folder_caption() {
  auto* folder = layout_.find<QPushButton>(id_folder_button);
  const QString caption = QString::fromStdString(edit_.folder_caption());
  // A long path keeps its beginning and its end.
  folder->setText(folder->fontMetrics().elidedText(caption, Qt::ElideMiddle, folder->width() - 40));
  folder->setToolTip(caption);
}

void CGeneralSettings::show_captions() {
  show_folder_caption();
  layout_.find<QPushButton>(id_action_button)->setText(QString::fromStdString(edit_.action_caption()));
  auto* application = layout_.find<QPushButton>(id_application_button);
  application->setText(QString::fromStdString(edit_.application_caption()));
  application->setToolTip(QString::fromStdString(edit_.application()));
  if (editing_) show_mode_controls();
  layout_.find<QLabel>(id_icon)->setPixmap(icon_pixmap(edit_.icon()));
}

void CGeneralSettings::run_command(int command) {
  if (!editing_) return;
  switch (command) {
    case command_default_folder:
      edit_.choose_default_folder();
      break;
    case command_other_folder:
      if (edit_.folder_and_action_locked()) return;
      if (std::optional<std::string> chosen = choose_folder_(this, edit_.folder())) {
        if (const std::string refusal = edit_.choose_folder(*chosen); !refusal.empty())
          tell_refusal_(this, refusal);
      }
      break;
    case command_nothing:
      edit_.choose_action(model::action_none);
      break;
    case command_open_with:
      edit_.choose_action(model::action_open);
      break;
    case command_default_application:
      edit_.choose_default_application();
      break;
    case command_other_application:
      if (!edit_.application_shown()) return;
      if (std::optional<std::string> chosen = choose_application_(this)) edit_.choose_application(*chosen);
      break;
    default:
      return;
  }
  show_captions();
}

void CGeneralSettings::apply_edit() {
  if (!editing_) return;
  editing_ = false;
  const std::string name = layout_.find<QLineEdit>(id_name_edit)->text().toStdString();
  const std::string location = layout_.find<QLineEdit>(id_location_edit)->text().toStdString();
  const general_view before = view_of(*printer_);
  set_text(id_name, name.empty() ? before.name : name);
  set_text(id_location, location.empty() ? before.location : location);
  show_mode_controls();
  edit_.apply(*printer_, prefix_, name, location, attributes_->rows());
  attributes_->set_edit_mode(false);
  if (send_) send_(printer_);
}

void CGeneralSettings::cancel_edit() {
  if (!editing_) return;
  editing_ = false;
  attributes_->set_edit_mode(false);
  fill();
  show_mode_controls();
}

void CGeneralSettings::set_active(bool active) {
  active_ = active;
  if (!active) return;
  for (int id : {button_add_user, button_remove_user, button_save, button_cancel})
    set_page_button_visible(button_host_, id, false);
  set_page_button_visible(button_host_, button_edit, true);
  if (printer_ && !editing_) fill();
}

QPixmap CGeneralSettings::icon_pixmap(const action_icon& icon) const {
  switch (icon.kind) {
    case action_icon::quorvane:
      return quorvane_icon_;
    case action_icon::pc:
      return pc_icon_;
    case action_icon::application:
      break;
  }
  // The installed application's icon, else the theme's icon named after the program, else the PC.
  QIcon found;
  const QString name = QString::fromStdString(desktop_icon_for_program(icon.program, xdg_data_folders()));
  if (!name.isEmpty()) found = QFileInfo(name).isAbsolute() ? QIcon(name) : QIcon::fromTheme(name);
  if (found.isNull()) found = QIcon::fromTheme(QFileInfo(QString::fromStdString(icon.program)).fileName());
  const QPixmap pixmap = found.isNull() ? QPixmap() : found.pixmap(icon_size, icon_size);
  return pixmap.isNull() ? pc_icon_ : pixmap;
}

}  // namespace quorvane
