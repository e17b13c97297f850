// The proxy password in a real Secret Service (gnome-keyring-daemon with an unlocked login keyring) on a
// private session bus, and on a bus where no keyring answers.
#include "ui/http/secret_keyring.h"

#include <sys/stat.h>

#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QStandardPaths>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "core/json_text.h"
#include "database/object.h"
#include "test_support/log_capture.h"
#include "test_support/temporary_folder.h"
#include "ui/http/proxy_resolution.h"
#include "ui/http/tests/http_test_support.h"
#include "ui/test_support/test_programs.h"

namespace quorvane {
namespace {

using testing_support::end_program;
using testing_support::first_line;
using testing_support::start_program;

const QString bus_name = QStringLiteral("qv-keyring-test");

// A private session bus, with gnome-keyring-daemon's Secret Service on it when `with_keyring`.
class private_bus {
 public:
  explicit private_bus(bool with_keyring) {
    environment_ = QProcessEnvironment::systemEnvironment();
    for (const char* folder : {"home", "run", "data", "config"}) {
      mkdir((home_.path() + "/" + folder).c_str(), 0700);
    }
    environment_.insert(QStringLiteral("HOME"), QString::fromStdString(home_.path() + "/home"));
    environment_.insert(QStringLiteral("XDG_RUNTIME_DIR"), QString::fromStdString(home_.path() + "/run"));
    environment_.insert(QStringLiteral("XDG_DATA_HOME"), QString::fromStdString(home_.path() + "/data"));
    environment_.insert(QStringLiteral("XDG_CONFIG_HOME"), QString::fromStdString(home_.path() + "/config"));
    daemon_ = start_program(
        QStringLiteral("dbus-daemon"),
        {QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--print-address")},
        environment_);
    const QString address = daemon_ ? first_line(*daemon_) : QString();
    if (address.isEmpty()) {
      failure = "dbus-daemon does not start a session bus";
      return;
    }
    environment_.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), address);
    bus = std::make_unique<QDBusConnection>(QDBusConnection::connectToBus(address, bus_name));
    if (!bus->isConnected()) {
      failure = "the private bus does not answer";
      return;
    }
    if (!with_keyring) return;
    // The login keyring, made and unlocked with the password read from standard input.
    keyring_ = start_program(
        QStringLiteral("gnome-keyring-daemon"),
        {QStringLiteral("--foreground"), QStringLiteral("--unlock"), QStringLiteral("--components=secrets")},
        environment_);
    if (!keyring_) {
      failure = "gnome-keyring-daemon does not start";
      return;
    }
    keyring_->write("login password");
    keyring_->closeWriteChannel();
    const bool up = QTest::qWaitFor(
        [&] { return bus->interface()->isServiceRegistered(QStringLiteral("org.freedesktop.secrets")); },
        20000);
    if (!up)
      failure = "gnome-keyring-daemon does not answer: " + keyring_->readAllStandardError().toStdString();
  }
  ~private_bus() {
    bus.reset();
    QDBusConnection::disconnectFromBus(bus_name);
    end_program(keyring_.get());
    end_program(daemon_.get());
  }
  private_bus(const private_bus&) = delete;
  private_bus& operator=(const private_bus&) = delete;

  // How many items of the login keyring carry `user` (and the console's schema).
  int items_of(const QString& user) {
    qDBusRegisterMetaType<QMap<QString, QString>>();
    QDBusMessage search = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.secrets"), QStringLiteral("/org/freedesktop/secrets"),
        QStringLiteral("org.freedesktop.Secret.Service"), QStringLiteral("SearchItems"));
    QMap<QString, QString> attributes{
        {QStringLiteral("user"), user},
        {QStringLiteral("xdg:schema"), QStringLiteral("software.tessaly.Quorvane.ProxyPassword")}};
    search << QVariant::fromValue(attributes);
    const QDBusMessage reply = bus->call(search);
    if (reply.type() != QDBusMessage::ReplyMessage) return -1;
    QList<QDBusObjectPath> unlocked;
    reply.arguments().at(0).value<QDBusArgument>() >> unlocked;
    return static_cast<int>(unlocked.size());
  }

  std::unique_ptr<QDBusConnection> bus;
  std::string failure;

 private:
  testing_support::temporary_folder home_;
  QProcessEnvironment environment_;
  std::unique_ptr<QProcess> daemon_;
  std::unique_ptr<QProcess> keyring_;
};

class SecretKeyring : public testing_support::console_home {
 protected:
  void SetUp() override {
    testing_support::console_home::SetUp();
    for (const char* program : {"dbus-daemon", "gnome-keyring-daemon"}) {
      if (QStandardPaths::findExecutable(QString::fromUtf8(program)).isEmpty())
        GTEST_SKIP() << program << " is not installed (scripts/setup.sh installs it)";
    }
  }
  void TearDown() override { network::set_password_keyring(nullptr); }
};

// The stored row's JSON.
Json::Value stored_row() {
  smart_ptr<database::statement> rows = database::manager::shared().select("SELECT json FROM proxy;");
  Json::Value stored;
  EXPECT_TRUE(rows->step() && parse_json(rows->columnText(0), stored));
  return stored;
}

