#include "ui/preferences/preferences_dlg.h"

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSettings>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/log.h"
#include "test_support/event_bound.h"
#include "ui/base/preference_values.h"
#include "ui/controls/numeric_edit.h"
#include "ui/http/proxy_resolution.h"
#include "ui/layout/dialog_units.h"
#include "ui/preferences/advanced_page.h"
#include "ui/preferences/general_page.h"
#include "ui/preferences/network_page.h"
#include "ui/preferences/tests/preferences_test_support.h"

namespace quorvane {
namespace {

using testing_support::fresh_preferences;
using testing_support::recording_server;
using testing_support::stored_proxy_count;

// Clicks a check box on its box (the widget may be much wider than its text).
void tick(QCheckBox* box) {
  QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(6, box->height() / 2));
}

// A preferences dialog over a recording service, a system that answers "system.example:8080" when asked,
// and messages collected instead of shown.
class Preferences : public ::testing::Test {
 protected:
  void SetUp() override {
    fresh_preferences();
    set_log_level(log_error);
  }
  void TearDown() override { set_log_level(log_error); }

  std::unique_ptr<PreferencesDlg> open() {
    preferences_links links;
    links.service = &service;
    links.filename_flags = [this] { return flags; };
    links.set_filename_flags = [this](int32_t value) { flags = value; };
    links.resolve_proxy = [this](QObject* context, std::function<void(smart_ptr<network::proxy>)> done) {
      ++system_questions;
      QTimer::singleShot(0, context, [done] {
        auto record = stored_proxy();
        record->setHost(wide_string::from_narrow("system.example"));
        record->setPort(8080);
        done(record);
      });
    };
    links.show_message = [this](QWidget*, const QString& message) {
      messages.push_back(message.toStdString());
    };
    auto dialog = std::make_unique<PreferencesDlg>(nullptr, links);
    dialog->show();
    return dialog;
  }
  template <class T>
  static T* control(QWidget* page, int id) {
    T* found = find_control<T>(page, id);
    EXPECT_TRUE(found) << "control " << id;
    return found;
  }

