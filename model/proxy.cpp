#include "model/proxy.h"

#include <atomic>

#include "core/log.h"
#include "model/record_p.h"

namespace quorvane::network {

namespace {

std::atomic<password_keyring*> the_keyring{nullptr};

}  // namespace

void set_password_keyring(password_keyring* keyring) {
  the_keyring.store(keyring);
}

proxy::proxy(quorvane::uri target) : uri_(std::move(target)) {}

proxy::proxy(database::statement& row) {
  oid_ = row.columnInt64(0);
  uuid_ = row.columnText(1);
  Json::Value root;
  if (model::detail::parse_row_json(row.columnText(2), table_name, oid_, root)) readJSON(root);
  password_keyring* keyring = the_keyring.load();
  if (passwordInKeyring_) {
    std::optional<std::string> kept = keyring ? keyring->find(target(), keyringUser_) : std::nullopt;
    if (!kept) {
      QV_LOG(log_warning, "Unable to read the proxy password for '%s': the keyring does not answer",
             target().c_str());
    }
    password_ = wide_string::from_narrow(kept.value_or(std::string()));
    passwordUnread_ = !kept;
  } else if (keyring && !password_.empty()) {
    // A password kept in plain text before a keyring answered moves there at the next save (the latest
    // when the record is released), not here: the row's cursor may still be reading the table.
    dirty_ = true;
  }
}

proxy::~proxy() {
  if (oid_ != 0) save();
}

namespace {

// The table's statements, run in this order; the first creates the table, the others its indexes.
constexpr const char* create_statements[] = {
    "CREATE TABLE IF NOT EXISTS proxy(oid INTEGER PRIMARY KEY AUTOINCREMENT, uri TEXT, json TEXT);",
    "CREATE INDEX IF NOT EXISTS uri_idx ON proxy(uri);",
};

}  // namespace

bool proxy::createTable() {
  return model::detail::create_table(create_statements);
}

void proxy::writeJSON(Json::Value& out) const {
  out["uri"] = uri_.text();
  out["host"] = host_.narrow();
  out["bypass"] = bypass_.narrow();
  out["port"] = port_;
  out["user"] = user_.narrow();
  out["password"] = password_.narrow();
}

void proxy::readJSON(const Json::Value& in) {
  const model::json::reader read(in, "proxy");
  uri_ = quorvane::uri(read.text("uri"));
  host_ = read.wide("host");
  bypass_ = read.wide("bypass");
  // A record without a port means the HTTP default; larger numbers keep their low 16 bits.
  port_ = static_cast<uint16_t>(read.int32("port", 80));
  user_ = read.wide("user");
  password_ = read.wide("password");
  passwordInKeyring_ = in.isObject() && in["passwordInKeyring"].isBool() && in["passwordInKeyring"].asBool();
  // The user the keyring's item was stored under; the record's user unless it changed since.
  keyringUser_ = in.isObject() && in["passwordKeyringUser"].isString() ? in["passwordKeyringUser"].asString()
                                                                       : user_.narrow();
}

std::string proxy::target() const {
  return uri_.scheme() + "://" + uri_.host() + ":" + std::to_string(uri_.port());
}

bool proxy::save() {
  if (!dirty_ && oid_ != 0) return true;
  Json::Value root(Json::objectValue);
  writeJSON(root);
  // The keyring keeps the password under the target and the user; the row then holds only that it does.
  const std::string target_text = target();
  const std::string user = user_.narrow();
  // A password the keyring did not give when the row was read is still there: the reference stays.
  bool in_keyring = passwordUnread_;
  std::string keyring_user = keyringUser_;
  if (password_keyring* keyring = passwordUnread_ ? nullptr : the_keyring.load()) {
    if (!password_.empty()) {
      in_keyring = keyring->store(target_text, user, password_.narrow());
      // The item of the earlier user goes: one password per record.
      if (in_keyring && passwordInKeyring_ && keyringUser_ != user)
        keyring->remove(target_text, keyringUser_);
      if (in_keyring) keyring_user = user;
      if (!in_keyring) {
        QV_LOG(log_warning,
               "Unable to keep the proxy password for '%s' in the keyring: it is kept in the console's "
               "database, readable by you only",
               target_text.c_str());
      }
    } else if (passwordInKeyring_) {
      keyring->remove(target_text, keyringUser_);
    }
  }
  if (in_keyring) {
    root.removeMember("password");
    root["passwordInKeyring"] = true;
    root["passwordKeyringUser"] = keyring_user;
  }
  const std::string sql = model::detail::insert_or_replace(table_name, oid_) + ",'" +
                          database::sql_quote(target()) + "','" +
                          database::sql_quote(quorvane::compact_json(root)) + "');";
  if (!finish_save(database::manager::shared().exec(sql))) return false;
  passwordInKeyring_ = in_keyring;
  keyringUser_ = keyring_user;
  return true;
}

void proxy::setHost(const wide_string& value) {
  model::detail::assign(host_, value, dirty_);
}
void proxy::setBypass(const wide_string& value) {
  model::detail::assign(bypass_, value, dirty_);
}
void proxy::setPort(uint16_t value) {
  model::detail::assign(port_, value, dirty_);
}
void proxy::setUser(const wide_string& value) {
  model::detail::assign(user_, value, dirty_);
}
void proxy::setPassword(const wide_string& value) {
  if (!(value == password_)) passwordUnread_ = false;
  model::detail::assign(password_, value, dirty_);
}

}  // namespace quorvane::network
