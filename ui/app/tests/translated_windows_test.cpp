// Every window of the console in each language it ships: each text a user reads is a translation from the
// .ts file (so no text escapes the translation system), and each fits the box its layout table gives it,
// measured with the dialog font's metrics (offscreen: no screen is needed to measure).
#include <QAbstractButton>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QSettings>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <QToolButton>
#include <QXmlStreamReader>

#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "test_support/event_bound.h"
#include "ui/app/about_dlg.h"
#include "ui/base/qt_runloop.h"
#include "ui/base/translations.h"
#include "ui/controls/proxy_login_dlg.h"
#include "ui/http/http_client.h"
#include "ui/layout/dialog_layout.h"
#include "ui/layout/dialog_units.h"
#include "ui/main/main_window.h"
#include "ui/preferences/preferences_dlg.h"
#include "ui/preferences/tests/preferences_test_support.h"
#include "ui/session/printer_list_controller.h"
#include "ui/settings/general_page.h"
#include "ui/settings/security_page.h"
#include "ui/settings/user_accounts_dlg.h"
#include "ui/test_support/console_test_env.h"
#include "ui/test_support/scripted_peer.h"
#include "ui/updates/update_check_dlg.h"

namespace quorvane {
namespace {

QString without_mnemonic(QString text) {
  return text.replace(QRegularExpression(QStringLiteral("&(?!&)")), QString());
}

// The translations of one language's .ts file, as patterns: a placeholder ("%1") stands for any text.
class translated_texts {
 public:
  explicit translated_texts(const QString& ts_path) {
    if (ts_path.isEmpty()) return;  // English: the sources' own texts
    QFile file(ts_path);
    if (!file.open(QIODevice::ReadOnly)) {
      ADD_FAILURE() << "cannot read " << ts_path.toStdString();
      return;
    }
    QXmlStreamReader xml(&file);
    static const QRegularExpression placeholder(QStringLiteral("%L?\\d+"));
    while (!xml.atEnd()) {
      if (xml.readNext() != QXmlStreamReader::StartElement || xml.name() != u"translation") continue;
      // Shown texts are compared without their mnemonic marks.
      const QString text = without_mnemonic(xml.readElementText());
      QString pattern;
      int from = 0;
      for (const QRegularExpressionMatch& match : placeholder.globalMatch(text)) {
        pattern +=
            QRegularExpression::escape(text.mid(from, match.capturedStart() - from)) + QStringLiteral(".*");
        from = match.capturedEnd();
      }
      pattern += QRegularExpression::escape(text.mid(from));
      patterns_.emplace_back(QRegularExpression::anchoredPattern(pattern),
                             QRegularExpression::DotMatchesEverythingOption);
    }
  }

  /// True when `shown` is one of the translations (with anything in place of its placeholders).
  bool contains(const QString& shown) const {
    for (const QRegularExpression& pattern : patterns_)
      if (pattern.match(shown).hasMatch()) return true;
    return false;
  }

