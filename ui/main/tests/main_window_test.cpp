#include "ui/main/main_window.h"

#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QTabWidget>
#include <QTest>
#include <QTimer>

#include <memory>
#include <set>
#include <string>

#include <gtest/gtest.h>

#include "database/object.h"
#include "test_support/runloop_guard.h"
#include "ui/base/qt_runloop.h"
#include "ui/layout/dialog_units.h"
#include "ui/lists/attribute_list.h"
#include "ui/lists/printer_list.h"
#include "ui/main/main_window_layout.h"
#include "ui/settings/general_page.h"
#include "ui/test_support/console_test_env.h"
#include "ui/test_support/message_box_answer.h"
#include "ui/test_support/scripted_peer.h"

namespace quorvane {
namespace {

Json::Value printer_json(const std::string& uuid, const std::string& display_name,
                         bool auto_created = false) {
  Json::Value p(Json::objectValue);
  p["uuid"] = uuid;
  p["displayName"] = display_name;
  p["location"] = "Room 1";
  p["autoCreated"] = auto_created;
  return p;
}

class MainWindow : public ::testing::Test {
 protected:
  MainWindow() {
    QSettings("Tessaly Software", "Quorvane").setValue("Preferences/SetupPrinters", 0);
    set_main_runloop(&loop);
    window = std::make_unique<CQuorvaneDlg>(peer.port());
  }
  ~MainWindow() override {
    window.reset();
    set_main_runloop(nullptr);
  }

  void connect_with(const Json::Value& printers) {
    window->start(false);
    ASSERT_TRUE(peer.answer_session_start());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !window->connecting_view(); }, testing::console_bound_ms));
    if (!printers.empty()) {
      peer.send_printers_updated(printers);
      ASSERT_TRUE(QTest::qWaitFor([&] { return window->printer_model().rowCount() == int(printers.size()); },
                                  testing::console_bound_ms));
    }
  }
  bool shown(int id) const { return window->control(id)->isVisibleTo(window.get()); }
  std::set<int> shown_buttons() const {
    std::set<int> ids;
    for (console_button b : console_buttons) {
      if (shown(b)) ids.insert(b);
    }
    return ids;
  }
  void click(console_button b) { QTest::mouseClick(window->button(b), Qt::LeftButton); }

  testing::console_test_env env;
  qt_runloop loop;
  testing::scripted_peer peer;
  std::unique_ptr<CQuorvaneDlg> window;
};

TEST_F(MainWindow, EveryControlSitsWhereItsTableRowSays) {
  const dialog_units units = dialog_units::from_dialog_font();
  ASSERT_EQ(units.cx(), 6) << "the dialog font (DejaVu Sans Condensed) is missing";
  ASSERT_EQ(units.cy(), 13);
  EXPECT_EQ(window->centralWidget()->size(), QSize(878, 569));
  for (const dialog_control& row : main_window_controls()) {
    QWidget* w = window->control(row.id);
    ASSERT_TRUE(w) << row.name;
    EXPECT_EQ(w->geometry(), units.rect(row.x, row.y, row.w, row.h)) << row.name;
    EXPECT_EQ(w->property("ctrlId").toInt(), row.id) << row.name;
  }
  EXPECT_EQ(window->control(control_printer_list)->geometry(), QRect(5, 5, 287, 530));
  EXPECT_EQ(window->button(button_add_printer)->geometry(), QRect(5, 541, 33, 23));
  EXPECT_EQ(window->page_holder()->geometry(), window->control(control_page_placeholder)->geometry());
  EXPECT_EQ(window->page_holder()->tabText(0), "General");
  EXPECT_EQ(window->page_holder()->tabText(1), "Security");
  EXPECT_EQ(window->windowTitle(), "Quorvane");
  EXPECT_FALSE(window->windowFlags() & Qt::WindowMinimizeButtonHint);
}

// ---- a window larger or smaller than its table

