#include "ui/updates/update_check.h"

#include <QCoreApplication>
#include <QPointer>
#include <QSettings>

#include "ui/http/http_client.h"
#include "ui/http/proxy_resolution.h"

namespace quorvane {

QUrl update_feed_url() {
  const QString configured =
      QSettings("Tessaly Software", "Quorvane").value("Preferences/UpdateFeedURL").toString().trimmed();
  const QUrl url(configured, QUrl::StrictMode);
  if (!configured.isEmpty() && url.isValid() && (url.scheme() == "https" || url.scheme() == "http") &&
      !url.host().isEmpty())
    return url;
  return QUrl(QString::fromLatin1(default_update_feed_url));
}

update_checker::update_checker(http_client& client, QObject* parent) : QObject(parent), client_(client) {}

void update_checker::check(const QString& current, std::function<void(const update_outcome&)> done) {
  const int generation = ++generation_;
  const QUrl url = update_feed_url();
  // The proxy is resolved anew for every check, so that a change of the preferences takes effect at once.
  resolve_proxy_async(this, [this, generation, url, current, done](smart_ptr<network::proxy> proxy) {
    if (generation != generation_) return;
    client_.set_proxy(std::move(proxy));
    QPointer<update_checker> self(this);
    client_.get(url, [self, generation, current, done](const http_result& result) {
      if (!self || generation != self->generation_) return;
      done(result.ok() ? update_outcome::from_feed(update_feed::parse(result.body), current)
                       : update_outcome::failure(result.error));
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
    case update_outcome::kind::failed:
      break;
  }
  return {QCoreApplication::translate("quorvane::update_texts", "Unable to check for updates."),
          outcome.message, false, false, false};
}

}  // namespace quorvane
