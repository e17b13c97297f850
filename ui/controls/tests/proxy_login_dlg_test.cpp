#include "ui/controls/proxy_login_dlg.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <functional>

#include <gtest/gtest.h>

#include "database/database.h"
#include "database/object.h"
#include "model/manager.h"
#include "ui/layout/dialog_units.h"
#include "ui/test_support/console_test_env.h"

namespace quorvane {
namespace {

// Runs `act` on the login dialog once it is shown modally.
void when_login_shows(std::function<void(CProxyLogin&)> act) {
  QTimer::singleShot(0, [act] {
    auto* dialog = qobject_cast<CProxyLogin*>(QApplication::activeModalWidget());
    if (!dialog) {
      ADD_FAILURE() << "no login dialog is shown";
      if (QWidget* other = QApplication::activeModalWidget()) other->close();
      return;
    }
    act(*dialog);
  });
}

class ProxyLogin : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(model::manager::shared().status(), 0);
    ASSERT_EQ(database::manager::shared().exec("DELETE FROM proxy;"), 0);
    record = make_counted<network::proxy>(uri(network::vendor_endpoint));
    record->setHost(wide_string::from_narrow("proxy.example"));
    record->setPort(3128);
  }
  testing::console_test_env env;  // private folders, made before the database is reached
  network::proxy_ptr record;
};

TEST_F(ProxyLogin, ConnectIsEnabledExactlyWhileBothFieldsHoldText) {
  CProxyLogin dialog(QStringLiteral("prompt"));
  auto* connect = dialog.controls().find<QPushButton>(CProxyLogin::id_connect);
  auto* user = dialog.controls().find<QLineEdit>(CProxyLogin::id_user);
  auto* password = dialog.controls().find<QLineEdit>(CProxyLogin::id_password);
  ASSERT_TRUE(connect && user && password);
  EXPECT_EQ(dialog.windowTitle(), QStringLiteral("HTTP Proxy Login"));
  EXPECT_EQ(password->echoMode(), QLineEdit::Password);
  EXPECT_FALSE(connect->isEnabled());
  QTest::keyClicks(user, "ann");
  EXPECT_FALSE(connect->isEnabled());
  QTest::keyClicks(password, "pw");
  EXPECT_TRUE(connect->isEnabled());
  user->clear();
  EXPECT_FALSE(connect->isEnabled()) << "clearing the user disables Connect";
  user->setText(QStringLiteral("ann"));
  EXPECT_TRUE(connect->isEnabled());
  password->clear();
  EXPECT_FALSE(connect->isEnabled()) << "clearing the password disables Connect";
}

TEST_F(ProxyLogin, NoTextIsCutOff) {
  const QFont before = QApplication::font();
  set_dialog_font_app_wide();
  CProxyLogin dialog(proxy_login_prompt(*record));
  for (const char* name : {"userLabel", "passwordLabel"}) {
    auto* label = dialog.findChild<QLabel*>(QString::fromLatin1(name));
    ASSERT_TRUE(label) << name;
    EXPECT_LE(label->fontMetrics().horizontalAdvance(label->text()), label->width()) << name;
  }
  auto* prompt = dialog.controls().find<QLabel>(CProxyLogin::id_prompt);
  EXPECT_LE(prompt->heightForWidth(prompt->width()), prompt->height()) << "the prompt fits in its two lines";
  for (QPushButton* button : dialog.findChildren<QPushButton*>())
    EXPECT_LE(button->fontMetrics().horizontalAdvance(button->text()), button->width());
  QApplication::setFont(before);
}

TEST_F(ProxyLogin, ThePromptNamesTheProxy) {
  EXPECT_EQ(proxy_login_prompt(*record),
            QStringLiteral("The proxy server at proxy.example:3128 requires a username and password."));
}

TEST_F(ProxyLogin, ConnectFillsAndStoresTheRecord) {
  QString shown_prompt;
  when_login_shows([&](CProxyLogin& dialog) {
    shown_prompt = dialog.controls().find<QLabel>(CProxyLogin::id_prompt)->text();
    QTest::keyClicks(dialog.controls().find<QLineEdit>(CProxyLogin::id_user), "ann");
    QTest::keyClicks(dialog.controls().find<QLineEdit>(CProxyLogin::id_password), "s3cr'et");
    QTest::mouseClick(dialog.controls().find<QPushButton>(CProxyLogin::id_connect), Qt::LeftButton);
  });
  EXPECT_TRUE(ask_proxy_credentials(*record));
  EXPECT_EQ(shown_prompt, proxy_login_prompt(*record));
  EXPECT_EQ(record->user().text(), u"ann");
  EXPECT_EQ(record->password().text(), u"s3cr'et");
  EXPECT_NE(record->oid(), 0) << "the record was stored";
  EXPECT_FALSE(record->dirty());
  const network::proxy_ptr stored =
      database::open_cursor<network::proxy>("uri", network::vendor_endpoint).current();
  ASSERT_TRUE(stored);
  EXPECT_EQ(stored->user().text(), u"ann");
  EXPECT_EQ(stored->password().text(), u"s3cr'et");
  EXPECT_EQ(stored->host().text(), u"proxy.example");
}

TEST_F(ProxyLogin, CancelLeavesTheRecordUnchanged) {
  record->setUser(wide_string::from_narrow("old"));
  when_login_shows([](CProxyLogin& dialog) {
    QTest::keyClicks(dialog.controls().find<QLineEdit>(CProxyLogin::id_user), "ann");
    QTest::keyClicks(dialog.controls().find<QLineEdit>(CProxyLogin::id_password), "pw");
    QTest::mouseClick(dialog.controls().find<QPushButton>(CProxyLogin::id_cancel), Qt::LeftButton);
  });
  EXPECT_FALSE(ask_proxy_credentials(*record));
  EXPECT_EQ(record->user().text(), u"old");
  EXPECT_TRUE(record->password().text().empty());
  EXPECT_EQ(record->oid(), 0) << "nothing was stored";
}

TEST_F(ProxyLogin, EscapeCancels) {
  when_login_shows([](CProxyLogin& dialog) { QTest::keyClick(&dialog, Qt::Key_Escape); });
  EXPECT_FALSE(ask_proxy_credentials(*record));
}

}  // namespace
}  // namespace quorvane