  recording_server service;
  int32_t flags = 0;
  int system_questions = 0;
  std::vector<std::string> messages;
};

TEST_F(Preferences, ThreePagesInOrderLaidOutFromTheirTables) {
  auto dialog = open();
  EXPECT_EQ(dialog->windowTitle(), QStringLiteral("Quorvane Preferences"));
  EXPECT_EQ(dialog->size(), QSize(447, 268));
  ASSERT_EQ(dialog->pages()->count(), 3);
  EXPECT_EQ(dialog->pages()->tabText(0), QStringLiteral("General"));
  EXPECT_EQ(dialog->pages()->tabText(1), QStringLiteral("Network"));
  EXPECT_EQ(dialog->pages()->tabText(2), QStringLiteral("Advanced"));
  const QRect frame = dialog->controls().control(PreferencesDlg::id_page_frame)->geometry();
  EXPECT_EQ(dialog->pages()->pos(), frame.topLeft() - QPoint(7, 7));
  EXPECT_LE(dialog->pages()->geometry().right(), dialog->width());
  EXPECT_LT(dialog->pages()->geometry().bottom(), dialog->controls().control(PreferencesDlg::id_ok)->y())
      << "the pages end above OK";
  for (int i = 0; i < 3; ++i) {
    dialog->pages()->setCurrentIndex(i);
    QWidget* page = dialog->pages()->currentWidget();
    EXPECT_GE(page->width(), page->minimumWidth()) << "page " << i << " shows its whole table";
    EXPECT_GE(page->height(), page->minimumHeight()) << "page " << i << " shows its whole table";
  }
  EXPECT_EQ(control<QCheckBox>(dialog->network(), CPreferencesNetwork::id_manual)->geometry(),
            QRect(32, 39, 197, 16));
  EXPECT_TRUE(
      dynamic_cast<CNumericEdit*>(dialog->network()->controls().control(CPreferencesNetwork::id_port)));
  EXPECT_EQ(control<QLineEdit>(dialog->network(), CPreferencesNetwork::id_password)->echoMode(),
            QLineEdit::Password);
  EXPECT_TRUE(dialog->findChildren<QPushButton*>(QStringLiteral("cancel")).isEmpty()) << "there is no Cancel";
}

TEST_F(Preferences, NoTextIsCutOff) {
  const QFont before = QApplication::font();
  set_dialog_font_app_wide();
  auto dialog = open();
  for (QWidget* page : {static_cast<QWidget*>(dialog->general()), static_cast<QWidget*>(dialog->network()),
                        static_cast<QWidget*>(dialog->advanced())}) {
    for (QLabel* label : page->findChildren<QLabel*>()) {
      if (label->objectName() == QLatin1String("sample")) continue;  // the widest sample is checked below
      EXPECT_LE(label->fontMetrics().horizontalAdvance(label->text()), label->width())
          << label->objectName().toStdString();
    }
    for (QCheckBox* box : page->findChildren<QCheckBox*>())
      EXPECT_LE(box->sizeHint().width(), box->width()) << box->objectName().toStdString();
  }
  auto* sample = control<QLabel>(dialog->advanced(), CPreferencesAdvanced::id_sample);
  EXPECT_LE(sample->fontMetrics().horizontalAdvance(advanced_preferences::sample_text(7)), sample->width());
  QApplication::setFont(before);
}

TEST_F(Preferences, EscapeClosesAModalRun) {
  auto dialog = open();
  dialog->hide();
  bool modal = false;
  QTimer::singleShot(0, dialog.get(), [&] {
    modal = QApplication::activeModalWidget() == dialog.get();
    QTest::keyClick(dialog.get(), Qt::Key_Escape);
  });
  QTimer::singleShot(5000, dialog.get(), [&] { dialog->done(QDialog::Accepted); });
  EXPECT_EQ(dialog->exec(), QDialog::Rejected);
  EXPECT_TRUE(modal);
}

TEST_F(Preferences, GeneralCheckBoxesAreWrittenAtTheClick) {
  struct box_case {
    int id;
    const preference_value& preference;
    const char* key;
    bool ticked_when_absent;
  };
  const box_case cases[] = {
      {CPreferencesGeneral::id_start_minimized, start_minimized_preference, "Preferences/StartMinimized",
       false},
      {CPreferencesGeneral::id_notify_arrivals, notify_arrivals_preference, "Preferences/NotifyArrivals",
       true},
  };
  for (const box_case& c : cases) {
    QSettings(QStringLiteral("Tessaly Software"), QStringLiteral("Quorvane"))
        .remove(QString::fromUtf8(c.key));
    auto dialog = open();
    auto* box = control<QCheckBox>(dialog->general(), c.id);
    EXPECT_EQ(box->isChecked(), c.ticked_when_absent) << c.key;
    tick(box);
    EXPECT_EQ(read_preference(c.preference), c.ticked_when_absent ? 0 : 1) << c.key << ": written at once";
    EXPECT_EQ(QSettings(QStringLiteral("Tessaly Software"), QStringLiteral("Quorvane"))
                  .value(QString::fromUtf8(c.key)),
              c.ticked_when_absent ? 0 : 1)
        << c.key;
    tick(box);
    EXPECT_EQ(read_preference(c.preference), c.ticked_when_absent ? 1 : 0) << c.key;
    write_preference(c.preference, c.ticked_when_absent ? 0 : 1);
    auto again = open();
    EXPECT_EQ(control<QCheckBox>(again->general(), c.id)->isChecked(), !c.ticked_when_absent) << c.key;
  }
}

TEST_F(Preferences, NetworkFieldsShowTheSystemsAnswerAndAreEditableOnlyByHand) {
  auto dialog = open();
  CPreferencesNetwork* page = dialog->network();
  auto* host = control<QLineEdit>(page, CPreferencesNetwork::id_host);
  auto* port = control<QLineEdit>(page, CPreferencesNetwork::id_port);
  EXPECT_EQ(system_questions, 1);
  ASSERT_TRUE(QTest::qWaitFor([&] { return host->text() == QStringLiteral("system.example"); },
                              testing_support::event_bound_ms));
  EXPECT_EQ(port->text(), QStringLiteral("8080"));
  for (int id : {CPreferencesNetwork::id_host, CPreferencesNetwork::id_port, CPreferencesNetwork::id_user,
                 CPreferencesNetwork::id_password}) {
    EXPECT_FALSE(page->controls().control(id)->isEnabled()) << id;
  }
  tick(control<QCheckBox>(page, CPreferencesNetwork::id_manual));
  EXPECT_EQ(read_preference(configure_proxy_manually_preference), 1);
  for (int id : {CPreferencesNetwork::id_host, CPreferencesNetwork::id_port, CPreferencesNetwork::id_user,
                 CPreferencesNetwork::id_password}) {
    EXPECT_TRUE(page->controls().control(id)->isEnabled()) << id;
  }
  host->setText(QStringLiteral("typed.example"));
  EXPECT_EQ(page->values().host(), QStringLiteral("typed.example"));
  dialog->accept();
  EXPECT_EQ(stored_proxy()->host().text(), u"typed.example");
  EXPECT_EQ(stored_proxy()->port(), 8080);
}

TEST_F(Preferences, ABadPortKeepsTheNetworkPageWithItsMessage) {
  write_preference(configure_proxy_manually_preference, 1);
  auto dialog = open();
  EXPECT_EQ(system_questions, 0) << "settings configured by hand are not detected";
  dialog->pages()->setCurrentWidget(dialog->network());
  auto* port = control<QLineEdit>(dialog->network(), CPreferencesNetwork::id_port);
  const struct {
    const char* text;
    const char* message;
  } cases[] = {{"", "Enter an integer."},
               {"1.5", "Enter an integer."},
               {"70000", "Enter an integer between 1 and 65535."},
               {"0", "Enter an integer between 1 and 65535."}};
  for (const auto& c : cases) {
    messages.clear();
    port->setText(QString::fromLatin1(c.text));
    dialog->pages()->setCurrentWidget(dialog->advanced());
    EXPECT_EQ(messages, std::vector<std::string>{c.message}) << c.text;
    EXPECT_EQ(dialog->pages()->currentWidget(), dialog->network()) << c.text << ": the page stays";
    messages.clear();
    dialog->accept();
    EXPECT_TRUE(dialog->isVisible()) << c.text << ": closing is refused the same way";
    EXPECT_EQ(messages, std::vector<std::string>{c.message}) << c.text;
  }
  port->setText(QStringLiteral("3128"));
  dialog->pages()->setCurrentWidget(dialog->advanced());
  EXPECT_EQ(dialog->pages()->currentWidget(), dialog->advanced());
  dialog->accept();
  EXPECT_FALSE(dialog->isVisible());
  EXPECT_EQ(stored_proxy_count(), 1);
}

TEST_F(Preferences, ClearingConfigureManuallyDeletesTheRowAndClosingStoresTheDetectedOne) {
  auto manual = make_counted<network::proxy>(uri(network::vendor_endpoint));
  manual->setHost(wide_string::from_narrow("manual.example"));
  manual->setPort(3128);
  ASSERT_TRUE(manual->save());
  write_preference(configure_proxy_manually_preference, 1);

  auto dialog = open();
  CPreferencesNetwork* page = dialog->network();
  auto* host = control<QLineEdit>(page, CPreferencesNetwork::id_host);
  EXPECT_EQ(host->text(), QStringLiteral("manual.example"));
  tick(control<QCheckBox>(page, CPreferencesNetwork::id_manual));
  EXPECT_EQ(stored_proxy_count(), 0) << "the stored row is deleted at the click";
  EXPECT_EQ(read_preference(configure_proxy_manually_preference), 0);
  ASSERT_TRUE(QTest::qWaitFor([&] { return host->text() == QStringLiteral("system.example"); },
                              testing_support::event_bound_ms))
      << "the dialog shows what the system says";
  dialog->accept();
  EXPECT_EQ(stored_proxy_count(), 1);
  EXPECT_EQ(stored_proxy()->host().text(), u"system.example");
  EXPECT_EQ(stored_proxy()->port(), 8080);
}

TEST_F(Preferences, FileNameBoxesSendTheFlagsKeepHigherBitsAndShowTheSample) {
  flags = 0;
  auto dialog = open();
  dialog->pages()->setCurrentWidget(dialog->advanced());
  CPreferencesAdvanced* page = dialog->advanced();
  auto* sample = control<QLabel>(page, CPreferencesAdvanced::id_sample);
  EXPECT_EQ(sample->text(), QStringLiteral("Sample: doc.pdf"));
  tick(control<QCheckBox>(page, CPreferencesAdvanced::id_device_ip));
  EXPECT_EQ(service.sent, std::vector<std::string>{R"({"filenameGenerationFlags":2})"});
  EXPECT_EQ(flags, 2) << "the main window keeps the flags";
  EXPECT_EQ(sample->text(), QStringLiteral("Sample: doc+192.168.1.10.pdf"));

  service.sent.clear();
  flags = 0x18 | 2;  // bits the service set that the page does not show
  tick(control<QCheckBox>(page, CPreferencesAdvanced::id_device_user));
  tick(control<QCheckBox>(page, CPreferencesAdvanced::id_device_ip));
  EXPECT_EQ(service.sent, (std::vector<std::string>{R"({"filenameGenerationFlags":27})",
                                                    R"({"filenameGenerationFlags":25})"}));
  EXPECT_EQ(sample->text(), QStringLiteral("Sample: doc+johndoe.pdf"));
}

TEST_F(Preferences, TheBoxesStartFromTheMainWindowsFlags) {
  flags = 5;
  auto dialog = open();
  CPreferencesAdvanced* page = dialog->advanced();
  EXPECT_TRUE(control<QCheckBox>(page, CPreferencesAdvanced::id_device_user)->isChecked());
  EXPECT_FALSE(control<QCheckBox>(page, CPreferencesAdvanced::id_device_ip)->isChecked());
  EXPECT_TRUE(control<QCheckBox>(page, CPreferencesAdvanced::id_device_ethernet)->isChecked());
}

// Opens the logging menu with its arrow and, once it shows, clicks `entry` in it (none: closes it).
void pick_from_logging_menu(CPreferencesAdvanced* page, const QString& entry) {
  QMenu* menu = page->logging_menu();
  QTimer::singleShot(50, menu, [menu, entry] {
    for (QAction* action : menu->actions()) {
      if (!entry.isEmpty() && action->text() == entry) {
        QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(action).center());
        return;
      }
    }
    menu->close();
  });
  find_control<QToolButton>(page, CPreferencesAdvanced::id_logging)->showMenu();
  QTest::qWait(20);  // the choice is applied once the menu is gone
}

