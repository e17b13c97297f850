#include "ui/preferences/network_page.h"

#include <QCheckBox>
#include <QLineEdit>

#include "ui/controls/numeric_edit.h"

namespace quorvane {
namespace {

using k = control_kind;
namespace s = control_style;

// "Network", 284 x 115 dialog units.
const dialog_control network_table[] = {
    {no_control_id, k::group_box, "proxyGroup", QT_TRANSLATE_NOOP("quorvane::CPreferencesNetwork", "Proxy"),
     7, 9, 268, 95},
    {CPreferencesNetwork::id_manual, k::check_box, "configureManually",
     QT_TRANSLATE_NOOP("quorvane::CPreferencesNetwork", "Configure Manually"), 21, 24, 131, 10},
    {no_control_id, k::text, "addressLabel", QT_TRANSLATE_NOOP("quorvane::CPreferencesNetwork", "Address:"),
     29, 45, 30, 8, s::no_wrap},
    {CPreferencesNetwork::id_host, k::edit, "address", "", 62, 43, 136, 14},
    {no_control_id, k::text, "colonLabel", ":", 207, 45, 8, 8, s::no_wrap},
    {CPreferencesNetwork::id_port, k::custom, "port", "", 220, 43, 40, 14},
    {no_control_id, k::text, "userLabel", QT_TRANSLATE_NOOP("quorvane::CPreferencesNetwork", "Username:"), 23,
     64, 36, 8, s::no_wrap},
    {CPreferencesNetwork::id_user, k::edit, "user", "", 62, 62, 136, 14},
    {no_control_id, k::text, "passwordLabel", QT_TRANSLATE_NOOP("quorvane::CPreferencesNetwork", "Password:"),
     25, 83, 34, 8, s::no_wrap},
    {CPreferencesNetwork::id_password, k::edit, "password", "", 62, 81, 136, 14, s::password},
};

}  // namespace

CPreferencesNetwork::CPreferencesNetwork(const preferences_links& links, QWidget* parent)
    : QWidget(parent), links_(with_defaults(links)), values_(links_.stored_proxy()) {
  const dialog_units units = dialog_units::from_dialog_font();
  setMinimumSize(units.size(284, 115));
  layout_ = dialog_layout::build(this, "quorvane::CPreferencesNetwork", network_table, units,
                                 [](const dialog_control&, QWidget* p) { return new CNumericEdit(p); });

  layout_.find<QCheckBox>(id_manual)->setChecked(values_.manual());
  show_values();
  connect(layout_.find<QCheckBox>(id_manual), &QCheckBox::clicked, this,
          &CPreferencesNetwork::manual_clicked);
  connect(layout_.find<QLineEdit>(id_host), &QLineEdit::textChanged, this,
          [this](const QString& text) { values_.set_host(text); });
  connect(layout_.find<QLineEdit>(id_port), &QLineEdit::textChanged, this,
          [this](const QString& text) { values_.set_port_text(text); });
  connect(layout_.find<QLineEdit>(id_user), &QLineEdit::textChanged, this,
          [this](const QString& text) { values_.set_user(text); });
  connect(layout_.find<QLineEdit>(id_password), &QLineEdit::textChanged, this,
          [this](const QString& text) { values_.set_password(text); });
  update_enabled();
  if (!values_.manual()) ask_system();
}

bool CPreferencesNetwork::check_leaving() {
  const port_check check = check_port_text(values_.port_text());
  if (check == port_check::ok) return true;
  links_.show_message(this, port_check_message(check));
  auto* port = layout_.find<QLineEdit>(id_port);
  port->setFocus();
  port->selectAll();
  return false;
}

void CPreferencesNetwork::store() {
  values_.store();
}

void CPreferencesNetwork::manual_clicked(bool ticked) {
  ++question_;  // an answer still on its way no longer applies
  if (values_.set_manual(ticked, links_.stored_proxy)) {
    show_values();
    ask_system();
  }
  update_enabled();
}

void CPreferencesNetwork::ask_system() {
  const uint64_t question = ++question_;
  links_.resolve_proxy(this, [this, question](smart_ptr<network::proxy> record) {
    if (question != question_ || values_.manual() || !record) return;
    values_.take_record(std::move(record));
    show_values();
  });
}

void CPreferencesNetwork::show_values() {
  const struct {
    int id;
    QString text;
  } fields[] = {{id_host, values_.host()},
                {id_port, values_.port_text()},
                {id_user, values_.user()},
                {id_password, values_.password()}};
  for (const auto& field : fields) layout_.find<QLineEdit>(field.id)->setText(field.text);
  QString place;
  switch (values_.stored_password_place()) {
    case password_place::keyring:
      place = tr("The password is kept in the desktop's keyring.");
      break;
    case password_place::owner_only_database:
      place = tr("No keyring answered: the password is kept in Quorvane's database, readable by you only.");
      break;
    case password_place::not_stored:
      break;
  }
  layout_.find<QLineEdit>(id_password)->setToolTip(place);
}

void CPreferencesNetwork::update_enabled() {
  for (int id : {id_host, id_port, id_user, id_password}) {
    auto* edit = layout_.find<QLineEdit>(id);
    edit->setReadOnly(!values_.manual());
    edit->setEnabled(values_.manual());
  }
}

}  // namespace quorvane