TEST_F(MainWindow, ResizedTheListAndPagesTakeTheRoomAndTheButtonsStayUnderThem) {
  connect_with([] {
    Json::Value printers(Json::arrayValue);
    printers.append(printer_json("3c8b8d6e-0c1e-4a57-9a39-6f1d3f7c2a10", "Office"));
    return printers;
  }());
  QWidget* client = window->centralWidget();
  const QSize design = client->size();
  const QRect list = window->control(control_printer_list)->geometry();
  const QRect holder = window->page_holder()->geometry();
  const QRect plus = window->button(button_add_printer)->geometry();
  const QRect edit = window->button(button_edit)->geometry();
  const QRect attributes = window->general_page()->attributes()->geometry();
  const QRect name = window->general_page()->control(CGeneralSettings::id_name)->geometry();

  struct case_t {
    const char* name;
    QSize extra;
  } cases[] = {{"larger", {200, 150}}, {"smaller", {-60, -100}}};
  for (const case_t& c : cases) {
    window->resize(window->size() + c.extra);
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return client->size() == design + c.extra; }, testing::console_bound_ms))
        << c.name << ": got " << client->width() << "x" << client->height();
    const int dx = c.extra.width(), dy = c.extra.height();
    EXPECT_EQ(window->control(control_printer_list)->geometry(), list.adjusted(0, 0, 0, dy)) << c.name;
    EXPECT_EQ(window->page_holder()->geometry(), holder.adjusted(0, 0, dx, dy)) << c.name;
    EXPECT_EQ(window->button(button_add_printer)->geometry(), plus.translated(0, dy)) << c.name;
    EXPECT_EQ(window->button(button_edit)->geometry(), edit.translated(0, dy)) << c.name;
    EXPECT_EQ(window->general_page()->attributes()->geometry(), attributes.adjusted(0, 0, dx, dy)) << c.name;
    EXPECT_EQ(window->general_page()->control(CGeneralSettings::id_name)->geometry(),
              name.adjusted(0, 0, dx, 0))
        << c.name;
    // Every button is inside the window, under the list and the pages.
    for (console_button id : {button_add_printer, button_remove_printer, button_edit}) {
      EXPECT_TRUE(client->rect().contains(window->button(id)->geometry())) << c.name << " " << id;
      EXPECT_GE(window->button(id)->geometry().top(), window->page_holder()->geometry().bottom()) << c.name;
    }
    window->resize(window->size() - c.extra);
    ASSERT_TRUE(QTest::qWaitFor([&] { return client->size() == design; }, testing::console_bound_ms));
    EXPECT_EQ(window->control(control_printer_list)->geometry(), list) << c.name << ": back where it was";
    EXPECT_EQ(window->general_page()->attributes()->geometry(), attributes) << c.name;
  }
  EXPECT_TRUE(window->windowFlags() & Qt::WindowMaximizeButtonHint);
}

TEST_F(MainWindow, NeverOpensLargerThanTheScreensAvailableArea) {
  // The test platform's screen (800 x 600) is smaller than the window's table (878 x 569 and a menu bar).
  const QRect room = window->screen()->availableGeometry();
  ASSERT_LT(room.width(), 878);
  window->start(false);
  ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
  QTest::qWait(50);  // the fit after the window is framed
  EXPECT_TRUE(room.contains(window->frameGeometry()))
      << "frame " << window->frameGeometry().width() << "x" << window->frameGeometry().height() << " in "
      << room.width() << "x" << room.height();
  QWidget* client = window->centralWidget();
  EXPECT_LT(client->width(), 878);
  for (console_button id : {button_add_printer, button_remove_printer}) {
    EXPECT_TRUE(client->rect().contains(window->button(id)->geometry())) << id;
  }
  window->allow_close();
}

// ---- what assistive technology reads

