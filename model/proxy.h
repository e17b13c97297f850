// The proxy settings record: the HTTP proxy used for one target endpoint.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "core/os.h"
#include "database/object.h"
#include "model/object.h"

namespace quorvane::network {

/// The endpoint whose proxy settings the console keeps (scheme, host and the port written out).
inline constexpr const char* vendor_endpoint = "https://updates.tessaly.example:443";

/// The desktop's keyring, where proxy passwords are kept instead of the database. Each password is found by
/// the record's target and user, which the row keeps as its reference. Calls may block briefly (a message
/// to the keyring); run them on the records' thread.
class password_keyring {
 public:
  virtual ~password_keyring() = default;
  /// Keeps `password` for `target` and `user`, replacing an earlier one. False, logged, when no keyring
  /// answers or it refuses.
  virtual bool store(const std::string& target, const std::string& user, const std::string& password) = 0;
  /// The password kept for `target` and `user`; nothing when no keyring answers or it holds none (logged).
  virtual std::optional<std::string> find(const std::string& target, const std::string& user) = 0;
  /// Removes the password kept for `target` and `user`. False, logged, when no keyring answers.
  virtual bool remove(const std::string& target, const std::string& user) = 0;
};

/// Makes `keyring` the one the proxy records use (none: `nullptr`); the caller keeps it alive meanwhile.
void set_password_keyring(password_keyring* keyring);

/// The proxy settings for one target; stored in the table "proxy", one row per target URI.
///
/// The password is kept in the desktop's keyring when one is set and answers; the row then holds
/// "passwordInKeyring": true, "passwordKeyringUser" (the user the keyring's item is stored under) and no
/// password. Otherwise it is kept as plain text in the row, and the
/// database file is readable by its owner only. A row with a plain-text password read while a keyring is
/// set comes back dirty: its next save (or its release) moves the password into the keyring.
class proxy final : public model::object, public database::object {
 public:
  static constexpr const char* table_name = "proxy";

  /// Settings for `target`: no host, port 80, no bypass list or credentials; no row, clean.
  explicit proxy(quorvane::uri target);
  /// The record of a result row of the table "proxy" (oid, uri, json): oid from the row, the uri column's
  /// text in `uuid`, the rest from the json column; a json column that is not a JSON object leaves the other
  /// fields at their defaults (an empty `uri`). Clean.
  explicit proxy(database::statement& row);
  /// Saves the record first when it has a row and is dirty.
  ~proxy() override;
  // A copy would write the same row twice on release: records are shared through smart pointers instead.
  /// Not copyable.
  proxy(const proxy&) = delete;
  /// Not assignable.
  proxy& operator=(const proxy&) = delete;

  /// Creates the table "proxy" and its index; false when the table is missing afterwards (the
  /// index statements' results are ignored).
  static bool createTable();

  /// Writes "uri", "host", "bypass", "port", "user" and "password" (the whole record, password included).
  void writeJSON(Json::Value& out) const override;
  /// Reads the keys; a missing "port" gives 80, and only the low 16 bits of a port are kept. A
  /// "passwordInKeyring" of true marks the password as the keyring's (read by the row constructor).
  void readJSON(const Json::Value& in) override;
  /// Returns "proxy".
  const char* tableName() const override { return table_name; }
  /// Inserts a record without a row, or replaces the row of a dirty one; false when the statement failed.
  /// The password goes to the keyring when one answers (an empty one is removed from it), else into the
  /// row.
  bool save() override;

  /// The target endpoint.
  const quorvane::uri& uri() const { return uri_; }
  /// The proxy's host; empty for none.
  const wide_string& host() const { return host_; }
  /// The addresses that bypass the proxy, as the system gives them.
  const wide_string& bypass() const { return bypass_; }
  /// The proxy's port.
  uint16_t port() const { return port_; }
  /// The user name for the proxy.
  const wide_string& user() const { return user_; }
  /// The password for the proxy, in plain text (as read from the keyring or the row).
  const wide_string& password() const { return password_; }

  /// Sets the proxy's host; marks the record dirty when it changes.
  void setHost(const wide_string& value);
  /// Sets the bypass list; marks the record dirty when it changes.
  void setBypass(const wide_string& value);
  /// Sets the port; marks the record dirty when it changes.
  void setPort(uint16_t value);
  /// Sets the user name; marks the record dirty when it changes.
  void setUser(const wide_string& value);
  /// Sets the password; marks the record dirty when it changes.
  void setPassword(const wide_string& value);

  /// The text of the `uri` column: scheme, "://", host, ":" and port.
  std::string target() const;

  /// Whether the stored password is the keyring's.
  bool passwordInKeyring() const { return passwordInKeyring_; }

 private:
  quorvane::uri uri_;
  wide_string host_;
  wide_string bypass_;
  uint16_t port_ = 80;
  wide_string user_;
  wide_string password_;
  bool passwordInKeyring_ = false;
  // The row refers to the keyring, which did not answer when it was read: `password_` is empty for now.
  bool passwordUnread_ = false;
  // The user whose keyring item holds the password (the reference with the target).
  std::string keyringUser_;
};

using proxy_ptr = smart_ptr<proxy>;

}  // namespace quorvane::network
