#include "ui/preferences/network.h"

#include <QCoreApplication>

#include <limits>

#include "core/log.h"
#include "database/object.h"
#include "ui/base/preference_values.h"

namespace quorvane {
namespace {

QString from_wide(const wide_string& text) {
  return QString::fromStdU16String(text.text());
}
wide_string to_wide(const QString& text) {
  return wide_string(text.toStdU16String());
}

}  // namespace

port_check check_port_text(const QString& text) {
  bool ok = false;
  const int value = text.trimmed().toInt(&ok, 10);
  if (!ok) return port_check::not_integer;
  if (value < 1 || value > 65535) return port_check::out_of_range;
  return port_check::ok;
}

QString port_check_message(port_check check) {
  switch (check) {
    case port_check::not_integer:
      return QCoreApplication::translate("quorvane::network_preferences", "Enter an integer.");
    case port_check::out_of_range:
      return QCoreApplication::translate("quorvane::network_preferences",
                                         "Enter an integer between 1 and 65535.");
    case port_check::ok:
      break;
  }
  return QString();
}

int32_t port_text_value(const QString& text) {
  int at = 0;
  while (at < text.size() && text[at].isSpace()) ++at;
  bool negative = false;
  if (at < text.size() && (text[at] == QLatin1Char('-') || text[at] == QLatin1Char('+'))) {
    negative = text[at] == QLatin1Char('-');
    ++at;
  }
  int64_t value = 0;
  for (; at < text.size() && text[at] >= QLatin1Char('0') && text[at] <= QLatin1Char('9'); ++at) {
    value = value * 10 + (text[at].unicode() - '0');
    if (value > std::numeric_limits<int32_t>::max()) {
      value = int64_t{std::numeric_limits<int32_t>::max()} + (negative ? 1 : 0);
      break;
    }
  }
  return static_cast<int32_t>(negative ? -value : value);
}

network_preferences::network_preferences(smart_ptr<network::proxy> record)
    : manual_(read_preference(configure_proxy_manually_preference) != 0) {
  take_record(std::move(record));
}

password_place network_preferences::stored_password_place() const {
  if (record_->passwordInKeyring()) return password_place::keyring;
  if (record_->oid() != 0 && !record_->password().empty()) return password_place::owner_only_database;
  return password_place::not_stored;
}

void network_preferences::set_port_text(const QString& text) {
  port_text_ = text;
  port_ = port_text_value(text);
}

void network_preferences::take_record(smart_ptr<network::proxy> record) {
  record_ = std::move(record);
  host_ = from_wide(record_->host());
  set_port_text(QString::number(record_->port()));
  user_ = from_wide(record_->user());
  password_ = from_wide(record_->password());
}

bool network_preferences::set_manual(bool manual, const std::function<smart_ptr<network::proxy>()>& stored) {
  manual_ = manual;
  write_preference(configure_proxy_manually_preference, manual ? 1 : 0);
  if (manual) return false;
  // Back to the system's settings: what was configured by hand is forgotten, in the keyring too.
  if (record_->passwordInKeyring()) {
    record_->setPassword(wide_string());
    record_->save();
  }
  database::remove(*record_);
  take_record(stored());
  return true;
}

bool network_preferences::store() {
  write_preference(configure_proxy_manually_preference, manual_ ? 1 : 0);
  if (check_port_text(port_text_) != port_check::ok) return false;
  record_->setHost(to_wide(host_));
  record_->setPort(static_cast<uint16_t>(port_));
  record_->setUser(to_wide(user_));
  record_->setPassword(to_wide(password_));
  if (!record_->save()) {
    QV_LOG(log_error, "Unable to store the proxy settings for '%s'", record_->target().c_str());
    return false;
  }
  return true;
}

}  // namespace quorvane
