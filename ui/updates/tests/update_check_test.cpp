#include "ui/updates/update_check.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QSettings>
#include <QTest>
#include <QTextBrowser>
#include <QTimer>

#include <optional>

#include <gtest/gtest.h>

#include "database/object.h"
#include "test_support/event_bound.h"
#include "ui/controls/proxy_login_dlg.h"
#include "ui/http/http_client.h"
#include "ui/http/tests/http_test_support.h"
#include "ui/http/tests/local_http.h"
#include "ui/updates/tests/appcast_samples.h"
#include "ui/updates/update_check_dlg.h"

namespace quorvane {
namespace {

using testing_support::appcast;
using testing_support::local_http_proxy;
using testing_support::local_http_server;
using kind = update_outcome::kind;

void set_feed_url(const QString& url) {
  QSettings("Tessaly Software", "Quorvane").setValue("Preferences/UpdateFeedURL", url);
}

QString local_feed(const local_http_server& server, const char* path) {
  return QStringLiteral("http://127.0.0.1:%1%2").arg(server.port()).arg(path);
}

TEST(UpdateFeedUrl, OnlyAWebAddressSetInThePreferencesIsAFeed) {
  QSettings settings("Tessaly Software", "Quorvane");
  const struct {
    const char* name;
    const char* preference;  // null: not set
    const char* want;        // the feed; "" for none
    bool want_invalid;
  } cases[] = {
      // a feed
      {"an https address", "https://mirror.example/appcast.xml", "https://mirror.example/appcast.xml", false},
      {"an http address", " http://127.0.0.1:8080/a.xml ", "http://127.0.0.1:8080/a.xml", false},
      // none: the system's software updates
      {"not set", nullptr, "", false},
      {"blank", "   ", "", false},
      // set, but no web address: said, never replaced by another address
      {"not a web address", "file:///etc/passwd", "", true},
      {"text", "not a url", "", true},
      {"no host", "https://", "", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.preference)
      settings.setValue("Preferences/UpdateFeedURL", c.preference);
    else
      settings.remove("Preferences/UpdateFeedURL");
    settings.sync();
    const update_feed_setting feed = update_feed_url();
    EXPECT_EQ(feed.url.toString(), c.want);
    EXPECT_EQ(feed.invalid, c.want_invalid);
  }
  settings.remove("Preferences/UpdateFeedURL");
}

TEST(UpdateTexts, WhatTheWindowSaysForEachOutcome) {
  update_outcome available;
  available.result = kind::available;
  available.release.short_version = "2.3.0";
  available.release.notes = "<p>n</p>";
  update_outcome up_to_date;
  up_to_date.result = kind::up_to_date;
  const update_outcome failed = update_outcome::failure("Unable to download 'x': Host x not found.");

  update_texts t = update_texts::of(available, "2.2.0.609");
  EXPECT_EQ(t.heading, "A new version of Quorvane is available!");
  EXPECT_EQ(t.detail,
            "Quorvane 2.3.0 is now available (you have 2.2.0.609). Would you like to download it now?");
  EXPECT_TRUE(t.offer_download);
  EXPECT_TRUE(t.show_notes);
  EXPECT_FALSE(t.show_notes_link);

  t = update_texts::of(up_to_date, "2.2.0.609");
  EXPECT_EQ(t.heading, "You're up to date!");
  EXPECT_EQ(t.detail, "Quorvane 2.2.0.609 is currently the newest version available.");
  EXPECT_FALSE(t.offer_download);

  update_outcome system;
  system.result = kind::system_updates;
  t = update_texts::of(system, "2.2.0.609");
  EXPECT_EQ(t.heading, "Updates come with your system's software updates.");
  EXPECT_FALSE(t.detail.contains("http")) << t.detail.toStdString();
  EXPECT_FALSE(t.offer_download);
  EXPECT_FALSE(t.show_notes_link);

  t = update_texts::of(failed, "2.2.0.609");
  EXPECT_EQ(t.heading, "Unable to check for updates.");
  EXPECT_EQ(t.detail, "Unable to download 'x': Host x not found.");
  EXPECT_FALSE(t.offer_download);
  EXPECT_FALSE(t.show_notes);
}

// A checker over a client of its own, against feeds of a local server.
class UpdateCheck : public testing_support::console_home {
 protected:
  void SetUp() override {
    console_home::SetUp();
    server_.serve("/newer.xml", appcast("2.3.0.700", "2.3.0"));
    server_.serve("/equal.xml", appcast("2.2.0.609", "2.2.0"));
    server_.serve("/broken.xml", appcast("2.3.0.700", "2.3.0").left(150));
  }

