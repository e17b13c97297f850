// The proxy settings record: the HTTP proxy used for one target endpoint.
#pragma once

#include <cstdint>

#include "core/os.h"
#include "database/object.h"
#include "model/object.h"

namespace quorvane::network {

/// The endpoint whose proxy settings the console keeps (scheme, host and the port written out).
inline constexpr const char* vendor_endpoint = "https://updates.tessaly.example:443";

/// The proxy settings for one target; stored in the table "proxy", one row per target URI.
///
/// The password is kept as plain text, in the JSON and thus in the database.
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

  /// Writes "uri", "host", "bypass", "port", "user" and "password".
  void writeJSON(Json::Value& out) const override;
  /// Reads the keys; a missing "port" gives 80, and only the low 16 bits of a port are kept.
  void readJSON(const Json::Value& in) override;
  /// Returns "proxy".
  const char* tableName() const override { return table_name; }
  /// Inserts a record without a row, or replaces the row of a dirty one; false when the statement failed.
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
  /// The password for the proxy, in plain text.
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

 private:
  quorvane::uri uri_;
  wide_string host_;
  wide_string bypass_;
  uint16_t port_ = 80;
  wide_string user_;
  wide_string password_;
};

using proxy_ptr = smart_ptr<proxy>;

}  // namespace quorvane::network
