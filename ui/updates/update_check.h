// One update check: the proxy resolved, the feed fetched over the console's HTTP client, read and compared
// with the running version; and the texts a window shows for each outcome.
#pragma once

#include <QObject>
#include <QString>
#include <QUrl>

#include <functional>

#include "ui/updates/update_feed.h"

namespace quorvane {

class http_client;

/// The update feed the preference "UpdateFeedURL" (group "Preferences") names. Installed from a package, the
/// console gets its new versions through the system's software updates, so there is no feed unless one is
/// set.
struct update_feed_setting {
  QUrl url;              ///< the feed when the preference holds an http or https URL; empty otherwise
  bool invalid = false;  ///< the preference is set to something else than an http or https URL
};

/// Reads the preference "UpdateFeedURL" (blank counts as unset).
update_feed_setting update_feed_url();

/// Checks the feed for a newer version over an HTTP client. One check at a time per checker.
class update_checker : public QObject {
 public:
  /// A checker that sends its requests through `client`, which must outlive it.
  explicit update_checker(http_client& client, QObject* parent = nullptr);

  /// Resolves the proxy, hands it to the client, fetches the feed of `update_feed_url()` and calls `done`
  /// once, on this thread's event loop, with the outcome compared against `current`; without a feed it asks
  /// nobody and reports `system_updates`, with a preference that is no web address a failure saying so. A
  /// failure's message is a sentence for the user, without the feed's address. Nothing is called once the
  /// checker is destroyed.
  void check(const QString& current, std::function<void(const update_outcome&)> done);

 private:
  http_client& client_;
  int generation_ = 0;  // a newer check makes the callbacks of an older one stale
};

/// What the update window says for an outcome.
struct update_texts {
  QString heading;       ///< the first line, in bold
  QString detail;        ///< the sentence below it
  bool offer_download;   ///< the Download button is shown
  bool show_notes;       ///< the release notes are shown
  bool show_notes_link;  ///< the link to the release notes is shown

  /// The texts while a check runs.
  static update_texts checking();
  /// The texts for `outcome`, the running version being `current`.
  static update_texts of(const update_outcome& outcome, const QString& current);
};

}  // namespace quorvane