 private:
  std::vector<QRegularExpression> patterns_;
};

// Texts that are the same in every language: the product's name and version, the "+" and "-" buttons, the
// colon between address and port.
bool language_free(const QString& text) {
  static const std::set<QString> texts = {QStringLiteral("+"), QStringLiteral("-"), QStringLiteral(":"),
                                          QStringLiteral("Quorvane"),
                                          QString::fromLatin1(console_version_text)};
  return text.trimmed().isEmpty() || texts.count(text) > 0;
}

// Controls that show the user's data (a printer's name, folder, application), not the console's texts.
bool shows_data(const QWidget* w) {
  static const std::set<QString> names = {QStringLiteral("name"),
                                          QStringLiteral("location"),
                                          QStringLiteral("folder"),
                                          QStringLiteral("action"),
                                          QStringLiteral("prompt"),
                                          QStringLiteral("folderButton"),
                                          QStringLiteral("applicationButton")};
  return names.count(w->objectName()) > 0;
}

// What one control needs to show its whole text, and the room it has; empty `text` when it shows none.
struct text_room {
  QString text;
  QSize needed;
  QSize room;
};

text_room room_of(const QWidget* w) {
  const QFontMetrics metrics(w->font());
  QStyle* style = w->style();
  if (const auto* label = qobject_cast<const QLabel*>(w)) {
    if (label->textFormat() == Qt::RichText || !label->pixmap().isNull()) return {};
    const QString text = label->text();
    if (label->wordWrap()) {
      // Wrapped at the label's width: every line must fit, and the lines must fit its height.
      const QRect wrapped = metrics.boundingRect(QRect(0, 0, label->width(), 10000),
                                                 Qt::TextWordWrap | label->alignment(), text);
      return {text, wrapped.size(), label->size()};
    }
    return {text, QSize(metrics.horizontalAdvance(text), metrics.height()), label->size()};
  }
  if (const auto* box = qobject_cast<const QGroupBox*>(w)) {
    return {box->title(), QSize(metrics.horizontalAdvance(without_mnemonic(box->title())), metrics.height()),
            box->size()};
  }
  if (const auto* button = qobject_cast<const QAbstractButton*>(w)) {
    const QString text = without_mnemonic(button->text());
    int chrome = 0;
    if (qobject_cast<const QCheckBox*>(w)) {
      chrome = style->pixelMetric(QStyle::PM_IndicatorWidth, nullptr, w) +
               style->pixelMetric(QStyle::PM_CheckBoxLabelSpacing, nullptr, w);
    } else if (qobject_cast<const QRadioButton*>(w)) {
      chrome = style->pixelMetric(QStyle::PM_ExclusiveIndicatorWidth, nullptr, w) +
               style->pixelMetric(QStyle::PM_RadioButtonLabelSpacing, nullptr, w);
    } else if (const auto* push = qobject_cast<const QPushButton*>(w)) {
      // The text between the button's margins, and the arrow of a button that opens a menu.
      chrome = 2 * style->pixelMetric(QStyle::PM_ButtonMargin, nullptr, w);
      if (push->menu()) chrome += style->pixelMetric(QStyle::PM_MenuButtonIndicator, nullptr, w);
    } else if (const auto* tool = qobject_cast<const QToolButton*>(w)) {
      chrome = 2 * style->pixelMetric(QStyle::PM_ButtonMargin, nullptr, w);
      if (tool->menu()) chrome += style->pixelMetric(QStyle::PM_MenuButtonIndicator, nullptr, w);
    }
    return {button->text(), QSize(metrics.horizontalAdvance(text) + chrome, metrics.height()),
            button->size()};
  }
  return {};
}

// One window checked in one language: every shown text translated, every one in its box.
void expect_translated_and_fitting(QWidget* window, const char* window_name, const char* language,
                                   const translated_texts& texts) {
  const std::string where = std::string(language) + ", " + window_name;
  std::vector<std::pair<QString, QString>> shown;  // (what shows it, text)
  if (!window->windowTitle().isEmpty())
    shown.emplace_back(QStringLiteral("window title"), window->windowTitle());
  for (QWidget* w : window->findChildren<QWidget*>()) {
    if (!w->isVisibleTo(window)) continue;
    const text_room room = room_of(w);
    if (!room.text.isEmpty() && !shows_data(w)) {
      shown.emplace_back(w->objectName(), room.text);
      EXPECT_LE(room.needed.width(), room.room.width())
          << where << ": \"" << room.text.toStdString() << "\" (" << w->objectName().toStdString()
          << ") needs " << room.needed.width() << " px, its box is " << room.room.width() << " px wide";
      EXPECT_LE(room.needed.height(), room.room.height())
          << where << ": \"" << room.text.toStdString() << "\" (" << w->objectName().toStdString()
          << ") needs " << room.needed.height() << " px, its box is " << room.room.height() << " px high";
    }
    if (auto* tabs = qobject_cast<QTabWidget*>(w)) {
      for (int i = 0; i < tabs->count(); ++i) shown.emplace_back(QStringLiteral("tab"), tabs->tabText(i));
      EXPECT_LE(tabs->tabBar()->sizeHint().width(), tabs->width())
          << where << ": the tabs need scroll buttons";
    }
    if (auto* menu_bar = qobject_cast<QMenuBar*>(w)) {
      for (QAction* menu : menu_bar->actions()) {
        shown.emplace_back(QStringLiteral("menu"), without_mnemonic(menu->text()));
        if (menu->menu()) {
          for (QAction* item : menu->menu()->actions())
            if (!item->isSeparator())
              shown.emplace_back(QStringLiteral("menu item"), without_mnemonic(item->text()));
        }
      }
    }
    if (auto* button = qobject_cast<QAbstractButton*>(w)) {
      QMenu* menu = nullptr;
      if (auto* push = qobject_cast<QPushButton*>(button)) menu = push->menu();
      if (auto* tool = qobject_cast<QToolButton*>(button)) menu = tool->menu();
      if (menu) {
        for (QAction* item : menu->actions())
          if (!item->isSeparator())
            shown.emplace_back(QStringLiteral("menu item"), without_mnemonic(item->text()));
      }
    }
  }
  if (std::string(language) == "en") return;  // English is the sources' language: there is nothing to look up
  for (const auto& [what, text] : shown) {
    EXPECT_TRUE(language_free(text) || texts.contains(text))
        << where << ": " << what.toStdString() << " shows \"" << text.toStdString()
        << "\", which is no translation of the .ts file (a text that does not go through the translation "
           "system?)";
  }
}

// The letter `text` underlines (after its "&"); 0 when none. A text with more than one fails.
QChar mnemonic_of(const QString& text, const std::string& where) {
  QChar letter;
  int count = 0;
  for (int i = 0; i + 1 < text.size(); ++i) {
    if (text[i] != u'&') continue;
    if (text[i + 1] == u'&') {
      ++i;
      continue;
    }
    letter = text[i + 1].toLower();
    ++count;
  }
  EXPECT_LE(count, 1) << where << ": \"" << text.toStdString() << "\" underlines more than one letter";
  return letter;
}

// Each menu title and each item has a mnemonic, used once among its neighbours.
void expect_mnemonics(QMenuBar* bar, const std::string& where) {
  std::set<QChar> titles;
  for (QAction* title : bar->actions()) {
    const QChar letter = mnemonic_of(title->text(), where);
    EXPECT_FALSE(letter.isNull()) << where << ": menu \"" << title->text().toStdString()
                                  << "\" has no mnemonic";
    EXPECT_TRUE(letter.isNull() || titles.insert(letter).second)
        << where << ": menu \"" << title->text().toStdString() << "\" repeats the letter "
        << QString(letter).toStdString();
    if (!title->menu()) continue;
    std::set<QChar> items;
    for (QAction* item : title->menu()->actions()) {
      if (item->isSeparator()) continue;
      const QChar mine = mnemonic_of(item->text(), where);
      EXPECT_FALSE(mine.isNull()) << where << ": \"" << item->text().toStdString() << "\" has no mnemonic";
      EXPECT_TRUE(mine.isNull() || items.insert(mine).second)
          << where << ": \"" << item->text().toStdString() << "\" repeats the letter "
          << QString(mine).toStdString() << " in its menu";
    }
  }
}

QString ts_file(const char* language) {
  if (std::string(language) == "en") return {};
  return QStringLiteral(QUORVANE_TRANSLATIONS "/quorvane_%1.ts").arg(QString::fromLatin1(language));
}

// Each case runs in English and in every translation.
class TranslatedWindows : public ::testing::TestWithParam<const char*> {
 protected:
  TranslatedWindows() : texts_(ts_file(GetParam())) {
    set_dialog_font_app_wide();
    const QString installed = install_translations(QLocale(QString::fromLatin1(GetParam())));
    EXPECT_EQ(installed, std::string(GetParam()) == "en" ? QString() : QString::fromLatin1(GetParam()));
    QSettings("Tessaly Software", "Quorvane").setValue("Preferences/SetupPrinters", 0);
    set_main_runloop(&loop_);
  }
  ~TranslatedWindows() override {
    set_main_runloop(nullptr);
    install_translations(QLocale(QLocale::English, QLocale::UnitedStates));
  }

