#include "ui/updates/update_check.h"

#include <QCoreApplication>
#include <QPointer>
#include <QSettings>
#include <QTimer>

#include "ui/http/http_client.h"
#include "ui/http/proxy_resolution.h"

namespace quorvane {

update_feed_setting update_feed_url() {
  const QString configured =
      QSettings("Tessaly Software", "Quorvane").value("Preferences/UpdateFeedURL").toString().trimmed();
  if (configured.isEmpty()) return {};
  const QUrl url(configured, QUrl::StrictMode);
  if (url.isValid() && (url.scheme() == "https" || url.scheme() == "http") && !url.host().isEmpty())
    return {url, false};
  return {QUrl(), true};
}

namespace {

// Why fetching the feed failed, told without its address (the HTTP client's log line has the details).
QString fetch_failure(const http_result& result) {
  if (result.status == 407) {
    return QCoreApplication::translate(
        "quorvane::update_checker",
        "The proxy server refused the update check: it asks for a username and "
        "password.");
  }
  if (result.status != 0) {
    return QCoreApplication::translate("quorvane::update_checker",
                                       "The update server answered with the HTTP status %1.")
        .arg(result.status);
  }
  return QCoreApplication::translate("quorvane::update_checker",
                                     "The update server could not be reached. Check the network connection, "
                                     "or try again later.");
}

}  // namespace

update_checker::update_checker(http_client& client, QObject* parent) : QObject(parent), client_(client) {}

void update_checker::check(const QString& current, std::function<void(const update_outcome&)> done) {
  const int generation = ++generation_;
  const update_feed_setting feed = update_feed_url();
  if (feed.url.isEmpty()) {
    // Nothing to ask: said from the event loop like every other outcome.
    update_outcome outcome;
    outcome.result = update_outcome::kind::system_updates;
    if (feed.invalid) {
      outcome = update_outcome::failure(QCoreApplication::translate(
          "quorvane::update_checker",
          "The update address set in the preferences (UpdateFeedURL) is not an http "
          "or https address."));
    }
    QTimer::singleShot(0, this, [this, generation, outcome, done] {
      if (generation == generation_) done(outcome);
    });
    return;
  }
  const QUrl url = feed.url;
  // The proxy is resolved anew for every check, so that a change of the preferences takes effect at once.
  resolve_proxy_async(this, [this, generation, url, current, done](smart_ptr<network::proxy> proxy) {
    if (generation != generation_) return;
    client_.set_proxy(std::move(proxy));
    QPointer<update_checker> self(this);
    client_.get(url, [self, generation, current, done](const http_result& result) {
      if (!self || generation != self->generation_) return;
      done(result.ok() ? update_outcome::from_feed(update_feed::parse(result.body), current)
                       : update_outcome::failure(fetch_failure(result)));
    });
  });
}

update_texts update_texts::checking() {
  return {QCoreApplication::translate("quorvane::update_texts", "Checking for updates..."),
          QCoreApplication::translate("quorvane::update_texts",
                                      "Asking the update server for the newest version."),
          false, false, false};
}

update_texts update_texts::of(const update_outcome& outcome, const QString& current) {
  switch (outcome.result) {
    case update_outcome::kind::up_to_date:
      return {QCoreApplication::translate("quorvane::update_texts", "You're up to date!"),
              QCoreApplication::translate("quorvane::update_texts",
                                          "Quorvane %1 is currently the newest version available.")
                  .arg(current),
              false, false, false};
    case update_outcome::kind::available:
      return {
          QCoreApplication::translate("quorvane::update_texts", "A new version of Quorvane is available!"),
          QCoreApplication::translate(
              "quorvane::update_texts",
              "Quorvane %1 is now available (you have %2). Would you like to download it now?")
              .arg(outcome.release.short_version, current),
          true, !outcome.release.notes.isEmpty(), !outcome.release.notes_link.isEmpty()};
    case update_outcome::kind::system_updates:
      return {
          QCoreApplication::translate("quorvane::update_texts",
                                      "Updates come with your system's software updates."),
          QCoreApplication::translate("quorvane::update_texts",
                                      "Quorvane was installed as a package: the system's software updates "
                                      "bring its new versions, like those of your other programs."),
          false, false, false};
    case update_outcome::kind::failed:
      break;
  }
  return {QCoreApplication::translate("quorvane::update_texts", "Unable to check for updates."),
          outcome.message, false, false, false};
}

}  // namespace quorvane