TEST_F(MainWindow, ScreenReadersReadEachPrinterRowsNameRoleAndState) {
  Json::Value printers(Json::arrayValue);
  printers.append(
      printer_json("3c8b8d6e-0c1e-4a57-9a39-6f1d3f7c2a10", "Open On My PC", /*auto_created=*/false));
  printers[0]["location"] = "vm";
  printers[0]["enabled"] = true;
  printers[0]["acl"].append("alice");
  printers.append(printer_json("9d1f5b7a-2b3c-4d5e-8f90-a1b2c3d4e5f6", "Basement"));
  printers[1]["location"] = "";
  connect_with(printers);
  // "Open On My PC" sorts after "Basement".
  window->printer_list_view()->setCurrentIndex(window->printer_model().index(1, 0));

  QAccessibleInterface* list = QAccessible::queryAccessibleInterface(window->printer_list_view());
  ASSERT_TRUE(list);
  QAccessibleTableInterface* table = list->tableInterface();
  ASSERT_TRUE(table) << "the list is a table to assistive technology";
  ASSERT_EQ(table->rowCount(), 2);
  struct case_t {
    int row;
    const char* name;
    bool checked;
    bool selected;
  } cases[] = {
      {0, "Basement, disabled", false, false},
      {1, "Open On My PC at vm, enabled, locked", true, true},
  };
  for (const case_t& c : cases) {
    for (int column = 0; column < table->columnCount(); ++column) {
      QAccessibleInterface* cell = table->cellAt(c.row, column);
      ASSERT_TRUE(cell) << c.name << " column " << column;
      EXPECT_EQ(cell->text(QAccessible::Name).toStdString(), c.name) << "column " << column;
      EXPECT_TRUE(cell->role() == QAccessible::Cell || cell->role() == QAccessible::TreeItem ||
                  cell->role() == QAccessible::ListItem)
          << c.name << ": role " << cell->role();
      EXPECT_TRUE(cell->state().checkable) << c.name;
      EXPECT_EQ(bool(cell->state().checked), c.checked) << c.name << " column " << column;
      EXPECT_EQ(bool(cell->state().selected), c.selected) << c.name << " column " << column;
    }
  }

  // The general page's attribute rows say what they are and whether they are on.
  QAccessibleInterface* attributes =
      QAccessible::queryAccessibleInterface(window->general_page()->attributes());
  ASSERT_TRUE(attributes && attributes->tableInterface());
  QAccessibleTableInterface* rows = attributes->tableInterface();
  ASSERT_GE(rows->rowCount(), 1);
  for (int row = 0; row < rows->rowCount(); ++row) {
    QAccessibleInterface* cell = rows->cellAt(row, 0);
    ASSERT_TRUE(cell);
    EXPECT_FALSE(cell->text(QAccessible::Name).isEmpty()) << "attribute row " << row << " has a name";
  }
}

TEST_F(MainWindow, TheConnectingViewAndTheConnectedViewShowExactlyTheirControls) {
  window->start(false);
  for (int id : {control_background, control_connecting_picture, control_connecting_text, control_progress}) {
    EXPECT_TRUE(shown(id)) << id;
  }
  EXPECT_FALSE(shown(control_printer_list));
  EXPECT_FALSE(shown(control_page_placeholder));
  EXPECT_FALSE(window->page_holder()->isVisibleTo(window.get()));
  EXPECT_TRUE(shown_buttons().empty());
  auto* progress = static_cast<QProgressBar*>(window->control(control_progress));
  EXPECT_EQ(progress->maximum(), 0) << "the marquee runs";
  EXPECT_EQ(static_cast<QLabel*>(window->control(control_connecting_text))->text(),
            "Connecting to Quorvane Service...");
  EXPECT_FALSE(static_cast<QLabel*>(window->control(control_connecting_picture))->pixmap().isNull());

  ASSERT_TRUE(peer.answer_session_start());
  ASSERT_TRUE(QTest::qWaitFor([&] { return !window->connecting_view(); }, testing::console_bound_ms));
  for (int id : {control_background, control_connecting_picture, control_connecting_text, control_progress}) {
    EXPECT_FALSE(shown(id)) << id;
  }
  EXPECT_TRUE(shown(control_printer_list));
  EXPECT_FALSE(shown(control_page_placeholder));
  EXPECT_TRUE(window->page_holder()->isVisibleTo(window.get()));
  EXPECT_EQ(window->page_holder()->currentIndex(), 0);
  EXPECT_EQ(shown_buttons(), (std::set<int>{button_add_printer, button_remove_printer, button_edit}));
  EXPECT_NE(progress->maximum(), 0) << "the marquee stopped";

  window->page_holder()->setCurrentIndex(1);
  EXPECT_EQ(shown_buttons(),
            (std::set<int>{button_add_printer, button_remove_printer, button_add_user, button_remove_user}));
  window->page_holder()->setCurrentIndex(0);

  peer.drop();
  ASSERT_TRUE(QTest::qWaitFor([&] { return window->connecting_view(); }, testing::console_bound_ms));
  EXPECT_TRUE(shown(control_background));
  EXPECT_TRUE(shown_buttons().empty());
}

