// The notices on a real notification daemon (dunst, under Xvfb, on a private session bus): what it shows and
// keeps in its history, a burst left as one summary, a failure with its reason, and "Show in Folder" reaching
// a file manager on the bus. Skipped, saying why, where one of the programs is missing or does not start.
#include "ui/session/desktop_notifications.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "spooler/delivery_failure.h"
#include "test_support/temporary_folder.h"
#include "ui/base/preference_values.h"
#include "ui/test_support/test_programs.h"

namespace quorvane {

namespace {

/// Stands in for the desktop's file manager on the bus: records the URIs ShowItems was asked to show.
class file_manager_stand_in : public QDBusVirtualObject {
 public:
  QStringList shown;

  bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
    if (message.member() != QStringLiteral("ShowItems") || message.arguments().isEmpty()) return false;
    shown += message.arguments().at(0).toStringList();
    connection.send(message.createReply());
    return true;
  }
  QString introspect(const QString&) const override { return {}; }
};

using testing_support::first_line;
using testing_support::start_program;

class DesktopNotifications : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* program : {"Xvfb", "dbus-daemon", "dunst", "dunstctl"}) {
      if (QStandardPaths::findExecutable(QString::fromUtf8(program)).isEmpty())
        GTEST_SKIP() << program << " is not installed (scripts/setup.sh installs it)";
    }
    environment_ = QProcessEnvironment::systemEnvironment();
    environment_.insert(QStringLiteral("HOME"), QString::fromStdString(home_.path()));
    environment_.insert(QStringLiteral("XDG_CONFIG_HOME"), QString::fromStdString(home_.path()));
    xvfb_ = start_program(QStringLiteral("Xvfb"),
                          {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"),
                           QStringLiteral("0"), QStringLiteral("800x600x24")},
                          environment_);
    const QString display = xvfb_ ? first_line(*xvfb_) : QString();
    if (display.isEmpty()) GTEST_SKIP() << "Xvfb does not start";
    environment_.insert(QStringLiteral("DISPLAY"), QStringLiteral(":") + display);
    bus_daemon_ = start_program(
        QStringLiteral("dbus-daemon"),
        {QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--print-address")},
        environment_);
    address_ = bus_daemon_ ? first_line(*bus_daemon_) : QString();
    if (address_.isEmpty()) GTEST_SKIP() << "dbus-daemon does not start a session bus";
    environment_.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), address_);
    // dunst with its built-in settings: it keeps what it showed in its history.
    dunst_ = start_program(QStringLiteral("dunst"), {QStringLiteral("-config"), QStringLiteral("/dev/null")},
                           environment_);
    bus_ =
        std::make_unique<QDBusConnection>(QDBusConnection::connectToBus(address_, QStringLiteral("qv-test")));
    if (!bus_->isConnected()) GTEST_SKIP() << "the private bus does not answer";
    const bool up = QTest::qWaitFor(
        [&] {
          return bus_->interface()->isServiceRegistered(QStringLiteral("org.freedesktop.Notifications"));
        },
        10000);
    if (!up) GTEST_SKIP() << "dunst does not start: " << dunst_->readAllStandardError().toStdString();
  }

  void TearDown() override {
    if (bus_) QDBusConnection::disconnectFromBus(QStringLiteral("qv-test"));
    for (auto* process : {dunst_.get(), bus_daemon_.get(), xvfb_.get()})
      testing_support::end_program(process);
  }

  // Runs dunstctl with `arguments`; its output.
  QByteArray dunstctl(const QStringList& arguments) {
    QProcess tool;
    tool.setProcessEnvironment(environment_);
    tool.start(QStringLiteral("dunstctl"), arguments);
    EXPECT_TRUE(tool.waitForFinished(10000));
    return tool.readAllStandardOutput();
  }

  // Closes what dunst shows and reads back its history: (summary, body) of each, sorted (close-all closes in
  // an order of its own).
  std::vector<std::pair<std::string, std::string>> history() {
    dunstctl({QStringLiteral("close-all")});
    std::vector<std::pair<std::string, std::string>> entries;
    // The closed notices reach the history as dunst handles the close.
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
          return dunstctl({QStringLiteral("count"), QStringLiteral("displayed")}).trimmed() == "0";
        },
        5000))
        << "dunst still shows notices after close-all";
    const QJsonArray data = QJsonDocument::fromJson(dunstctl({QStringLiteral("history")}))
                                .object()
                                .value(QStringLiteral("data"))
                                .toArray()
                                .at(0)
                                .toArray();
    for (const QJsonValue& entry : data) {
      const QJsonObject o = entry.toObject();
      entries.emplace_back(
          o.value(QStringLiteral("summary"))
              .toObject()
              .value(QStringLiteral("data"))
              .toString()
              .toStdString(),
          o.value(QStringLiteral("body")).toObject().value(QStringLiteral("data")).toString().toStdString());
    }
    std::sort(entries.begin(), entries.end());
    return entries;
  }

  testing_support::temporary_folder home_;
  QProcessEnvironment environment_;
  std::unique_ptr<QProcess> xvfb_, bus_daemon_, dunst_;
  QString address_;
  std::unique_ptr<QDBusConnection> bus_;
};

