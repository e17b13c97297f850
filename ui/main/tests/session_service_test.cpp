// The console's session against the real quorvane-service on a free port with a data folder of its own.
#include <QCoreApplication>
#include <QDir>
#include <QSettings>
#include <QTest>

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "service_process.h"
#include "ui/main/service_session.h"
#include "ui/main/tests/console_test_env.h"
#include "ui/main/tests/scripted_peer.h"
#include "ui/qt_runloop.h"

namespace quorvane {
namespace {

using print_service::testing::child_process;
using print_service::testing::read_file;
using print_service::testing::service_process;
using print_service::testing::write_file;

// No CUPS queue may join the printers the test counts.
const std::vector<std::string> no_cups = {"CUPS_SERVER=/nonexistent/quorvane-test/cups.sock"};

class SessionWithService : public ::testing::Test {
 protected:
  SessionWithService() : service(env.root() + "/service", no_cups) {
    set_main_runloop(&loop);
    QDir().mkpath(QString::fromStdString(env.home() + "/Dropbox"));
  }
  ~SessionWithService() override {
    session.reset();
    service.stop();
    set_main_runloop(nullptr);
  }

  void open_session(uint16_t port) {
    session = std::make_unique<service_session>(list, port);
    session->on_view_changed([this](bool connected) {
      views.push_back(connected);
      if (connected) rows_when_connected = rows.rowCount();
    });
    session->start();
  }
  bool wait_connected(int timeout_ms = print_service::testing::event_bound_ms) {
    return QTest::qWaitFor([&] { return !session->connecting(); }, timeout_ms);
  }
  bool wait_rows(int count, int timeout_ms = print_service::testing::event_bound_ms) {
    return QTest::qWaitFor([&] { return rows.rowCount() == count; }, timeout_ms);
  }

  testing::console_test_env env;
  qt_runloop loop;
  service_process service;
  printer_list_model rows;
  printer_list_controller list{rows, nullptr, {}, {}};
  std::unique_ptr<service_session> session;
  std::vector<bool> views;
  int rows_when_connected = -1;
};

uint16_t free_port() {
  testing::scripted_peer probe;
  return probe.port();
}

TEST_F(SessionWithService, ConnectsOnceTheServiceStartsAndTheFirstRunsPrintersComeBackFromIt) {
  const uint16_t port = free_port();
  open_session(port);
  EXPECT_TRUE(session->connecting()) << "the service is not running yet";
  EXPECT_TRUE(session->retry_pending());
  ASSERT_TRUE(service.start(port)) << read_file(service.log_file());
  ASSERT_TRUE(wait_connected()) << "timer 1 retries every 3000 ms";
  EXPECT_EQ(rows_when_connected, 0) << "printers appear only when the service reports them";
  EXPECT_EQ(testing::stored_printer_count(), 2)
      << "open_on_my_pc, and send_to_dropbox since ~/Dropbox exists";
  ASSERT_TRUE(wait_rows(2));
  EXPECT_EQ(rows.shown_text(0), "Open On My PC @ " + host_name().narrow());
  EXPECT_EQ(rows.shown_text(1), "Send To Dropbox @ " + host_name().narrow());
  EXPECT_EQ(rows.printer_at(1)->directory().narrow(), env.home() + "/Dropbox/Quorvane");
  EXPECT_EQ(QSettings("Tessaly Software", "Quorvane").value("Preferences/SetupPrinters").toInt(), 0);

  // A second run (a new session with the same data) creates nothing and shows the same printers.
  session.reset();
  rows.clear();
  open_session(static_cast<uint16_t>(service.port()));
  ASSERT_TRUE(wait_connected());
  ASSERT_TRUE(wait_rows(2));
  EXPECT_EQ(testing::stored_printer_count(), 2);
}

TEST_F(SessionWithService, AServiceRestartEmptiesTheListAndTheSessionComesBack) {
  ASSERT_TRUE(service.start(0)) << read_file(service.log_file());
  open_session(static_cast<uint16_t>(service.port()));
  ASSERT_TRUE(wait_connected());
  ASSERT_TRUE(wait_rows(2));
  const int port = service.port();
  service.stop();
  ASSERT_TRUE(QTest::qWaitFor([&] { return session->connecting(); }, print_service::testing::event_bound_ms));
  EXPECT_EQ(rows.rowCount(), 0);
  ASSERT_TRUE(service.start(port)) << read_file(service.log_file());
  ASSERT_TRUE(wait_connected());
  ASSERT_TRUE(wait_rows(2));
  EXPECT_EQ(views, (std::vector<bool>{false, true, false, true}));
}

TEST_F(SessionWithService, APrintForAKeepInFolderPrinterCopiesTheFileAndIsAnswered) {
  ASSERT_TRUE(service.start(0)) << read_file(service.log_file());
  open_session(static_cast<uint16_t>(service.port()));
  ASSERT_TRUE(wait_connected());
  ASSERT_TRUE(wait_rows(2));
  const std::string document = env.root() + "/report.pdf";
  ASSERT_TRUE(write_file(document, "%PDF-1.4\n%test\n"));

  child_process submit;
  const std::string output = env.root() + "/submit.txt";
  ASSERT_TRUE(
      submit.spawn({print_service::testing::service_binary(), "submit", "--port",
                    std::to_string(service.port()), "--printer", "send_to_dropbox", "--wait", document},
                   no_cups, output));
  ASSERT_TRUE(QTest::qWaitFor([&] { return submit.finished(); }, print_service::testing::event_bound_ms))
      << read_file(output);
  EXPECT_EQ(submit.exit_status(), 0) << read_file(output);
  EXPECT_NE(read_file(output).find("status 0, state 9, job id 0"), std::string::npos) << read_file(output);
  EXPECT_EQ(read_file(env.home() + "/Dropbox/Quorvane/report.pdf"), "%PDF-1.4\n%test\n");
}

}  // namespace
}  // namespace quorvane

int main(int argc, char** argv) {
  QCoreApplication application(argc, argv);
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
