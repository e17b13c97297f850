// On a dark palette every text of the main window (both views, both settings pages, view and edit mode)
// and of the preferences is readable: its contrast against what it is drawn on, measured from the window's
// pixels, is at least 4.5:1. Disabled controls are left out, as the contrast rule leaves them out.
#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QHash>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>

#include <memory>
#include <set>
#include <string>

#include <gtest/gtest.h>

#include "ui/base/qt_runloop.h"
#include "ui/controls/colours.h"
#include "ui/lists/acl_list.h"
#include "ui/lists/attribute_list.h"
#include "ui/lists/printer_list.h"
#include "ui/main/main_window.h"
#include "ui/main/main_window_layout.h"
#include "ui/preferences/preferences_dlg.h"
#include "ui/preferences/tests/preferences_test_support.h"
#include "ui/settings/general_page.h"
#include "ui/settings/security_page.h"
#include "ui/test_support/console_test_env.h"
#include "ui/test_support/scripted_peer.h"

namespace quorvane {
namespace {

// A dark palette as desktops set it (the common dark Fusion colours; disabled texts grey).
QPalette dark_palette() {
  QPalette p;
  const QColor window(53, 53, 53), base(35, 35, 35), text(235, 235, 235), disabled(127, 127, 127);
  p.setColor(QPalette::Window, window);
  p.setColor(QPalette::WindowText, text);
  p.setColor(QPalette::Base, base);
  p.setColor(QPalette::AlternateBase, window);
  p.setColor(QPalette::ToolTipBase, base);
  p.setColor(QPalette::ToolTipText, text);
  p.setColor(QPalette::PlaceholderText, disabled);
  p.setColor(QPalette::Text, text);
  p.setColor(QPalette::Button, window);
  p.setColor(QPalette::ButtonText, text);
  p.setColor(QPalette::BrightText, Qt::red);
  p.setColor(QPalette::Link, QColor(42, 130, 218));
  p.setColor(QPalette::Highlight, QColor(42, 130, 218));
  p.setColor(QPalette::HighlightedText, QColor(35, 35, 35));
  p.setColor(QPalette::Light, window.lighter(150));
  p.setColor(QPalette::Midlight, window.lighter(125));
  p.setColor(QPalette::Mid, window.darker(120));
  p.setColor(QPalette::Dark, window.darker(150));
  p.setColor(QPalette::Shadow, Qt::black);
  for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
    p.setColor(QPalette::Disabled, role, disabled);
  return p;
}

// The best contrast of any pixel of `area` against its pixel row's most common colour (the background the
// text is drawn on; a gradient runs from top to bottom, so each row has its own). The cores of the glyphs
// give it; 1 when nothing stands out (no text drawn, or text in the background's colour).
double text_contrast(const QImage& shot, const QRect& area) {
  double best = 1.0;
  const QRect inside = area.intersected(shot.rect());
  for (int y = inside.top(); y <= inside.bottom(); ++y) {
    QHash<QRgb, int> counts;
    for (int x = inside.left(); x <= inside.right(); ++x) ++counts[shot.pixel(x, y)];
    QRgb background = 0;
    int most = 0;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it) {
      if (it.value() > most) {
        most = it.value();
        background = it.key();
      }
    }
    for (auto it = counts.cbegin(); it != counts.cend(); ++it)
      best = std::max(best, contrast_ratio(QColor(it.key()), QColor(background)));
  }
  return best;
}

// Measures every text of `top` that is shown and enabled in `shot` (a grab of `top`), and reports each one
// under AA as "got X, want 4.5"; returns the names of what it measured.
std::set<std::string> expect_readable(QWidget* top, const QImage& shot, const std::string& where) {
  std::set<std::string> measured;
  auto measure = [&](const std::string& what, QWidget* widget, const QRect& local) {
    const QRect area(widget->mapTo(top, local.topLeft()), local.size());
    const double got = text_contrast(shot, area);
    EXPECT_GE(got, readable_contrast) << where << ": " << what << ": got " << got << ", want 4.5";
    measured.insert(what);
  };
  for (QWidget* w : top->findChildren<QWidget*>()) {
    if (!w->isVisibleTo(top) || !w->isEnabled() || w->window() != top) continue;
    const std::string name = w->objectName().toStdString();
    if (auto* label = qobject_cast<QLabel*>(w)) {
      if (!label->text().isEmpty())
        measure("label " + name + " '" + label->text().toStdString() + "'", w, w->rect());
    } else if (qobject_cast<QCheckBox*>(w) || qobject_cast<QRadioButton*>(w)) {
      // The text beside the box or circle, which is not text.
      auto* box = static_cast<QAbstractButton*>(w);
      QStyleOptionButton option;
      option.initFrom(box);
      option.text = box->text();
      const bool check = qobject_cast<QCheckBox*>(w);
      const QStyle::SubElement contents =
          check ? QStyle::SE_CheckBoxContents : QStyle::SE_RadioButtonContents;
      measure((check ? "check box " : "radio ") + name, w,
              box->style()->subElementRect(contents, &option, box));
    } else if (auto* button = qobject_cast<QAbstractButton*>(w)) {
      if (!button->text().isEmpty())
        measure("button " + name + " '" + button->text().toStdString() + "'", w,
                w->rect().adjusted(3, 3, -3, -3));
    } else if (auto* edit = qobject_cast<QLineEdit*>(w)) {
      if (!edit->text().isEmpty()) measure("edit " + name, w, w->rect().adjusted(3, 3, -3, -3));
    } else if (auto* tabs = qobject_cast<QTabBar*>(w)) {
      for (int i = 0; i < tabs->count(); ++i)
        measure("tab '" + tabs->tabText(i).toStdString() + "'", w, tabs->tabRect(i).adjusted(3, 3, -3, -3));
    } else if (auto* menus = qobject_cast<QMenuBar*>(w)) {
      for (QAction* action : menus->actions())
        measure("menu '" + action->text().toStdString() + "'", w, menus->actionGeometry(action));
    } else if (auto* printers = qobject_cast<CPrinterList*>(w)) {
      for (int row = 0; row < printers->model()->rowCount(); ++row) {
        const QRect cell = printers->visualRect(printers->model()->index(row, 1));
        const std::string r = std::to_string(row);
        // The name on the upper half, the location on the lower: each on its own.
        measure("printer " + r + " name", printers->viewport(), cell.adjusted(0, 0, 0, -cell.height() / 2));
        measure("printer " + r + " location", printers->viewport(),
                cell.adjusted(0, cell.height() / 2, 0, 0));
      }
    } else if (auto* attributes = qobject_cast<CAttributeList*>(w)) {
      attribute_model* model = attributes->attributes();
      for (int row = 0; row < model->rowCount(); ++row) {
        const attribute_entry* entry = model->entry(row);
        const bool header = is_attribute_header(entry->kind);
        for (int column = 0; column < model->columnCount(); ++column) {
          if (!header && model->cell_of(column) != attribute_model::cell::text) continue;
          measure("attribute " + std::to_string(row) + (entry->value ? " on" : " off"),
                  attributes->viewport(), attributes->visualRect(model->index(row, column)));
          if (header) break;
        }
      }
    } else if (auto* users = qobject_cast<CACLList*>(w)) {
      for (int row = 0; row < users->names().size(); ++row) {
        const QRect cell = users->visualRect(users->model()->index(row, 1));
        measure("user " + users->names()[row].toStdString(), users->viewport(), cell);
      }
    }
  }
  return measured;
}

Json::Value printer_json(const std::string& uuid, const std::string& name, bool enabled, bool locked) {
  Json::Value p(Json::objectValue);
  p["uuid"] = uuid;
  p["displayName"] = name;
  p["location"] = "Room 1";
  p["enabled"] = enabled;
  p["color"] = 9;   // offered and on
  p["duplex"] = 8;  // offered, off
  for (const char* media : {"A4", "Letter"}) {
    Json::Value m(Json::objectValue);
    m["name"] = media;
    m["displayName"] = media;
    m["enabled"] = std::string(media) == "A4";
    p["media"].append(m);
  }
  if (locked) p["acl"].append("alice");
  return p;
}

class DarkTheme : public ::testing::Test {
 protected:
  DarkTheme() : light_(QApplication::palette()) {
    QApplication::setPalette(dark_palette());
    QSettings("Tessaly Software", "Quorvane").setValue("Preferences/SetupPrinters", 0);
    set_main_runloop(&loop_);
  }
  ~DarkTheme() override {
    set_main_runloop(nullptr);
    QApplication::setPalette(light_);
  }