TEST_F(DesktopNotifications, AnArrivalAndAFailureAreShownWithTheirTexts) {
  desktop_notifications notifications(*bus_);
  int fallbacks = 0;
  notifications.set_fallback([&](const std::string&, const std::string&, bool) { ++fallbacks; });
  arrival_notices notices;
  const std::string reason = reason_sentence(delivery_failure::folder_not_writable);
  EXPECT_NE(notifications.show(notices.arrive(
                {"report.pdf", "alice", "Pixel 7", "Send To Dropbox", "/home/me/Dropbox/report.pdf", ""},
                std::chrono::milliseconds(0))),
            0u);
  EXPECT_NE(notifications.show(notices.arrive({"photo.jpg", "bob", "192.168.1.23", "Inbox", "", reason},
                                              std::chrono::milliseconds(60000))),
            0u);
  EXPECT_EQ(fallbacks, 0);
  const std::vector<std::pair<std::string, std::string>> want = {
      {"photo.jpg", "From bob (192.168.1.23) on Inbox. " + reason},
      {"report.pdf", "From alice (Pixel 7) on Send To Dropbox"}};
  EXPECT_EQ(history(), want);
}

TEST_F(DesktopNotifications, ABurstOfTwentyLeavesOneSummary) {
  desktop_notifications notifications(*bus_);
  arrival_notices notices;
  for (int i = 0; i < 20; ++i) {
    const std::string name = "page" + std::to_string(i) + ".pdf";
    EXPECT_NE(notifications.show(notices.arrive({name, "alice", "", "Inbox", "/in/" + name, ""},
                                                std::chrono::milliseconds(i * 500))),
              0u);
  }
  const auto shown = history();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].first, "20 documents arrived");
  EXPECT_EQ(shown[0].second, "The last: page19.pdf. From alice on Inbox");
}