TEST(MainWindowDown, AfterThreeFailedAttemptsTheConnectingViewSaysTheServiceIsNotRunningAndKeepsTrying) {
  testing::console_test_env env;
  qt_runloop loop;
  const testing_support::runloop_guard main_loop(loop);
  const uint16_t port = testing::closed_port();
  {
    CQuorvaneDlg window(port);
    window.start(false);
    auto* hint = static_cast<QLabel*>(window.control(control_connecting_hint));
    window.session().attempt();
    EXPECT_FALSE(hint->isVisibleTo(&window)) << "two failures may be a slow start";
    window.session().attempt();
    EXPECT_TRUE(hint->isVisibleTo(&window));
    EXPECT_TRUE(hint->text().startsWith("The print service is not running. Start it with:\n"))
        << hint->text().toStdString();
    EXPECT_TRUE(hint->text().contains("quorvane-service")) << hint->text().toStdString();
    // The view stays as it was, its marquee running, with the next attempt armed.
    EXPECT_TRUE(window.connecting_view());
    EXPECT_TRUE(window.control(control_connecting_text)->isVisibleTo(&window));
    EXPECT_EQ(static_cast<QProgressBar*>(window.control(control_progress))->maximum(), 0);
    EXPECT_TRUE(window.session().retry_pending());
    EXPECT_GE(hint->y(), window.control(control_progress)->geometry().bottom()) << "under the marquee";

    // The service comes: the connected view has no hint, and a later drop starts counting anew.
    testing::scripted_peer service(port);
    if (service.port() != port) GTEST_SKIP() << "another program took port " << port << " meanwhile";
    window.session().attempt();
    ASSERT_TRUE(service.answer_session_start());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !window.connecting_view(); }, testing::console_bound_ms));
    EXPECT_FALSE(hint->isVisibleTo(&window));
    service.drop();
    ASSERT_TRUE(QTest::qWaitFor([&] { return window.connecting_view(); }, testing::console_bound_ms));
    EXPECT_FALSE(hint->isVisibleTo(&window)) << "a connection that just closed is no stopped service yet";
  }
}

TEST_F(MainWindow, WithTheSettingsPagesInstalledTheWindowStillDecidesWhichButtonsShow) {
  window->start(false);
  EXPECT_TRUE(shown_buttons().empty()) << "the connecting view shows no button";

  Json::Value printers(Json::arrayValue);
  printers.append(printer_json("3c8b8d6e-0c1e-4a57-9a39-6f1d3f7c2a10", "Office"));
  connect_with(printers);
  EXPECT_EQ(shown_buttons(), (std::set<int>{button_add_printer, button_remove_printer, button_edit}));
  click(button_edit);
  EXPECT_EQ(shown_buttons(),
            (std::set<int>{button_add_printer, button_remove_printer, button_save, button_cancel}));
  window->page_holder()->setCurrentIndex(1);
  EXPECT_EQ(shown_buttons(),
            (std::set<int>{button_add_printer, button_remove_printer, button_add_user, button_remove_user}));
  window->page_holder()->setCurrentIndex(0);
  EXPECT_EQ(shown_buttons(),
            (std::set<int>{button_add_printer, button_remove_printer, button_save, button_cancel}))
      << "an edit in progress keeps Save and Cancel";

  peer.drop();
  ASSERT_TRUE(QTest::qWaitFor([&] { return window->connecting_view(); }, testing::console_bound_ms));
  EXPECT_TRUE(shown_buttons().empty());
}

