// Real windows on an X server (Xvfb, started by the test's command): the main window's two views with
// screenshots and every control's geometry, the notification icon in a tray host (wmdocker), and two real
// console processes for the single-instance hand-over.
#include <QDir>
#include <QProcess>
#include <QScreen>
#include <QSettings>
#include <QSystemTrayIcon>
#include <QTest>

#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "test_support/event_bound.h"
#include "ui/app/system_tray.h"
#include "ui/base/qt_runloop.h"
#include "ui/layout/dialog_units.h"
#include "ui/main/main_window.h"
#include "ui/main/main_window_layout.h"
#include "ui/test_support/console_test_env.h"
#include "ui/test_support/scripted_peer.h"

namespace quorvane {
namespace {

QString shot_path(const char* name) {
  return QString::fromLocal8Bit(qgetenv("QV_SHOT_DIR")) + QLatin1Char('/') + QLatin1String(name);
}

QImage screenshot(QWidget& window, const char* name) {
  QTest::qWait(300);  // let the window paint
  const QImage image = window.screen()->grabWindow(window.winId()).toImage();
  image.save(shot_path(name));
  return image;
}

// Every control's rectangle, taken from the real window, equals its table row converted to pixels.
void expect_table_geometry(CQuorvaneDlg& window, bool connected) {
  const dialog_units units = dialog_units::from_dialog_font();
  const QPoint client = window.centralWidget()->mapTo(&window, QPoint(0, 0));
  for (const dialog_control& row : main_window_controls()) {
    QWidget* w = window.control(row.id);
    ASSERT_TRUE(w) << row.name;
    const QRect want = units.rect(row.x, row.y, row.w, row.h).translated(client);
    const QRect got(w->mapTo(&window, QPoint(0, 0)), w->size());
    EXPECT_EQ(got, want) << row.name << (connected ? " (connected)" : " (connecting)");
  }
}

// The windows are measured in the console's dialog font, which quorvane sets for the whole application.
class dialog_font_environment : public ::testing::Environment {
 public:
  void SetUp() override { set_dialog_font_app_wide(); }
};
::testing::Environment* const dialog_font = ::testing::AddGlobalTestEnvironment(new dialog_font_environment);

// Starts a tray host (wmdocker) in `docker`; false when it cannot start (not installed).
bool start_tray_host(QProcess& docker) {
  docker.start(QStringLiteral("wmdocker"), {});
  return docker.waitForStarted(testing_support::event_bound_ms);
}

// True once Qt sees the notification area the tray host offers.
bool tray_appears() {
  return QTest::qWaitFor([] { return QSystemTrayIcon::isSystemTrayAvailable(); },
                         testing_support::event_bound_ms);
}

class XvfbWindow : public ::testing::Test {
 protected:
  XvfbWindow() {
    QSettings("Tessaly Software", "Quorvane").setValue("Preferences/SetupPrinters", 0);
    set_main_runloop(&loop);
  }
  ~XvfbWindow() override { set_main_runloop(nullptr); }

