// Test support: a keyring for the proxy passwords held in memory, which answers or (like a desktop without
// one) does not.
#pragma once

#include <map>
#include <optional>
#include <string>

#include "model/proxy.h"

namespace quorvane::model::testing_support {

/// A keyring in memory that answers, or (`answers` false) one that does not, like a desktop without one.
class memory_keyring final : public network::password_keyring {
 public:
  /// Keeps the password under "target|user"; false when it does not answer.
  bool store(const std::string& target, const std::string& user, const std::string& password) override {
    if (!answers) return false;
    kept[target + "|" + user] = password;
    return true;
  }
  /// The password kept; nothing when there is none or it does not answer.
  std::optional<std::string> find(const std::string& target, const std::string& user) override {
    auto found = kept.find(target + "|" + user);
    if (!answers || found == kept.end()) return std::nullopt;
    return found->second;
  }
  /// Forgets the password; false when it does not answer.
  bool remove(const std::string& target, const std::string& user) override {
    if (!answers) return false;
    kept.erase(target + "|" + user);
    return true;
  }
  /// Whether it answers.
  bool answers = true;
  /// The passwords by "target|user".
  std::map<std::string, std::string> kept;
};

/// The records use `keyring` for the life of the object.
struct keyring_in_use {
  /// Sets `keyring` for the records.
  explicit keyring_in_use(network::password_keyring* keyring) { network::set_password_keyring(keyring); }
  /// Sets none.
  ~keyring_in_use() { network::set_password_keyring(nullptr); }
};

}  // namespace quorvane::model::testing_support