TEST_F(MainWindow, ClickingARowShowsItsPrinterAndMinusFollowsAutoCreated) {
  Json::Value printers(Json::arrayValue);
  printers.append(printer_json("u-b", "Beta", /*auto_created=*/true));
  printers.append(printer_json("u-a",
                               "\xEE\x80\x8C"
                               "Alpha"));
  connect_with(printers);
  auto* view = window->printer_list_view();
  EXPECT_EQ(view->model()->index(0, 0).data().toString(), "Alpha");
  EXPECT_EQ(view->selectionModel()->selectedRows().value(0).row(), 0) << "row 0 is selected after the update";
  EXPECT_TRUE(window->button(button_remove_printer)->isEnabled());

  // The name column: a click on the first column's check image would switch the printer off.
  const QRect second = view->visualRect(view->model()->index(1, 1));
  QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, second.center());
  EXPECT_EQ(window->controller().selected_row(), 1);
  EXPECT_FALSE(window->button(button_remove_printer)->isEnabled()) << "the service made this printer";
  CGeneralSettings* general = window->general_page();
  EXPECT_EQ(window->page_holder()->widget(0), general);
  EXPECT_EQ(static_cast<QLabel*>(general->control(CGeneralSettings::id_name))->text(), "Beta");
  EXPECT_EQ(static_cast<QLabel*>(general->control(CGeneralSettings::id_location))->text(), "Room 1");
}

TEST_F(MainWindow, MinusAsksNamingThePrinterAndRemovesOnlyOnYes) {
  Json::Value printers(Json::arrayValue);
  printers.append(printer_json("u-a",
                               "\xEE\x80\x8C"
                               "Alpha"));
  connect_with(printers);
  testing::message_box_answer no;
  no.answer = QMessageBox::No;
  no.arm();
  click(button_remove_printer);
  EXPECT_TRUE(no.text.contains(QStringLiteral("\"Alpha\""))) << no.text.toStdString();
  EXPECT_EQ(window->printer_model().rowCount(), 1) << "No keeps the printer";

  testing::message_box_answer yes;
  yes.answer = QMessageBox::Yes;
  yes.arm();
  click(button_remove_printer);
  EXPECT_FALSE(yes.text.isEmpty()) << "asked again";
  EXPECT_EQ(window->printer_model().rowCount(), 0) << "Yes removes it";
}

TEST_F(MainWindow, PlusAndEditPutTheKeysInTheNameFieldWithItsTextSelected) {
  Json::Value printers(Json::arrayValue);
  printers.append(printer_json("u-a", "Alpha"));
  connect_with(printers);
  auto* name = static_cast<QLineEdit*>(window->general_page()->control(CGeneralSettings::id_name_edit));
  for (console_button b : {button_add_printer, button_edit}) {
    if (b == button_edit) click(button_cancel);
    window->printer_list_view()->setFocus();
    click(b);
    EXPECT_EQ(window->focusWidget(), name) << (b == button_edit ? "Edit" : "+");
    EXPECT_TRUE(name->hasSelectedText() || name->text().isEmpty()) << name->text().toStdString();
    EXPECT_EQ(name->selectedText(), name->text());
  }
}

