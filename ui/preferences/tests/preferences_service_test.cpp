// The preferences against the real quorvane-service: what the Advanced page sends changes the service's
// attributes.
#include <QCheckBox>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/log.h"
#include "service_process.h"
#include "ui/base/qt_runloop.h"
#include "ui/preferences/advanced_page.h"
#include "ui/preferences/preferences_dlg.h"
#include "ui/session/service_session.h"
#include "ui/test_support/console_test_env.h"

namespace quorvane {
namespace {

using print_service::testing::read_file;
using print_service::testing::service_process;

// No CUPS queue may slow the service down.
const std::vector<std::string> no_cups = {"CUPS_SERVER=/nonexistent/quorvane-test/cups.sock"};

class PreferencesWithService : public ::testing::Test {
 protected:
  PreferencesWithService() : service(env.root() + "/service", no_cups) { set_main_runloop(&loop); }
  ~PreferencesWithService() override {
    session.reset();
    service.stop();
    set_main_runloop(nullptr);
  }

  void SetUp() override {
    ASSERT_TRUE(service.start(0)) << read_file(service.log_file());
    session = std::make_unique<service_session>(list, static_cast<uint16_t>(service.port()));
    session->start();
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return !session->connecting(); }, print_service::testing::event_bound_ms))
        << read_file(service.log_file());
  }

  // The service's attributes, asked over the session's connection (after every request sent before).
  Json::Value service_attributes() {
    Json::Value got;
    bool answered = false;
    session->stub().attributes([&](int32_t status, Json::Value& attributes) {
      EXPECT_EQ(status, 0);
      got = attributes;
      answered = true;
    });
    EXPECT_TRUE(QTest::qWaitFor([&] { return answered; }, print_service::testing::event_bound_ms))
        << "the service answers \"attributes\"";
    return got;
  }

  preferences_links links() {
    preferences_links result;
    result.service = &session->stub();
    result.filename_flags = [this] { return session->filename_flags(); };
    result.set_filename_flags = [this](int32_t flags) { session->set_filename_flags(flags); };
    result.resolve_proxy = [](QObject*, std::function<void(smart_ptr<network::proxy>)>) {};
    return result;
  }

  testing::console_test_env env;
  qt_runloop loop;
  service_process service;
  printer_list_model rows;
  printer_list_controller list{rows, nullptr, {}, {}};
  std::unique_ptr<service_session> session;
};

TEST_F(PreferencesWithService, FileNameFlagsAndTheLogLevelChangeTheServicesAttributes) {
  ASSERT_EQ(service_attributes()["filenameGenerationFlags"].asInt(), 0);
  PreferencesDlg dialog(nullptr, links());
  dialog.show();
  dialog.pages()->setCurrentWidget(dialog.advanced());
  auto* ip = find_control<QCheckBox>(dialog.advanced(), CPreferencesAdvanced::id_device_ip);
  auto* user = find_control<QCheckBox>(dialog.advanced(), CPreferencesAdvanced::id_device_user);
  ASSERT_TRUE(ip && user);
  QTest::mouseClick(ip, Qt::LeftButton, {}, QPoint(6, ip->height() / 2));
  QTest::mouseClick(user, Qt::LeftButton, {}, QPoint(6, user->height() / 2));
  Json::Value attributes = service_attributes();
  EXPECT_EQ(attributes["filenameGenerationFlags"].asInt(), 3);
  EXPECT_EQ(session->filename_flags(), 3);

  dialog.advanced()->choose_level(32829);  // "Verbose"
  EXPECT_EQ(service_attributes()["logLevel"].asInt(), 10);
  EXPECT_EQ(log_level_threshold(), 10);
  dialog.advanced()->choose_level(std::nullopt);  // a menu closed without a choice
  attributes = service_attributes();
  EXPECT_EQ(attributes["logLevel"].asInt(), 0);
  EXPECT_EQ(attributes["filenameGenerationFlags"].asInt(), 3) << "each request changes only its member";
  EXPECT_EQ(attributes["printMode"].asInt(), 1) << "the session's own attribute stays";
  dialog.accept();
}

}  // namespace
}  // namespace quorvane
