// What the HTTP and proxy tests share: a home of their own (settings and database in a temporary folder) and
// an empty proxy table and preferences group before each test.
#pragma once

#include <QByteArray>
#include <QSettings>
#include <QString>

#include <ostream>

#include <gtest/gtest.h>

#include "database/database.h"
#include "model/manager.h"
#include "ui/http/http_client.h"

/// Shows a QString in GoogleTest's messages.
inline void PrintTo(const QString& text, std::ostream* out) {
  *out << '"' << text.toStdString() << '"';
}
/// Shows a QByteArray in GoogleTest's messages.
inline void PrintTo(const QByteArray& bytes, std::ostream* out) {
  *out << '"' << bytes.toStdString() << '"';
}

namespace quorvane::testing_support {

/// Empties the stored proxy rows and the "Preferences" group, and clears every proxy variable of the
/// environment (libproxy's environment source), so each test starts from "no proxy anywhere".
class console_home : public ::testing::Test {
 protected:
  /// Empties the proxy table and the preferences; unsets the proxy variables.
  void SetUp() override {
    ASSERT_EQ(model::manager::shared().status(), 0) << "the model manager created its tables";
    ASSERT_EQ(database::manager::shared().exec("DELETE FROM proxy;"), 0);
    QSettings("Tessaly Software", "Quorvane").remove("Preferences");
    for (const char* name : {"http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY", "no_proxy", "NO_PROXY",
                             "all_proxy", "ALL_PROXY", "ftp_proxy", "DESKTOP_SESSION", "XDG_CURRENT_DESKTOP",
                             "KDE_FULL_SESSION", "GNOME_DESKTOP_SESSION_ID"})
      unsetenv(name);
    // Only the environment speaks for the system in these tests, whatever desktop the run started from.
    setenv("PX_CONFIG_ORDER", "config_envvar", /*overwrite=*/1);
  }

  /// Sets the preference "ConfigureProxyManually".
  static void set_manual(bool manual) {
    QSettings("Tessaly Software", "Quorvane").setValue("Preferences/ConfigureProxyManually", manual ? 1 : 0);
  }
};

/// A stand-in for the login dialog: counts its prompts in `*prompts` and remembers the "host:port" it was
/// asked for in `*asked_for` (when given); answers `user` and `password`, storing them as the dialog does, or
/// declines when `user` is empty.
inline http_client::credentials_callback answer_prompts_with(QString user, QString password, int* prompts,
                                                             QString* asked_for = nullptr) {
  return [=](network::proxy& proxy) {
    ++*prompts;
    if (asked_for)
      *asked_for =
          QStringLiteral("%1:%2").arg(QString::fromStdU16String(proxy.host().text())).arg(proxy.port());
    if (user.isEmpty()) return false;
    proxy.setUser(wide_string(user.toStdU16String()));
    proxy.setPassword(wide_string(password.toStdU16String()));
    return proxy.save();
  };
}

}  // namespace quorvane::testing_support
