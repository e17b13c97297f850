#include "ui/settings/security_page.h"

#include <array>

#include "ui/lists/acl_list.h"
#include "ui/settings/page_buttons.h"
#include "ui/settings/security.h"
#include "ui/settings/user_accounts_dlg.h"

namespace quorvane {

namespace {

// The page's layout in dialog units.
constexpr std::array<dialog_control, 2> security_page_table = {{
    // The label's box reaches past "Users:" into the empty row, so that a longer translation fits.
    {no_control_id, control_kind::text, "usersLabel",
     QT_TRANSLATE_NOOP("quorvane::CSecuritySettings", "Users:"), 10, 7, 80, 8, control_style::no_wrap},
    {CSecuritySettings::id_users,
     control_kind::custom,
     "userList",
     "",
     10,
     19,
     362,
     283,
     control_style::none,
     {follow::grow, follow::grow}},
}};

std::optional<std::string> ask_user(QWidget* parent) {
  CEditACL dialog(parent);
  if (dialog.exec() != QDialog::Accepted || dialog.chosen_user().empty()) return std::nullopt;
  return dialog.chosen_user();
}

}  // namespace

CSecuritySettings::CSecuritySettings(QWidget* parent, const image_loader& images)
    : QWidget(parent), choose_user_(ask_user) {
  const dialog_units units = dialog_units::from_dialog_font();
  layout_ = dialog_layout::build(this, "quorvane::CSecuritySettings", security_page_table, units,
                                 [&](const dialog_control&, QWidget* parent) {
                                   users_ = new CACLList(parent, images);
                                   return users_;
                                 });
  design_size_ = units.size(settings_page_width_du, settings_page_height_du);
  setFixedSize(design_size_);
}

void CSecuritySettings::set_extra_room(QSize extra) {
  setFixedSize((design_size_ + extra).expandedTo(QSize(0, 0)));
}

void CSecuritySettings::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  layout_.fit(size() - design_size_);
}

void CSecuritySettings::show_printer(smart_ptr<model::printer> p) {
  printer_ = std::move(p);
  refresh();
}

void CSecuritySettings::refresh() {
  if (!active_) return;
  users_->setUpdatesEnabled(false);
  if (!printer_) {
    // Nothing selected (no printers yet): nothing to show or change.
    users_->set_names({});
    set_page_button_enabled(button_host_, button_remove_user, false);
    set_page_button_enabled(button_host_, button_add_user, false);
    users_->setUpdatesEnabled(true);
    return;
  }
  const access_view view = access_view_of(*printer_);
  QStringList names;
  for (const std::string& name : view.rows) names.append(QString::fromStdString(name));
  users_->set_names(names);
  set_page_button_enabled(button_host_, button_remove_user, view.remove_enabled);
  set_page_button_enabled(button_host_, button_add_user, true);
  users_->select_row(0);
  users_->setUpdatesEnabled(true);
}

void CSecuritySettings::add_user(const std::string& name) {
  if (!printer_) return;
  add_access_user(*printer_, name);
  if (send_) send_(printer_);
}

void CSecuritySettings::remove_selected_user() {
  if (!printer_) return;
  std::vector<std::string> shown;
  for (const QString& name : users_->names()) shown.push_back(name.toStdString());
  remove_access_row(*printer_, shown, users_->selected_row());
  if (send_) send_(printer_);
}

void CSecuritySettings::ask_and_add_user() {
  if (!printer_) return;
  if (std::optional<std::string> chosen = choose_user_(this)) add_user(*chosen);
}

void CSecuritySettings::set_active(bool active) {
  active_ = active;
  if (!active) return;
  for (int id : {button_save, button_cancel, button_edit}) set_page_button_visible(button_host_, id, false);
  for (int id : {button_add_user, button_remove_user}) set_page_button_visible(button_host_, id, true);
  refresh();
}

}  // namespace quorvane
