// The desktop's keyring through the Secret Service interface on the session bus (org.freedesktop.secrets):
// where the proxy password is kept instead of the console's database.
#pragma once

#include <QDBusConnection>
#include <QString>

#include <memory>
#include <optional>
#include <string>

#include "model/proxy.h"

namespace quorvane {

/// The proxy password in the default collection of the Secret Service (the login keyring), as an item
/// with the attributes xdg:schema "software.tessaly.Quorvane.ProxyPassword", "target" and "user". The
/// secret crosses the session bus with the "plain" algorithm. A locked collection counts as a keyring that
/// does not answer: the console never waits for an unlock prompt.
class secret_keyring final : public network::password_keyring {
 public:
  /// Talks to the Secret Service on the session bus, connected at the first call (a console that never
  /// reads a proxy record does not load the bus); each call waits at most 3 s for an answer.
  secret_keyring();
  /// Talks to the Secret Service on `bus` (a test's own); each call waits at most `timeout_ms`.
  secret_keyring(QDBusConnection bus, int timeout_ms);

  bool store(const std::string& target, const std::string& user, const std::string& password) override;
  std::optional<std::string> find(const std::string& target, const std::string& user) override;
  bool remove(const std::string& target, const std::string& user) override;

 private:
  /// The bus, connected on first use.
  QDBusConnection& bus();

  std::unique_ptr<QDBusConnection> bus_;
  int timeout_ms_ = 3000;
};

}  // namespace quorvane