  QPalette light_;
  testing::console_test_env env_;
  qt_runloop loop_;
};

TEST_F(DarkTheme, EveryTextOfTheMainWindowIsReadable) {
  testing::scripted_peer peer;
  CQuorvaneDlg window(peer.port());
  window.set_tray_available_check([] { return false; });
  window.start(false);
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  std::set<std::string> seen = expect_readable(&window, window.grab().toImage(), "connecting view");
  EXPECT_TRUE(seen.count("label connectingText 'Connecting to Quorvane Service...'"));

  ASSERT_TRUE(peer.answer_session_start());
  Json::Value printers(Json::arrayValue);
  printers.append(printer_json("3c8b8d6e-0c1e-4a57-9a39-6f1d3f7c2a10", "Office", true, true));
  printers.append(printer_json("9d1f5b7a-2b3c-4d5e-8f90-a1b2c3d4e5f6", "Basement", false, false));
  peer.send_printers_updated(printers);
  ASSERT_TRUE(
      QTest::qWaitFor([&] { return window.printer_model().rowCount() == 2; }, testing::console_bound_ms));
  QTest::qWait(20);
  seen = expect_readable(&window, window.grab().toImage(), "general page, view mode");
  for (const char* want : {"printer 0 name", "printer 1 location", "attribute 0 off", "attribute 1 on",
                           "attribute 2 off", "tab 'General'", "menu '&File'", "button edit 'Edit'"}) {
    EXPECT_TRUE(seen.count(want)) << "measured " << want;
  }

  QTest::mouseClick(window.button(button_edit), Qt::LeftButton);
  ASSERT_TRUE(window.general_page()->editing());
  seen = expect_readable(&window, window.grab().toImage(), "general page, edit mode");
  EXPECT_TRUE(seen.count("edit nameEdit"));
  QTest::mouseClick(window.button(button_cancel), Qt::LeftButton);

  window.page_holder()->setCurrentIndex(1);
  QTest::qWait(20);
  seen = expect_readable(&window, window.grab().toImage(), "security page");
  EXPECT_TRUE(seen.count("user Everyone")) << [&] {
    std::string all;
    for (const std::string& s : seen) all += s + "; ";
    return all;
  }();
  window.allow_close();
}

TEST_F(DarkTheme, EveryTextOfThePreferencesIsReadable) {
  testing_support::fresh_preferences();
  testing_support::recording_server service;
  preferences_links links;
  links.service = &service;
  links.filename_flags = [] { return 0; };
  links.set_filename_flags = [](int32_t) {};
  links.resolve_proxy = [](QObject*, std::function<void(smart_ptr<network::proxy>)>) {};
  links.show_message = [](QWidget*, const QString&) {};
  PreferencesDlg dialog(nullptr, links);
  dialog.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
  size_t measured = 0;
  for (int page = 0; page < dialog.pages()->count(); ++page) {
    dialog.pages()->setCurrentIndex(page);
    QTest::qWait(20);
    measured +=
        expect_readable(&dialog, dialog.grab().toImage(), dialog.pages()->tabText(page).toStdString()).size();
  }
  EXPECT_GT(measured, 10u);
}

}  // namespace
}  // namespace quorvane
