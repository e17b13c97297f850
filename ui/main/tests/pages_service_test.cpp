// The lists and settings pages in the main window against the real quorvane-service: each change the user
// makes arrives at the service as one "updatePrinter" carrying exactly that change, comes back in
// "printersWereUpdated", and is stored in the console's database.
#include <sqlite3.h>

#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>

#include <json/reader.h>
#include <json/value.h>

#include <memory>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "database/object.h"
#include "service_process.h"
#include "ui/base/qt_runloop.h"
#include "ui/lists/acl_list.h"
#include "ui/lists/attribute_list.h"
#include "ui/lists/printer_list.h"
#include "ui/main/main_window.h"
#include "ui/settings/general_page.h"
#include "ui/settings/security_page.h"
#include "ui/test_support/console_test_env.h"

namespace quorvane {
namespace {

using print_service::testing::read_file;
using print_service::testing::service_process;

// No CUPS queue may join the printers of the test.
const std::vector<std::string> no_cups = {"CUPS_SERVER=/nonexistent/quorvane-test/cups.sock"};

/// The JSON the service keeps for the printer `uuid` (null when none).
Json::Value service_record(const std::string& data_folder, const std::string& uuid) {
  Json::Value record;
  sqlite3* db = nullptr;
  if (sqlite3_open_v2((data_folder + "/service.db").c_str(), &db, SQLITE_OPEN_READONLY, nullptr) ==
      SQLITE_OK) {
    sqlite3_busy_timeout(db, 2000);
    sqlite3_stmt* query = nullptr;
    if (sqlite3_prepare_v2(db, "SELECT json FROM printer WHERE uuid = ?;", -1, &query, nullptr) ==
        SQLITE_OK) {
      sqlite3_bind_text(query, 1, uuid.c_str(), -1, SQLITE_TRANSIENT);
      if (sqlite3_step(query) == SQLITE_ROW)
        Json::Reader().parse(reinterpret_cast<const char*>(sqlite3_column_text(query, 0)), record);
    }
    sqlite3_finalize(query);
  }
  sqlite3_close(db);
  return record;
}

/// The keys whose values differ between two JSON objects.
std::set<std::string> changed_keys(const Json::Value& before, const Json::Value& after) {
  std::set<std::string> keys;
  for (const std::string& key : before.getMemberNames())
    if (before[key] != after.get(key, Json::Value())) keys.insert(key);
  for (const std::string& key : after.getMemberNames())
    if (!before.isMember(key)) keys.insert(key);
  return keys;
}

class PagesWithService : public ::testing::Test {
 protected:
  PagesWithService() : service(env.root() + "/service", no_cups) { set_main_runloop(&loop); }
  ~PagesWithService() override {
    window.reset();
    service.stop();
    set_main_runloop(nullptr);
  }

  void SetUp() override {
    ASSERT_TRUE(service.start(0)) << read_file(service.log_file());
    window = std::make_unique<CQuorvaneDlg>(static_cast<uint16_t>(service.port()));
    list = dynamic_cast<CPrinterList*>(window->printer_list_view());
    ASSERT_NE(list, nullptr);
    // Count what the pages and the list send, then pass it on as they would.
    const update_printer_function send = [this](smart_ptr<model::printer> p) {
      sent.push_back(p);
      window->updatePrinter(p);
    };
    list->set_update_printer(send);
    window->general_page()->set_update_printer(send);
    window->security_page()->set_update_printer(send);
    window->start(false);
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return !window->connecting_view(); }, print_service::testing::event_bound_ms));
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->printer_model().rowCount() == 1; },
                                print_service::testing::event_bound_ms));
    ASSERT_TRUE(QTest::qWaitFor([&] { return static_cast<bool>(window->general_page()->printer()); },
                                print_service::testing::event_bound_ms));
    uuid = window->printer_model().printer_at(0)->uuid();
  }

  /// The printer the window's list holds now (what the service last reported).
  smart_ptr<model::printer> listed() { return window->printer_model().printer_at(0); }
  /// The console's stored record.
  smart_ptr<model::printer> stored() { return database::find_by_uuid<model::printer>(uuid); }

  /// Runs `change`, then checks that one printer was sent, that the service's record changed in exactly
  /// `key`, and waits until `back` holds for the printer the service reported back and for the stored one.
  void expect_one_change(const std::function<void()>& change, const std::string& key,
                         const std::function<bool(const model::printer&)>& back) {
    const Json::Value before = service_record(service.data_folder(), uuid);
    ASSERT_FALSE(before.isNull());
    sent.clear();
    change();
    ASSERT_EQ(sent.size(), 1u) << key;
    ASSERT_TRUE(QTest::qWaitFor([&] { return back(*listed()); }, print_service::testing::event_bound_ms))
        << key << " came back";
    // The service may write its own store just after it has told its consoles.
    Json::Value after;
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
          after = service_record(service.data_folder(), uuid);
          return after != before;
        },
        print_service::testing::event_bound_ms))
        << key << " stored by the service";
    EXPECT_EQ(changed_keys(before, after), std::set<std::string>{key});
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
          smart_ptr<model::printer> record = stored();
          return record && back(*record);
        },
        print_service::testing::event_bound_ms))
        << key << " stored";
    EXPECT_EQ(sent.size(), 1u) << key << ": nothing more was sent when it came back";
  }

  testing::console_test_env env;
  qt_runloop loop;
  service_process service;
  std::unique_ptr<CQuorvaneDlg> window;
  CPrinterList* list = nullptr;
  std::vector<smart_ptr<model::printer>> sent;
  std::string uuid;
};

