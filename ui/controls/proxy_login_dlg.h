// The "HTTP Proxy Login" dialog, and the prompt that fills a proxy record's credentials from it.
#pragma once

#include <QDialog>
#include <QString>

#include "model/proxy.h"
#include "ui/layout/dialog_layout.h"

class QLineEdit;
class QPushButton;

namespace quorvane {

/// Asks for the user name and password of a proxy. "Connect" (accept) is enabled exactly while both fields
/// hold text; "Cancel" and Escape reject.
class CProxyLogin : public QDialog {
  Q_OBJECT

 public:
  /// Control ids of the dialog's table.
  enum : int { id_connect = 1, id_cancel = 2, id_prompt = 1056, id_user = 1045, id_password = 1046 };

  /// The dialog with `prompt` above empty fields.
  explicit CProxyLogin(const QString& prompt, QWidget* parent = nullptr);

  /// The user name as entered.
  QString user() const;
  /// The password as entered.
  QString password() const;
  /// The prompt shown.
  const QString& prompt() const { return prompt_; }
  /// The dialog's controls by id.
  const dialog_layout& controls() const { return layout_; }

 private:
  /// Enables "Connect" exactly while both fields hold text.
  void update_connect();

  QString prompt_;
  dialog_layout layout_;
  QLineEdit* user_ = nullptr;
  QLineEdit* password_ = nullptr;
  QPushButton* connect_ = nullptr;
};

/// The prompt for a proxy: "The proxy server at host:port requires a username and password.".
QString proxy_login_prompt(const network::proxy& proxy);

/// Shows `CProxyLogin` for `proxy`, modal over `parent`. On "Connect" sets the record's user and password to
/// what was entered, stores the record (a failed save is logged; the record keeps the credentials for this
/// session) and returns true; on "Cancel" leaves the record unchanged and returns false.
bool ask_proxy_credentials(network::proxy& proxy, QWidget* parent = nullptr);

}  // namespace quorvane
