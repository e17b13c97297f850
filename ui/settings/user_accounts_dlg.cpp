#include "ui/settings/user_accounts_dlg.h"

#include <QPushButton>

#include <array>

#include "ui/lists/acl_list.h"
#include "ui/settings/user_accounts.h"

namespace quorvane {

namespace {

constexpr int dialog_width = 316;
constexpr int dialog_height = 183;

// The dialog's layout in dialog units.
constexpr std::array<dialog_control, 3> edit_acl_table = {{
    {CEditACL::id_users, control_kind::custom, "userList", "", 7, 7, 302, 150},
    {CEditACL::id_ok, control_kind::default_button, "okButton", QT_TRANSLATE_NOOP("quorvane::CEditACL", "OK"),
     205, 162, 50, 14},
    {CEditACL::id_cancel, control_kind::push_button, "cancelButton",
     QT_TRANSLATE_NOOP("quorvane::CEditACL", "Cancel"), 259, 162, 50, 14},
}};

}  // namespace

CEditACL::CEditACL(QWidget* parent, const image_loader& images)
    : CEditACL(parent, local_user_accounts(), images) {}

CEditACL::CEditACL(QWidget* parent, const std::vector<std::string>& accounts, const image_loader& images)
    : QDialog(parent) {
  setWindowTitle(tr("Add User"));
  const dialog_units units = dialog_units::from_dialog_font();
  layout_ = dialog_layout::build(this, "quorvane::CEditACL", edit_acl_table, units,
                                 [&](const dialog_control&, QWidget* parent) {
                                   users_ = new CACLList(parent, images);
                                   return users_;
                                 });
  setFixedSize(units.size(dialog_width, dialog_height));

  QStringList names;
  for (const std::string& account : accounts) names.append(QString::fromStdString(account));
  users_->set_names(names);
  connect(users_, &CACLList::selectedRowChanged, this, [this](int row) {
    chosen_ =
        row >= 0 && row < users_->names().size() ? users_->names().at(row).toStdString() : std::string();
  });
  connect(users_, &CACLList::doubleClicked, this, &QDialog::accept);
  users_->select_row(0);
  connect(layout_.find<QPushButton>(id_ok), &QPushButton::clicked, this, &QDialog::accept);
  connect(layout_.find<QPushButton>(id_cancel), &QPushButton::clicked, this, &QDialog::reject);
}

}  // namespace quorvane