TEST_F(Preferences, LoggingSetsTheLevelAndAMenuClosedWithoutAChoiceGivesNone) {
  set_log_level(log_warning);
  auto dialog = open();
  dialog->pages()->setCurrentWidget(dialog->advanced());
  CPreferencesAdvanced* page = dialog->advanced();
  auto* logging = control<QToolButton>(page, CPreferencesAdvanced::id_logging);
  EXPECT_EQ(logging->text(), QStringLiteral("Warning"));
  EXPECT_EQ(logging->popupMode(), QToolButton::MenuButtonPopup);

  pick_from_logging_menu(page, QStringLiteral("Verbose"));
  EXPECT_EQ(service.sent, std::vector<std::string>{R"({"logLevel":10})"});
  EXPECT_EQ(logging->text(), QStringLiteral("Verbose"));
  EXPECT_EQ(log_level_threshold(), 10);

  service.sent.clear();
  pick_from_logging_menu(page, QString());
  EXPECT_EQ(service.sent, std::vector<std::string>{R"({"logLevel":0})"});
  EXPECT_EQ(logging->text(), QStringLiteral("None"));
  EXPECT_EQ(log_level_threshold(), 0);

  service.sent.clear();
  pick_from_logging_menu(page, QStringLiteral("Information"));
  QTest::mouseClick(logging, Qt::LeftButton, {}, QPoint(5, logging->height() / 2));
  EXPECT_EQ(service.sent, (std::vector<std::string>{R"({"logLevel":3})", R"({"logLevel":0})"}))
      << "the face repeats no choice: it is a click that chose nothing";
}

}  // namespace
}  // namespace quorvane