  void check(QWidget* window, const char* name) {
    window->show();
    QCoreApplication::processEvents();
    expect_translated_and_fitting(window, name, GetParam(), texts_);
    // With QV_SHOT_DIR set, each window is kept as a picture, "<language>-<window>.png", to be looked at.
    const QString shots = qEnvironmentVariable("QV_SHOT_DIR");
    if (!shots.isEmpty()) {
      QString file =
          QStringLiteral("%1-%2.png").arg(QString::fromLatin1(GetParam()), QString::fromUtf8(name));
      file.replace(QRegularExpression(QStringLiteral("[^A-Za-z0-9.-]+")), QStringLiteral("-"));
      EXPECT_TRUE(window->grab().save(QDir(shots).filePath(file))) << file.toStdString();
    }
  }

  testing::console_test_env env_;
  qt_runloop loop_;
  translated_texts texts_;
};

TEST_P(TranslatedWindows, MainWindowConnectingAndWithAPrinterInViewAndEditMode) {
  testing::scripted_peer peer;
  CQuorvaneDlg window(peer.port());
  window.set_tray_available_check([] { return false; });
  window.start(false);
  check(&window, "main window, connecting");
  expect_mnemonics(window.menuBar(), std::string(GetParam()) + ", the menu bar");

  ASSERT_TRUE(peer.answer_session_start());
  Json::Value printers(Json::arrayValue);
  printers.append(Json::Value(Json::objectValue));
  printers[0]["uuid"] = "p-1";
  printers[0]["displayName"] = "Office";
  printers[0]["location"] = "Room 4";
  peer.send_printers_updated(printers);
  ASSERT_TRUE(QTest::qWaitFor([&] { return window.printer_model().rowCount() == 1; },
                              testing_support::event_bound_ms));
  check(&window, "main window, General page");
  window.button(button_edit)->click();
  check(&window, "main window, General page in edit mode");
  window.button(button_cancel)->click();
  window.page_holder()->setCurrentIndex(1);
  check(&window, "main window, Security page");
  window.allow_close();
}

TEST_P(TranslatedWindows, DialogsAndPreferencesPages) {
  {
    CAboutDlg about;
    check(&about, "About");
  }
  {
    CProxyLogin login(QStringLiteral("prompt"));
    check(&login, "HTTP Proxy Login");
  }
  {
    CEditACL add_user(nullptr, std::vector<std::string>{"ann", "bob"});
    check(&add_user, "Add User");
  }
  {
    CUpdateDialog update(console_http_client());
    check(&update, "Software Update");
  }
  testing_support::recording_server service;
  preferences_links links;
  links.service = &service;
  links.resolve_proxy = [](QObject*, std::function<void(smart_ptr<network::proxy>)>) {};
  PreferencesDlg preferences(nullptr, links);
  for (int page = 0; page < preferences.pages()->count(); ++page) {
    preferences.pages()->setCurrentIndex(page);
    check(&preferences, ("Preferences, page " + std::to_string(page)).c_str());
  }
}

INSTANTIATE_TEST_SUITE_P(Languages, TranslatedWindows, ::testing::Values("en", "de"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                           return std::string(info.param);
                         });

}  // namespace
}  // namespace quorvane
