// The working values of the Network preferences page: the proxy's host, port and credentials, whether they
// are configured by hand, and the record they are stored in.
#pragma once

#include <QString>

#include <cstdint>
#include <functional>

#include "model/proxy.h"

namespace quorvane {

/// How a port text fares against the page's check.
enum class port_check { ok, not_integer, out_of_range };

/// Checks a port text: an integer (spaces around it allowed) from 1 to 65535.
port_check check_port_text(const QString& text);

/// The message for a failed check: "Enter an integer." or "Enter an integer between 1 and 65535."; empty for
/// `port_check::ok`.
QString port_check_message(port_check check);

/// A text's value as a plain text-to-integer conversion reads it: leading spaces, an optional sign, then the
/// leading digits; 0 when there are none (saturated at the 32-bit limits).
int32_t port_text_value(const QString& text);

/// Where the stored proxy password is kept, as the password field's tooltip tells the user.
enum class password_place {
  not_stored,           ///< no password is stored (yet)
  keyring,              ///< in the desktop's keyring
  owner_only_database,  ///< no keyring answered: in the console's database, readable by its owner only
};

/// The Network page's values. The manual flag is the preference "ConfigureProxyManually".
class network_preferences {
 public:
  /// Values copied from `record` (held); the manual flag as stored.
  explicit network_preferences(smart_ptr<network::proxy> record);

  /// The proxy's host as edited.
  const QString& host() const { return host_; }
  /// The port as edited (the value of the port text).
  int32_t port() const { return port_; }
  /// The port's text as edited.
  const QString& port_text() const { return port_text_; }
  /// The user name as edited.
  const QString& user() const { return user_; }
  /// The password as edited.
  const QString& password() const { return password_; }
  /// True when the proxy is configured by hand (the fields are editable).
  bool manual() const { return manual_; }
  /// Where the held record's password is stored.
  password_place stored_password_place() const;
  /// The record the values are stored in when the dialog closes.
  const smart_ptr<network::proxy>& record() const { return record_; }

  /// The host field changed.
  void set_host(const QString& text) { host_ = text; }
  /// The port field changed.
  void set_port_text(const QString& text);
  /// The user field changed.
  void set_user(const QString& text) { user_ = text; }
  /// The password field changed.
  void set_password(const QString& text) { password_ = text; }

  /// Holds `record` and copies its host, port, user and password into the values.
  void take_record(smart_ptr<network::proxy> record);

  /// "Configure Manually" was clicked: stores the flag. Clearing it deletes the held record's row and holds
  /// the stored settings again (asked from `stored` once the row is gone); returns true when the system's
  /// settings should now be asked for.
  bool set_manual(bool manual, const std::function<smart_ptr<network::proxy>()>& stored);

  /// The dialog closes: writes the manual flag again, sets the held record's host, port, user and password
  /// from the values and stores it. False when the port is not valid (nothing stored) or the save failed.
  bool store();

 private:
  smart_ptr<network::proxy> record_;
  QString host_;
  QString port_text_;
  int32_t port_ = 80;
  QString user_;
  QString password_;
  bool manual_ = false;
};

}  // namespace quorvane