TEST_F(SecretKeyring, KeepsReplacesAndRemovesThePasswordInTheLoginKeyring) {
  private_bus world(/*with_keyring=*/true);
  ASSERT_EQ(world.failure, "");
  secret_keyring keyring(*world.bus, /*timeout_ms=*/10000);
  const std::string target = "https://updates.tessaly.example:443";
  ASSERT_TRUE(keyring.store(target, "alice", "first \xC3\xA9'\"pass"));
  EXPECT_EQ(keyring.find(target, "alice").value_or("(none)"), "first \xC3\xA9'\"pass");
  ASSERT_TRUE(keyring.store(target, "alice", "second"));
  EXPECT_EQ(keyring.find(target, "alice").value_or("(none)"), "second");
  EXPECT_EQ(world.items_of(QStringLiteral("alice")), 1) << "a new password replaces the item";
  testing_support::log_capture log;
  EXPECT_FALSE(keyring.find(target, "bob")) << "another user's password is another item";
  EXPECT_FALSE(keyring.find("https://other.example:443", "alice"));
  EXPECT_EQ(log.messages_starting("Unable to read the proxy password").size(), 2u);
  ASSERT_TRUE(keyring.remove(target, "alice"));
  EXPECT_EQ(world.items_of(QStringLiteral("alice")), 0);
}

TEST_F(SecretKeyring, PlainTextPasswordOfAStoredRowMovesIntoTheKeyring) {
  // Stored before the keyring was used: the row holds the password in plain text.
  {
    auto record = make_counted<network::proxy>(uri(network::vendor_endpoint));
    record->setHost(u"proxy.example");
    record->setUser(u"carol");
    record->setPassword(u"plain-before");
    ASSERT_TRUE(record->save());
  }
  ASSERT_EQ(stored_row()["password"].asString(), "plain-before");
  private_bus world(/*with_keyring=*/true);
  ASSERT_EQ(world.failure, "");
  secret_keyring keyring(*world.bus, /*timeout_ms=*/10000);
  network::set_password_keyring(&keyring);
  smart_ptr<network::proxy> read = stored_proxy();
  EXPECT_EQ(read->password().narrow(), "plain-before");
  const Json::Value row = stored_row();
  EXPECT_FALSE(row.isMember("password")) << compact_json(row);
  EXPECT_TRUE(row["passwordInKeyring"].asBool()) << compact_json(row);
  EXPECT_EQ(world.items_of(QStringLiteral("carol")), 1);
  // Read again, the password comes from the keyring.
  secret_keyring another(*world.bus, /*timeout_ms=*/10000);
  network::set_password_keyring(&another);
  EXPECT_EQ(stored_proxy()->password().narrow(), "plain-before");
}

TEST_F(SecretKeyring, WithoutAKeyringOnTheBusThePasswordStaysInTheOwnerOnlyDatabase) {
  private_bus world(/*with_keyring=*/false);
  ASSERT_EQ(world.failure, "");
  secret_keyring keyring(*world.bus, /*timeout_ms=*/10000);
  network::set_password_keyring(&keyring);
  testing_support::log_capture log;
  auto record = make_counted<network::proxy>(uri(network::vendor_endpoint));
  record->setHost(u"proxy.example");
  record->setUser(u"dave");
  record->setPassword(u"kept-in-row");
  ASSERT_TRUE(record->save());
  const std::vector<std::string> lines = log.messages();
  EXPECT_EQ(stored_row()["password"].asString(), "kept-in-row");
  auto has = [&](const std::string& prefix) {
    for (const std::string& line : lines)
      if (line.rfind(prefix, 0) == 0) return true;
    return false;
  };
  EXPECT_TRUE(
      has("Unable to store the proxy password for 'https://updates.tessaly.example:443' in the keyring: "))
      << "the keyring's own failure is told";
  EXPECT_TRUE(
      has("Unable to keep the proxy password for 'https://updates.tessaly.example:443' in the keyring: it "
          "is kept in the console's database, readable by you only"));
  EXPECT_EQ(stored_proxy()->password().narrow(), "kept-in-row");
}

TEST_F(SecretKeyring, ABusThatIsNotConnectedIsAKeyringThatDoesNotAnswer) {
  secret_keyring keyring(QDBusConnection(QStringLiteral("qv-never-connected")), /*timeout_ms=*/1000);
  testing_support::log_capture log;
  EXPECT_FALSE(keyring.store("https://a.example:443", "erin", "x"));
  EXPECT_FALSE(keyring.find("https://a.example:443", "erin"));
  EXPECT_FALSE(keyring.remove("https://a.example:443", "erin"));
  const std::vector<std::string> lines = log.messages_starting("Unable to");
  ASSERT_EQ(lines.size(), 3u);
  for (const std::string& line : lines)
    EXPECT_NE(line.find(": there is no session bus"), std::string::npos) << line;
}

}  // namespace
}  // namespace quorvane