TEST_F(MainWindow, PlusThenCancelLeavesNothingAndPlusThenSaveStoresAndSends) {
  connect_with(Json::Value(Json::arrayValue));
  click(button_add_printer);
  EXPECT_EQ(window->printer_model().rowCount(), 1);
  EXPECT_EQ(shown_buttons(),
            (std::set<int>{button_add_printer, button_remove_printer, button_save, button_cancel}));
  auto* view = window->printer_list_view();
  EXPECT_EQ(view->selectionModel()->selectedRows().value(0).row(), 0) << "the new printer is selected";
  click(button_cancel);
  EXPECT_EQ(window->printer_model().rowCount(), 0);
  EXPECT_EQ(shown_buttons(), (std::set<int>{button_add_printer, button_remove_printer, button_edit}));
  EXPECT_EQ(testing::stored_printer_count(), 0);

  click(button_add_printer);
  const std::string uuid = window->controller().pending_printer_uuid();
  const size_t before = peer.messages().size();
  click(button_save);
  EXPECT_EQ(testing::stored_printer_count(), 1);
  ASSERT_TRUE(peer.wait_for_messages(before + 1));
  EXPECT_EQ(peer.messages()[before]["method"].asString(), "updatePrinter");
  EXPECT_EQ(peer.messages()[before]["params"][0]["uuid"].asString(), uuid);
  EXPECT_EQ(shown_buttons(), (std::set<int>{button_add_printer, button_remove_printer, button_edit}));
}

TEST_F(MainWindow, AltAndAMenusLetterOpenIt) {
  window->start(false);
  window->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
  const QList<QAction*> menus = window->menuBar()->actions();
  ASSERT_EQ(menus.size(), 2);
  struct key_case {
    Qt::Key key;
    QMenu* want;
  };
  for (const key_case& c : {key_case{Qt::Key_F, menus[0]->menu()}, key_case{Qt::Key_H, menus[1]->menu()}}) {
    QTest::keyClick(window.get(), c.key, Qt::AltModifier);
    EXPECT_TRUE(QTest::qWaitFor([&] { return c.want->isVisible(); }, testing::console_bound_ms))
        << c.want->title().toStdString();
    c.want->hide();
  }
}

TEST_F(MainWindow, MenuCommandsAreDisabledUntilHandledAndRunTheirHandler) {
  QAction* preferences = window->command_action(command_preferences);
  ASSERT_TRUE(preferences);
  EXPECT_EQ(preferences->text(), "Pr&eferences...");
  EXPECT_FALSE(preferences->isEnabled());
  int runs = 0;
  window->set_command_handler(command_preferences, [&] { ++runs; });
  EXPECT_TRUE(preferences->isEnabled());
  preferences->trigger();
  window->preferences();
  EXPECT_EQ(runs, 2);
  for (int command : {command_check_updates, command_exit, command_help, command_about}) {
    EXPECT_TRUE(window->command_action(command)) << command;
  }
  EXPECT_FALSE(window->command_action(command_open)) << "the tray menu's command is not in the menu bar";
}

struct hiding_case {
  const char* name;
  bool tray;
  bool start_minimized;
  bool visible_at_start;
  bool minimized_at_start;
};

TEST_F(MainWindow, HidingAndShowingFollowTheNotificationArea) {
  const hiding_case cases[] = {
      {"tray, normal start", true, false, true, false},
      {"tray, StartMinimized: only the icon", true, true, false, false},
      {"no tray, normal start", false, false, true, false},
      {"no tray, StartMinimized: minimised, never hidden", false, true, true, true},
  };
  for (const hiding_case& c : cases) {
    window = std::make_unique<CQuorvaneDlg>(peer.port());
    bool tray = c.tray;
    window->set_tray_available_check([&] { return tray; });
    window->start(c.start_minimized);
    EXPECT_EQ(window->isVisible(), c.visible_at_start) << c.name;
    EXPECT_EQ(window->isMinimized(), c.minimized_at_start) << c.name;
    window->show_from_tray();
    EXPECT_TRUE(window->isVisible()) << c.name;
    EXPECT_FALSE(window->isMinimized()) << c.name;

    window->close();
    if (c.tray) {
      EXPECT_FALSE(window->isVisible()) << c.name << ": Close hides";
      window->show();
      EXPECT_FALSE(window->isVisible()) << c.name << ": showing is suppressed while hidden to the tray";
      window->show_from_tray();
      EXPECT_TRUE(window->isVisible()) << c.name;
    } else {
      EXPECT_TRUE(window->isVisible()) << c.name << ": Close minimises instead";
      EXPECT_TRUE(window->isMinimized()) << c.name;
    }
  }
  window->allow_close();
  EXPECT_TRUE(window->close());
}

}  // namespace
}  // namespace quorvane