  testing::console_test_env env;
  qt_runloop loop;
};

TEST_F(XvfbWindow, BothViewsShowTheirControlsWhereTheTableSays) {
  ASSERT_EQ(QGuiApplication::platformName(), "xcb");
  testing::scripted_peer peer;
  CQuorvaneDlg window(peer.port());
  window.set_tray_available_check([] { return false; });
  window.start(false);
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  EXPECT_EQ(window.centralWidget()->size(), QSize(878, 569));
  expect_table_geometry(window, false);

  const QImage connecting = screenshot(window, "xvfb-connecting.png");
  const QPoint client = window.centralWidget()->mapTo(&window, QPoint(0, 0));
  const QRect panel = window.control(control_background)->geometry().translated(client);
  EXPECT_EQ(connecting.pixelColor(panel.topLeft() + QPoint(20, 20)), QColor(Qt::white))
      << "the panel is white";
  EXPECT_EQ(connecting.pixelColor(panel.topLeft() + QPoint(0, 100)), QColor(Qt::black))
      << "its border is black";
  const QRect picture = window.control(control_connecting_picture)->geometry().translated(client);
  bool drawn = false;
  for (int x = picture.left(); x <= picture.right() && !drawn; ++x) {
    drawn = connecting.pixelColor(x, picture.center().y()) != QColor(Qt::white);
  }
  EXPECT_TRUE(drawn) << "the connecting picture is drawn";

  ASSERT_TRUE(peer.answer_session_start());
  Json::Value printers(Json::arrayValue);
  printers.append(Json::Value(Json::objectValue));
  printers[0]["uuid"] = "p-1";
  printers[0]["displayName"] = "Office";
  printers[0]["location"] = "Room 4";
  peer.send_printers_updated(printers);
  ASSERT_TRUE(QTest::qWaitFor([&] { return window.printer_model().rowCount() == 1; },
                              testing_support::event_bound_ms));
  expect_table_geometry(window, true);
  const QImage connected = screenshot(window, "xvfb-connected.png");
  const QPoint first_row = panel.topLeft() + QPoint(40, 8);
  EXPECT_EQ(connecting.pixelColor(first_row), QColor(Qt::white));
  EXPECT_NE(connected.pixelColor(first_row), QColor(Qt::white))
      << "the selected first row replaces the white panel";
  window.allow_close();
}

TEST_F(XvfbWindow, TheIconSitsInATrayHostAndCloseHidesTheWindowThere) {
  QProcess docker;
  if (!start_tray_host(docker)) GTEST_SKIP() << "wmdocker is not installed (scripts/setup.sh installs it)";
  ASSERT_TRUE(tray_appears());
  CSystemTray tray(QIcon(QStringLiteral(":/images/IDI_QUORVANE.png")));
  EXPECT_TRUE(
      QTest::qWaitFor([&] { return tray.icon().geometry().isValid(); }, testing_support::event_bound_ms))
      << "embedded in the tray";

  testing::scripted_peer peer;
  CQuorvaneDlg window(peer.port());
  window.start(false);
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  window.close();
  EXPECT_FALSE(window.isVisible()) << "with a tray, Close hides";
  emit tray.icon().activated(QSystemTrayIcon::DoubleClick);
  tray.on_double_click([&] { window.show_from_tray(); });
  emit tray.icon().activated(QSystemTrayIcon::DoubleClick);
  EXPECT_TRUE(QTest::qWaitForWindowExposed(&window));
  window.allow_close();
  docker.terminate();
  docker.waitForFinished(3000);
}

// Whether a visible window named "Quorvane" exists on the display.
bool console_window_visible() {
  QProcess search;
  search.start(QStringLiteral("xdotool"), {"search", "--onlyvisible", "--name", "^Quorvane$"});
  search.waitForFinished(3000);
  return search.exitCode() == 0 && !search.readAllStandardOutput().trimmed().isEmpty();
}

TEST_F(XvfbWindow, ASecondConsoleBringsTheFirstOutOfTheTrayAndEndsWithZero) {
  QProcess docker;
  if (!start_tray_host(docker)) GTEST_SKIP() << "wmdocker is not installed (scripts/setup.sh installs it)";
  ASSERT_TRUE(tray_appears());
  QSettings("Tessaly Software", "Quorvane").setValue("Preferences/StartMinimized", 1);
  QSettings().sync();
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  environment.insert("QUORVANE_SERVICE_PORT", QString::number(testing::scripted_peer().port()));
  environment.insert("QT_QPA_PLATFORM", "xcb");

  QProcess first;
  first.setProcessEnvironment(environment);
  first.setProcessChannelMode(QProcess::ForwardedChannels);
  first.start(QStringLiteral(QUORVANE_PROGRAM), {});
  ASSERT_TRUE(first.waitForStarted(testing_support::event_bound_ms));
  const QString lock =
      QDir(qEnvironmentVariable("XDG_RUNTIME_DIR"))
          .filePath(QStringLiteral("{C62BAF6D-46E9-44b5-B495-2150A230D859}-%1.lock").arg(::getuid()));
  ASSERT_TRUE(QTest::qWaitFor([&] { return QFile::exists(lock); }, testing_support::event_bound_ms));
  QTest::qWait(1000);
  EXPECT_FALSE(console_window_visible()) << "StartMinimized with a tray: only the icon";

  QProcess second;
  second.setProcessEnvironment(environment);
  second.setProcessChannelMode(QProcess::ForwardedChannels);
  second.start(QStringLiteral(QUORVANE_PROGRAM), {"--from-test"});
  ASSERT_TRUE(second.waitForFinished(testing_support::event_bound_ms));
  EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(second.exitCode(), 0);
  EXPECT_TRUE(QTest::qWaitFor([] { return console_window_visible(); }, testing_support::event_bound_ms))
      << "the first one came to the front";
  EXPECT_EQ(first.state(), QProcess::Running);

  first.terminate();
  first.waitForFinished(5000);
  docker.terminate();
  docker.waitForFinished(3000);
}

}  // namespace
}  // namespace quorvane
