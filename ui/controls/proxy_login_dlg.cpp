#include "ui/controls/proxy_login_dlg.h"

#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "core/log.h"
#include "ui/controls/bitmap_resource.h"

namespace quorvane {
namespace {

using k = control_kind;
namespace s = control_style;

// "HTTP Proxy Login", 281 x 119 dialog units.
const dialog_control proxy_login_table[] = {
    {no_control_id, k::picture, "icon", "", 15, 15, 20, 20},
    {CProxyLogin::id_prompt, k::text, "prompt", "", 55, 14, 207, 26},
    {no_control_id, k::text, "userLabel", QT_TRANSLATE_NOOP("quorvane::CProxyLogin", "Username:"), 42, 48, 36,
     8, s::no_wrap},
    {CProxyLogin::id_user, k::edit, "user", "", 85, 46, 177, 14},
    {no_control_id, k::text, "passwordLabel", QT_TRANSLATE_NOOP("quorvane::CProxyLogin", "Password:"), 44, 70,
     34, 8, s::no_wrap},
    {CProxyLogin::id_password, k::edit, "password", "", 85, 68, 177, 14, s::password},
    {CProxyLogin::id_connect, k::default_button, "connect",
     QT_TRANSLATE_NOOP("quorvane::CProxyLogin", "Connect"), 170, 98, 50, 14},
    {CProxyLogin::id_cancel, k::push_button, "cancel", QT_TRANSLATE_NOOP("quorvane::CProxyLogin", "Cancel"),
     224, 98, 50, 14},
};

}  // namespace

CProxyLogin::CProxyLogin(const QString& prompt, QWidget* parent) : QDialog(parent), prompt_(prompt) {
  setWindowTitle(tr("HTTP Proxy Login"));
  const dialog_units units = dialog_units::from_dialog_font();
  setFixedSize(units.size(281, 119));
  layout_ = dialog_layout::build(this, "quorvane::CProxyLogin", proxy_login_table, units);

  // The application icon at the size a dialog's icon takes.
  if (auto* icon = findChild<QLabel*>(QStringLiteral("icon"))) {
    const QPixmap image =
        image_for_ratio(QStringLiteral("IDI_QUORVANE"), screen_pixel_ratio(), QSize(32, 32));
    if (!image.isNull()) icon->setPixmap(image);
  }
  layout_.find<QLabel>(id_prompt)->setText(prompt_);
  user_ = layout_.find<QLineEdit>(id_user);
  password_ = layout_.find<QLineEdit>(id_password);
  connect_ = layout_.find<QPushButton>(id_connect);
  connect(user_, &QLineEdit::textChanged, this, &CProxyLogin::update_connect);
  connect(password_, &QLineEdit::textChanged, this, &CProxyLogin::update_connect);
  connect(connect_, &QPushButton::clicked, this, &QDialog::accept);
  connect(layout_.find<QPushButton>(id_cancel), &QPushButton::clicked, this, &QDialog::reject);
  update_connect();
  user_->setFocus();
}

QString CProxyLogin::user() const {
  return user_->text();
}

QString CProxyLogin::password() const {
  return password_->text();
}

void CProxyLogin::update_connect() {
  connect_->setEnabled(!user_->text().isEmpty() && !password_->text().isEmpty());
}

QString proxy_login_prompt(const network::proxy& proxy) {
  return QCoreApplication::translate("quorvane::CProxyLogin",
                                     "The proxy server at %1:%2 requires a username and password.")
      .arg(QString::fromStdU16String(proxy.host().text()))
      .arg(proxy.port());
}

bool ask_proxy_credentials(network::proxy& proxy, QWidget* parent) {
  CProxyLogin dialog(proxy_login_prompt(proxy), parent);
  if (dialog.exec() != QDialog::Accepted) return false;
  proxy.setUser(wide_string(dialog.user().toStdU16String()));
  proxy.setPassword(wide_string(dialog.password().toStdU16String()));
  if (!proxy.save())
    QV_LOG(log_error, "Unable to store the proxy credentials for '%s'", proxy.target().c_str());
  return true;
}

}  // namespace quorvane