TEST_F(DesktopNotifications, ClickingANoticeShowsItsFileInTheFileManager) {
  // The stand-in answers on a connection of its own, as a file manager would.
  QDBusConnection manager_bus = QDBusConnection::connectToBus(address_, QStringLiteral("qv-file-manager"));
  file_manager_stand_in manager;
  ASSERT_TRUE(manager_bus.registerVirtualObject(QStringLiteral("/org/freedesktop/FileManager1"), &manager));
  ASSERT_TRUE(manager_bus.registerService(QStringLiteral("org.freedesktop.FileManager1")));
  desktop_notifications notifications(*bus_);
  std::vector<std::string> opened;
  notifications.set_opener([&](const std::string& url) { opened.push_back(url); });
  arrival_notices notices;
  ASSERT_NE(notifications.show(
                notices.arrive({"my report.pdf", "alice", "", "Inbox", "/home/me/In/my report.pdf", ""},
                               std::chrono::milliseconds(0))),
            0u);
  dunstctl({QStringLiteral("action"), QStringLiteral("0")});
  EXPECT_TRUE(QTest::qWaitFor([&] { return !manager.shown.isEmpty(); }, 10000))
      << "no ShowItems call arrived";
  EXPECT_EQ(manager.shown, QStringList{QStringLiteral("file:///home/me/In/my%20report.pdf")});
  EXPECT_TRUE(opened.empty()) << "the folder is opened only without a file manager";

  // Without a file manager the folder is opened.
  manager_bus.unregisterService(QStringLiteral("org.freedesktop.FileManager1"));
  notifications.show_in_folder("/home/me/In/my report.pdf");
  EXPECT_TRUE(QTest::qWaitFor([&] { return !opened.empty(); }, 10000));
  EXPECT_EQ(opened, std::vector<std::string>{"file:///home/me/In"});
  QDBusConnection::disconnectFromBus(QStringLiteral("qv-file-manager"));
}

TEST_F(DesktopNotifications, WithTheConsolesClickHandlerAClickOnAnyNoticeRunsIt) {
  desktop_notifications notifications(*bus_);
  int activated = 0;
  notifications.set_activated([&] { ++activated; });
  std::vector<std::string> opened;
  notifications.set_opener([&](const std::string& url) { opened.push_back(url); });
  arrival_notices notices;
  // A failure keeps no file, yet a click on it still leads to the list of documents.
  const std::string reason = reason_sentence(delivery_failure::folder_not_writable);
  ASSERT_NE(notifications.show(
                notices.arrive({"scan.pdf", "bob", "", "Inbox", "", reason}, std::chrono::milliseconds(0))),
            0u);
  dunstctl({QStringLiteral("action"), QStringLiteral("0")});
  EXPECT_TRUE(QTest::qWaitFor([&] { return activated == 1; }, 10000)) << "the click did not arrive";
  ASSERT_NE(notifications.show(notices.arrive({"memo.pdf", "bob", "", "Inbox", "/in/memo.pdf", ""},
                                              std::chrono::milliseconds(60000))),
            0u);
  dunstctl({QStringLiteral("action"), QStringLiteral("0")});
  EXPECT_TRUE(QTest::qWaitFor([&] { return activated == 2; }, 10000));
  EXPECT_TRUE(opened.empty()) << "a click runs the handler instead of showing the folder";
}

// ---- without a notification service

TEST(DesktopNotificationsFallback, GoesToTheFallbackWithoutABusAndNowhereWithThePreferenceOff) {
  desktop_notifications notifications(QDBusConnection(QStringLiteral("qv-no-bus")));
  std::vector<std::string> told;
  notifications.set_fallback([&](const std::string& title, const std::string& body, bool failed) {
    told.push_back(title + "|" + body + "|" + (failed ? "failed" : ""));
  });
  model::printer printer;
  printer.setDisplayName("Inbox");
  printer.setAction(model::action_open);
  model::job job;
  job.setName(wide_string::from_narrow("report.pdf"));
  job.setUser(wide_string::from_narrow("alice"));
  job.setDeviceAddress("192.168.1.23");

  write_preference(notify_arrivals_preference, 0);
  EXPECT_EQ(notifications.announce(printer, job, 0, std::chrono::milliseconds(0)), 0u);
  EXPECT_TRUE(told.empty()) << "the preference is off";

  write_preference(notify_arrivals_preference, 1);
  EXPECT_EQ(notifications.announce(printer, job, 0, std::chrono::milliseconds(60000)), 0u);
  EXPECT_EQ(told, std::vector<std::string>{"report.pdf|From alice (192.168.1.23) on Inbox|"});
}

}  // namespace
}  // namespace quorvane