TEST_F(PagesWithService, RenameFeatureFolderAndUserEachArriveAsOneUpdateAndComeBack) {
  CGeneralSettings* general = window->general_page();
  ASSERT_EQ(window->page_holder()->currentIndex(), 0);

  // Rename: the hidden mark stays in front of the new name.
  expect_one_change(
      [&] {
        general->begin_edit();
        static_cast<QLineEdit*>(general->control(CGeneralSettings::id_name_edit))->setText("Office");
        general->apply_edit();
      },
      "displayName",
      [](const model::printer& p) {
        return p.displayName() ==
               "\xEE\x80\x8C"
               "Office";
      });

  // A printer that offers colour (set up directly; the first printer has colour on), then the user ticks it
  // off.
  smart_ptr<model::printer> offer = listed();
  offer->setFeatureBit(model::printer_feature::color, model::feature_offered, true);
  window->updatePrinter(offer);
  ASSERT_TRUE(QTest::qWaitFor(
      [&] {
        return general->attributes()->rows().size() > 1 &&
               general->attributes()->rows()[1].kind == attribute_color;
      },
      print_service::testing::event_bound_ms));
  expect_one_change(
      [&] {
        general->begin_edit();
        ASSERT_TRUE(general->attributes()->attributes()->flip(1));
        general->apply_edit();
      },
      // The stored record takes over bit 0 only (bit 3 stays as stored).
      "color", [](const model::printer& p) { return (p.color() & model::feature_on) == 0; });

  // A folder chosen with "Other...".
  const std::string folder = env.root() + "/incoming";
  QDir().mkpath(QString::fromStdString(folder));
  general->set_folder_chooser(
      [&](QWidget*, const std::string&) { return std::optional<std::string>(folder); });
  expect_one_change(
      [&] {
        general->begin_edit();
        general->run_command(CGeneralSettings::command_other_folder);
        general->apply_edit();
      },
      "directory", [&](const model::printer& p) { return p.directory().narrow() == folder; });
  EXPECT_EQ(static_cast<QLabel*>(general->control(CGeneralSettings::id_folder))->text().toStdString(),
            folder);

  // A user added on the security page with its "+".
  window->page_holder()->setCurrentIndex(1);
  window->security_page()->set_user_chooser([](QWidget*) { return std::optional<std::string>("alice"); });
  expect_one_change([&] { window->button(button_add_user)->click(); }, "acl",
                    [](const model::printer& p) { return p.acl() == std::vector<std::string>{"alice"}; });
  EXPECT_EQ(window->security_page()->users()->names(), QStringList{"alice"});
}

TEST_F(PagesWithService, TogglingThePrinterInTheListSendsOnceAndTheRedrawSendsNothing) {
  const QRect cell = list->visualRect(window->printer_model().index(0, 0));
  expect_one_change(
      [&] {
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                          printer_list_delegate::check_rect(cell).center());
      },
      "enabled", [](const model::printer& p) { return !p.enabled(); });
  list->repaint();
  EXPECT_EQ(sent.size(), 1u);
}

}  // namespace
}  // namespace quorvane