  // Runs one check and waits for its outcome.
  update_outcome check() {
    std::optional<update_outcome> got;
    update_checker checker(client_);
    checker.check(console_version, [&got](const update_outcome& o) { got = o; });
    EXPECT_TRUE(QTest::qWaitFor([&] { return got.has_value(); }, 10000)) << "the check ended";
    return got.value_or(update_outcome::failure("no outcome"));
  }

  // Shows `window`, runs a check in it and waits for its end; false when it did not end.
  static bool check_in(CUpdateDialog& window) {
    window.show();
    window.start();
    return QTest::qWaitFor([&] { return !window.checking(); }, 10000);
  }

  local_http_server server_;
  http_client client_;
};

TEST_F(UpdateCheck, AgainstALocalServer) {
  const quint16 closed_port = testing_support::unused_port();
  const struct {
    const char* name;
    QString url;
    kind want;
    const char* want_text;  // the version offered, or part of the failure
  } cases[] = {
      {"newer feed", local_feed(server_, "/newer.xml"), kind::available, "2.3.0"},
      {"equal feed", local_feed(server_, "/equal.xml"), kind::up_to_date, "2.2.0"},
      {"broken feed", local_feed(server_, "/broken.xml"), kind::failed, "not a readable document"},
      {"no feed there", local_feed(server_, "/missing.xml"), kind::failed,
       "answered with the HTTP status 404"},
      {"no server", QStringLiteral("http://127.0.0.1:%1/a.xml").arg(closed_port), kind::failed,
       "could not be reached"},
      // nothing asked
      {"no feed set", QString(), kind::system_updates, ""},
      {"a feed that is no web address", QStringLiteral("ftp://127.0.0.1/a.xml"), kind::failed,
       "(UpdateFeedURL) is not an http or https address"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    set_feed_url(c.url);
    const update_outcome outcome = check();
    EXPECT_EQ(int(outcome.result), int(c.want)) << outcome.message.toStdString();
    const QString text = c.want == kind::failed ? outcome.message : outcome.release.short_version;
    EXPECT_TRUE(text.contains(c.want_text)) << "got " << text.toStdString() << ", want " << c.want_text;
    EXPECT_FALSE(outcome.message.contains(QStringLiteral("127.0.0.1"))) << "the message shows no address";
  }
  const qsizetype asked = server_.requests().size();
  set_feed_url(QString());
  EXPECT_EQ(int(check().result), int(kind::system_updates));
  EXPECT_EQ(server_.requests().size(), asked) << "without a feed nobody is asked";
  EXPECT_TRUE(server_.requests().last().headers.value("user-agent").startsWith("Quorvane/2 "));
}

TEST_F(UpdateCheck, WindowOffersTheNewerVersionAndOpensItsDownload) {
  set_feed_url(local_feed(server_, "/newer.xml"));
  CUpdateDialog window(client_);
  QList<QUrl> opened;
  window.set_url_opener([&opened](const QUrl& url) {
    opened.append(url);
    return true;
  });
  window.show();
  window.start();
  EXPECT_TRUE(window.checking());
  EXPECT_EQ(window.controls().find<QLabel>(CUpdateDialog::id_heading)->text(), "Checking for updates...");
  EXPECT_TRUE(window.controls().control(CUpdateDialog::id_busy)->isVisible());
  ASSERT_TRUE(QTest::qWaitFor([&] { return !window.checking(); }, 10000));

  EXPECT_EQ(window.controls().find<QLabel>(CUpdateDialog::id_heading)->text(),
            "A new version of Quorvane is available!");
  EXPECT_FALSE(window.controls().control(CUpdateDialog::id_busy)->isVisible());
  auto* notes = window.controls().find<QTextBrowser>(CUpdateDialog::id_notes);
  EXPECT_TRUE(notes->isVisible());
  EXPECT_EQ(notes->toPlainText(), "Faster printing.");
  auto* download = window.controls().find<QPushButton>(CUpdateDialog::id_download);
  ASSERT_TRUE(download->isVisible());
  QTest::mouseClick(download, Qt::LeftButton);
  EXPECT_EQ(opened, QList<QUrl>{QUrl("https://updates.tessaly.example/quorvane.deb")});
  EXPECT_FALSE(window.isVisible()) << "the window closes once the download is opened";
}

TEST_F(UpdateCheck, WindowSaysUpToDateOrWhyItFailed) {
  CUpdateDialog window(client_);
  window.show();
  set_feed_url(local_feed(server_, "/equal.xml"));
  ASSERT_TRUE(check_in(window));
  EXPECT_EQ(window.controls().find<QLabel>(CUpdateDialog::id_heading)->text(), "You're up to date!");
  EXPECT_EQ(window.controls().find<QLabel>(CUpdateDialog::id_detail)->text(),
            "Quorvane 2.2.0.609 is currently the newest version available.");
  EXPECT_FALSE(window.controls().control(CUpdateDialog::id_download)->isVisible());

  set_feed_url(local_feed(server_, "/broken.xml"));
  ASSERT_TRUE(check_in(window));
  EXPECT_EQ(window.controls().find<QLabel>(CUpdateDialog::id_heading)->text(),
            "Unable to check for updates.");
  EXPECT_TRUE(window.controls()
                  .find<QLabel>(CUpdateDialog::id_detail)
                  ->text()
                  .startsWith("The update information is not a readable document"));
  EXPECT_FALSE(window.controls().control(CUpdateDialog::id_download)->isVisible());
  EXPECT_FALSE(window.controls().control(CUpdateDialog::id_notes)->isVisible());
}

TEST_F(UpdateCheck, DownloadThatCannotBeOpenedIsSaidInTheWindow) {
  set_feed_url(local_feed(server_, "/newer.xml"));
  CUpdateDialog window(client_);
  window.set_url_opener([](const QUrl&) { return false; });
  ASSERT_TRUE(check_in(window));
  QTest::mouseClick(window.controls().find<QPushButton>(CUpdateDialog::id_download), Qt::LeftButton);
  EXPECT_TRUE(window.isVisible());
  EXPECT_EQ(
      window.controls().find<QLabel>(CUpdateDialog::id_detail)->text(),
      "Unable to open 'https://updates.tessaly.example/quorvane.deb': no web browser could be started.");
}

TEST_F(UpdateCheck, CommandRaisesTheOpenWindowInsteadOfASecond) {
  set_feed_url(local_feed(server_, "/equal.xml"));
  QPointer<CUpdateDialog> first = check_for_updates();
  ASSERT_TRUE(first);
  EXPECT_TRUE(first->isVisible());
  EXPECT_EQ(check_for_updates(), first.data());
  ASSERT_TRUE(QTest::qWaitFor([&] { return !first->checking(); }, 10000));
  EXPECT_EQ(first->outcome().result, kind::up_to_date);
  first->close();
  EXPECT_TRUE(QTest::qWaitFor([&] { return first.isNull(); }, testing_support::event_bound_ms))
      << "the window deletes itself when closed";
}

// --- Through a proxy that wants credentials, found through the system's settings
// ------------------------------

class UpdateCheckBehindProxy : public UpdateCheck {
 protected:
  void SetUp() override {
    UpdateCheck::SetUp();
    // The system says: this proxy for the console's endpoint. The feed's host is made up: only the proxy,
    // which sends every host to the local server, can reach it.
    setenv("https_proxy", QStringLiteral("http://127.0.0.1:%1").arg(proxy_.port()).toUtf8().constData(), 1);
    set_feed_url("http://feed.quorvane.test/newer.xml");
  }

  // Answers the client's prompts with `user` and `password` (declines when `user` is empty).
  void answer_prompts_with(QString user, QString password) {
    client_.set_credentials_callback(
        testing_support::answer_prompts_with(user, password, &prompts_, &prompted_for_));
  }

  local_http_proxy proxy_{"alice", "s3cret", server_.port()};
  int prompts_ = 0;
  QString prompted_for_;
};

TEST_F(UpdateCheckBehindProxy, CredentialsAskedOnceStoredAndSentWithoutAskingNextTime) {
  answer_prompts_with("alice", "s3cret");
  update_outcome outcome = check();
  EXPECT_EQ(int(outcome.result), int(kind::available)) << outcome.message.toStdString();
  EXPECT_EQ(prompts_, 1);
  EXPECT_EQ(prompted_for_, QStringLiteral("127.0.0.1:%1").arg(proxy_.port()));
  EXPECT_EQ(proxy_.forwarded(), 1);
  EXPECT_EQ(server_.requests().last().target, "/newer.xml");

  smart_ptr<network::proxy> stored =
      database::open_cursor<network::proxy>("uri", network::vendor_endpoint).current();
  ASSERT_TRUE(stored) << "the credentials are stored with the proxy's address";
  EXPECT_EQ(stored->host().narrow(), "127.0.0.1");
  EXPECT_EQ(stored->user().narrow(), "alice");
  EXPECT_EQ(stored->password().narrow(), "s3cret");

  outcome = check();
  EXPECT_EQ(int(outcome.result), int(kind::available)) << outcome.message.toStdString();
  EXPECT_EQ(prompts_, 1) << "the stored credentials are used without asking";
  EXPECT_EQ(proxy_.forwarded(), 2);
}

TEST_F(UpdateCheckBehindProxy, CancelGivesAPlainFailure) {
  answer_prompts_with("", "");
  const update_outcome outcome = check();
  EXPECT_EQ(int(outcome.result), int(kind::failed));
  EXPECT_EQ(outcome.message,
            QStringLiteral("The proxy server refused the update check: it asks for a username and password."))
      << "a sentence for the user, without the feed's address";
  EXPECT_EQ(prompts_, 1);
  EXPECT_EQ(proxy_.forwarded(), 0);
  EXPECT_TRUE(server_.requests().isEmpty());
}

// Answers each "HTTP Proxy Login" dialog that comes up, as a user would: types `user` and `password` and
// clicks "Connect", or clicks "Cancel" when `user` is empty. Counts the dialogs and keeps the last prompt.
class login_dialog_user : public QObject {
 public:
  login_dialog_user(QString user, QString password) : user_(std::move(user)), password_(std::move(password)) {
    connect(&poll_, &QTimer::timeout, this, [this] { answer(); });
    poll_.start(20);
  }

  int dialogs() const { return dialogs_; }
  const QString& prompt() const { return prompt_; }

 private:
  void answer() {
    auto* dialog = qobject_cast<CProxyLogin*>(QApplication::activeModalWidget());
    if (!dialog || dialog == answered_) return;
    answered_ = dialog;
    ++dialogs_;
    prompt_ = dialog->controls().find<QLabel>(CProxyLogin::id_prompt)->text();
    if (user_.isEmpty()) {
      QTest::mouseClick(dialog->controls().find<QPushButton>(CProxyLogin::id_cancel), Qt::LeftButton);
      return;
    }
    QTest::keyClicks(dialog->controls().find<QLineEdit>(CProxyLogin::id_user), user_);
    QTest::keyClicks(dialog->controls().find<QLineEdit>(CProxyLogin::id_password), password_);
    QTest::mouseClick(dialog->controls().find<QPushButton>(CProxyLogin::id_connect), Qt::LeftButton);
  }

  QString user_, password_;
  QTimer poll_;
  QPointer<CProxyLogin> answered_;
  int dialogs_ = 0;
  QString prompt_;
};

TEST_F(UpdateCheckBehindProxy, LoginDialogAppearsOnceAndConnectStoresTheCredentials) {
  login_dialog_user user("alice", "s3cret");
  CUpdateDialog window(client_);
  ASSERT_TRUE(check_in(window));
  EXPECT_EQ(int(window.outcome().result), int(kind::available)) << window.outcome().message.toStdString();
  EXPECT_EQ(user.dialogs(), 1);
  EXPECT_EQ(user.prompt(),
            QStringLiteral("The proxy server at 127.0.0.1:%1 requires a username and password.")
                .arg(proxy_.port()));
  smart_ptr<network::proxy> stored =
      database::open_cursor<network::proxy>("uri", network::vendor_endpoint).current();
  ASSERT_TRUE(stored);
  EXPECT_EQ(stored->user().narrow(), "alice");
  EXPECT_EQ(stored->password().narrow(), "s3cret");

  ASSERT_TRUE(check_in(window));
  EXPECT_EQ(int(window.outcome().result), int(kind::available)) << window.outcome().message.toStdString();
  EXPECT_EQ(user.dialogs(), 1) << "the next check does not ask again";
  EXPECT_EQ(proxy_.forwarded(), 2);
}

TEST_F(UpdateCheckBehindProxy, LoginDialogCancelledShowsAPlainFailure) {
  login_dialog_user user("", "");
  CUpdateDialog window(client_);
  ASSERT_TRUE(check_in(window));
  EXPECT_EQ(user.dialogs(), 1);
  EXPECT_EQ(window.controls().find<QLabel>(CUpdateDialog::id_heading)->text(),
            "Unable to check for updates.");
  EXPECT_TRUE(window.controls()
                  .find<QLabel>(CUpdateDialog::id_detail)
                  ->text()
                  .contains("asks for a username and password."));
  EXPECT_EQ(proxy_.forwarded(), 0);
}

}  // namespace
}  // namespace quorvane
