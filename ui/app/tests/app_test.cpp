#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLockFile>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "database/database.h"
#include "test_support/event_bound.h"
#include "test_support/scoped_environment.h"
#include "ui/app/about_dlg.h"
#include "ui/app/help.h"
#include "ui/app/quorvane_app.h"
#include "ui/app/single_instance.h"
#include "ui/app/system_tray.h"
#include "ui/layout/dialog_units.h"
#include "ui/main/main_window.h"
#include "ui/recent/recent_documents_dlg.h"
#include "ui/test_support/console_test_env.h"
#include "ui/test_support/message_box_answer.h"
#include "ui/test_support/scripted_peer.h"

namespace quorvane {
namespace {

TEST(SingleInstance, TheFirstHoldsTheLockAndALaterStartHandsItsCommandLineOver) {
  QTemporaryDir folder;
  single_instance first(folder.path());
  QStringList received;
  ASSERT_TRUE(first.become_primary([&](const QStringList& arguments) { received = arguments; }));
  EXPECT_TRUE(first.socket_path().contains(QString::fromLatin1(single_instance_id)));
  EXPECT_TRUE(first.socket_path().endsWith(QStringLiteral("-%1").arg(::getuid())));

  single_instance second(folder.path());
  EXPECT_FALSE(second.become_primary({}));
  ASSERT_TRUE(second.send_to_primary({"quorvane", "report.pdf"}, testing_support::event_bound_ms));
  ASSERT_TRUE(QTest::qWaitFor([&] { return !received.isEmpty(); }, testing_support::event_bound_ms));
  EXPECT_EQ(received, (QStringList{"quorvane", "report.pdf"}));
}

TEST(SingleInstance, ALockLeftByADeadConsoleNeverBlocksTheNextStart) {
  QTemporaryDir folder;
  single_instance probe(folder.path());
  const QString lock_path = probe.lock_path();
  const pid_t child = fork();
  if (child == 0) {
    // The crashed console: takes the lock and ends without releasing it.
    QLockFile lock(lock_path);
    _exit(lock.tryLock(0) ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_EQ(WEXITSTATUS(status), 0);
  ASSERT_TRUE(QFile::exists(lock_path)) << "the dead console's lock is still there";
  // A socket file left behind too.
  QFile stale_socket(probe.socket_path());
  ASSERT_TRUE(stale_socket.open(QIODevice::WriteOnly));
  stale_socket.close();

  single_instance next(folder.path());
  EXPECT_TRUE(next.become_primary({}));
}

TEST(SystemTray, TheMenuHasItsItemsTheFirstAsDefaultAndADoubleClickOpens) {
  CSystemTray tray(QIcon(QStringLiteral(":/images/IDI_QUORVANE.png")));
  EXPECT_EQ(tray.icon().toolTip(), "Quorvane");
  EXPECT_EQ(tray.icon().contextMenu(), &tray.menu());
  QStringList texts;
  for (QAction* action : tray.menu().actions()) texts << (action->isSeparator() ? "-" : action->text());
  EXPECT_EQ(texts, (QStringList{"Check For Updates...", "-", "Open Quorvane", "Phones and Tablets...",
                                "Recent Documents...", "-", "Preferences...", "-", "Exit"}));
  ASSERT_NE(tray.command_action(command_tray_phones), nullptr);
  EXPECT_EQ(tray.command_action(command_tray_phones)->text(), "Phones and Tablets...");
  EXPECT_EQ(tray.menu().defaultAction(), tray.menu().actions().first());

  int opened = 0;
  EXPECT_FALSE(tray.command_action(command_open)->isEnabled()) << "no handler yet";
  tray.set_command_handler(command_open, [&] { ++opened; });
  EXPECT_TRUE(tray.command_action(command_open)->isEnabled());
  tray.command_action(command_open)->trigger();
  EXPECT_EQ(opened, 1);

  int double_clicks = 0;
  tray.on_double_click([&] { ++double_clicks; });
  emit tray.icon().activated(QSystemTrayIcon::Trigger);  // the first click of a double click
  emit tray.icon().activated(QSystemTrayIcon::DoubleClick);
  EXPECT_EQ(double_clicks, 1);
}

TEST(SystemTray, ThePictureSaysWhetherThePrintServiceIsConnected) {
  const QIcon console_icon(QStringLiteral(":/images/IDI_QUORVANE.png"));
  const QImage original = console_icon.pixmap(48, 48).toImage().convertToFormat(QImage::Format_ARGB32);
  ASSERT_FALSE(original.isNull());
  auto picture = [](const CSystemTray& tray) {
    return const_cast<CSystemTray&>(tray).icon().icon().pixmap(48, 48).toImage().convertToFormat(
        QImage::Format_ARGB32);
  };

  CSystemTray tray(console_icon);
  EXPECT_FALSE(tray.connected()) << "the console starts before its service answers";
  const QImage down = picture(tray);
  // Compared as the icon hands it out: a pixmap premultiplies the alpha.
  EXPECT_EQ(
      down,
      QPixmap::fromImage(disconnected_picture(original)).toImage().convertToFormat(QImage::Format_ARGB32));
  tray.set_connected(true);
  EXPECT_EQ(picture(tray), original) << "connected: the console's own icon";
  tray.set_connected(false);
  EXPECT_EQ(picture(tray), down);

  // Outside the mark every pixel is grey and keeps the icon's shape (its alpha); the mark is red.
  int coloured_in_original = 0;
  for (int y = 0; y < 48; ++y) {
    for (int x = 0; x < 48; ++x) {
      const QRgb was = original.pixel(x, y), now = down.pixel(x, y);
      if (qRed(was) != qGreen(was) || qGreen(was) != qBlue(was)) ++coloured_in_original;
      if (x >= 24 && y >= 24) continue;
      ASSERT_EQ(qAlpha(now), qAlpha(was)) << x << "," << y;
      ASSERT_TRUE(qRed(now) == qGreen(now) && qGreen(now) == qBlue(now)) << x << "," << y << " is not grey";
    }
  }
  EXPECT_GT(coloured_in_original, 0) << "a grey icon would not show the change";
  const QRgb mark = down.pixel(48 - 11, 48 - 11);
  EXPECT_GT(qRed(mark), 150);
  EXPECT_LT(qGreen(mark), 80);
  EXPECT_EQ(qAlpha(mark), 255);
}

TEST(ConsoleApp, RecentDocumentsIsMadeWhenFirstOpenedFromTheFileMenuOrTheTrayAndShowsTheRecord) {
  testing::console_test_env env;
  const testing_support::scoped_environment port("QUORVANE_SERVICE_PORT",
                                                 std::to_string(testing::closed_port()));
  QTemporaryDir runtime;
  ASSERT_TRUE(runtime.isValid());
  database::manager::shared().exec("DELETE FROM delivered_job;");
  {
    CQuorvaneApp app(runtime.path());
    ASSERT_EQ(app.init_instance({QStringLiteral("quorvane")}), CQuorvaneApp::start_outcome::running);
    delivered_document document;
    document.uuid = "job-1";
    document.delivered = 1'800'000'000;
    document.document = "boarding pass";
    document.printer = "Inbox";
    ASSERT_TRUE(app.window()->session().delivered().record(document, {0, 9, 0}));
    EXPECT_EQ(app.recent_documents(), nullptr) << "nothing of it is made before it is opened";

    QAction* file_menu_item = app.window()->command_action(command_recent_documents);
    ASSERT_TRUE(file_menu_item);
    ASSERT_TRUE(file_menu_item->isEnabled());
    file_menu_item->trigger();
    CRecentDocumentsDlg* recent = app.recent_documents();
    ASSERT_TRUE(recent);
    EXPECT_TRUE(recent->isVisible());
    ASSERT_EQ(recent->model().rowCount(), 1);
    EXPECT_EQ(recent->model().index(0, recent_documents_model::document_column).data().toString(),
              "boarding pass");

    recent->close();
    QAction* tray_item = app.tray()->command_action(command_tray_recent_documents);
    ASSERT_TRUE(tray_item);
    tray_item->trigger();
    EXPECT_EQ(app.recent_documents(), recent) << "one window, shown again";
    EXPECT_TRUE(recent->isVisible());
  }
}

TEST(AboutBox, ItsControlsSitWhereTheTableSaysAndOkCloses) {
  CAboutDlg about;
  const dialog_units units = dialog_units::from_dialog_font();
  EXPECT_EQ(about.size(), units.size(235, 100));
  EXPECT_EQ(about.windowTitle(), "About Quorvane");
  for (const dialog_control& row : about_box_controls()) {
    QWidget* w = about.controls().control(row.id);
    ASSERT_TRUE(w) << row.name;
    EXPECT_EQ(w->geometry(), units.rect(row.x, row.y, row.w, row.h)) << row.name;
  }
  EXPECT_EQ(about.controls().find<QLabel>(1010)->text(), "Quorvane 2.2.0.609");
  EXPECT_TRUE(about.controls().find<QLabel>(1012)->text().contains("Qt"));
  EXPECT_FALSE(about.controls().find<QLabel>(CAboutDlg::id_icon)->pixmap().isNull());
  about.show();
  QTest::mouseClick(about.controls().find<QPushButton>(CAboutDlg::id_ok), Qt::LeftButton);
  EXPECT_EQ(about.result(), QDialog::Accepted);
}

TEST(Help, TheInstalledDocumentComesFirstThenTheBuildCopy) {
  QTemporaryDir root;
  const QString bin = root.path() + "/bin";
  QDir().mkpath(bin + "/help");
  EXPECT_EQ(help_document_path(bin), QString()) << "none yet";
  QFile build_copy(bin + "/help/index.html");
  ASSERT_TRUE(build_copy.open(QIODevice::WriteOnly));
  build_copy.close();
  EXPECT_EQ(help_document_path(bin), bin + "/help/index.html");
  QDir().mkpath(root.path() + "/share/quorvane/help");
  QFile installed(root.path() + "/share/quorvane/help/index.html");
  ASSERT_TRUE(installed.open(QIODevice::WriteOnly));
  installed.close();
  EXPECT_EQ(help_document_path(bin), root.path() + "/share/quorvane/help/index.html");

  QString opened;
  open_help(
      nullptr,
      [&](const QString& path, open_outcome done) {
        opened = path;
        done(true);
      },
      bin);
  EXPECT_EQ(opened, root.path() + "/share/quorvane/help/index.html");
}

TEST(Help, MissingHelpSaysSoInAnErrorBox) {
  QTemporaryDir root;
  testing::message_box_answer box;
  box.arm();
  bool called = false;
  open_help(
      nullptr,
      [&](const QString&, open_outcome done) {
        called = true;
        done(true);
      },
      root.path());
  EXPECT_FALSE(called);
  EXPECT_EQ(box.caption, "Help Error");
  EXPECT_EQ(box.text, "Unable to display help.");
}

// The viewer's failure comes after the command returned (xdg-open ends later): the box must still show.
TEST(Help, AViewerThatFailsLaterStillShowsTheErrorBox) {
  QTemporaryDir root;
  QDir().mkpath(root.path() + "/help");
  QFile document(root.path() + "/help/index.html");
  ASSERT_TRUE(document.open(QIODevice::WriteOnly));
  document.close();
  testing::message_box_answer box;
  box.arm();
  bool reported = false;
  open_help(
      nullptr,
      [&](const QString&, open_outcome done) {
        QTimer::singleShot(50, [&reported, done] {
          reported = true;
          done(false);
        });
      },
      root.path());
  ASSERT_TRUE(QTest::qWaitFor([&] { return !box.caption.isEmpty(); }, testing_support::event_bound_ms));
  EXPECT_TRUE(reported);
  EXPECT_EQ(box.text, "Unable to display help.");
}

// open_with_desktop reads xdg-open's exit status (its documented codes), run here as a stand-in on PATH.
TEST(Help, XdgOpensExitStatusDecidesWhetherTheDocumentOpened) {
  struct status_case {
    const char* name;
    const char* script;  // the stand-in xdg-open; null: none on PATH
    bool want_opened;
  };
  const status_case cases[] = {
      // opened
      {"a viewer took the document", "exit 0", true},
      // not opened
      {"no application for HTML (3)", "echo 'no method available' >&2; exit 3", false},
      {"the application failed (4)", "exit 4", false},
      {"killed", "kill -9 $$", false},
      {"no xdg-open at all", nullptr, false},
  };
  const QByteArray saved_path = qgetenv("PATH");
  for (const status_case& c : cases) {
    QTemporaryDir bin;
    if (c.script) {
      QFile script(bin.path() + "/xdg-open");
      ASSERT_TRUE(script.open(QIODevice::WriteOnly));
      script.write(QByteArray("#!/bin/sh\n") + c.script + "\n");
      script.close();
      script.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    }
    // Only the stand-in's folder (the script needs no other program), so that the machine's own xdg-open is
    // never found.
    qputenv("PATH", bin.path().toUtf8());
    std::optional<bool> opened;
    open_with_desktop(bin.path() + "/index.html", [&](bool ok) { opened = ok; });
    const bool reported =
        QTest::qWaitFor([&] { return opened.has_value(); }, testing_support::event_bound_ms);
    qputenv("PATH", saved_path);
    ASSERT_TRUE(reported) << c.name;
    EXPECT_EQ(*opened, c.want_opened) << c.name;
  }
}

TEST(Help, TheSourceTreesDocumentCoversWhatAUserNeeds) {
  QFile file(QStringLiteral(QUORVANE_HELP_SOURCE));
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  const QString text = QString::fromUtf8(file.readAll());
  for (const char* topic : {"Open On My PC", "General", "Security", "Preferences", "quorvane-service",
                            "Connecting to Quorvane Service...", "QUORVANE_SERVICE_PORT", "quorvane.db"}) {
    EXPECT_TRUE(text.contains(QString::fromUtf8(topic))) << topic;
  }
}

}  // namespace
}  // namespace quorvane
