// The update feed: an appcast (RSS whose items carry an enclosure with sparkle-style version attributes),
// read into the newest release it offers and compared with the running version.
#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>

#include <optional>

namespace quorvane {

/// The namespace of the appcast's version attributes and elements.
inline constexpr char sparkle_namespace[] = "http://www.andymatuschak.org/xml-namespaces/sparkle";

/// Orders two version texts the way appcasts mean them: runs of digits compare as numbers, runs of other
/// characters as text, "." and other separators only separate. A number is newer than text in the same
/// place, and a version that goes on with text after the other ended is older ("1.0b1" < "1.0"); one that
/// goes on with a number is newer ("1.0.1" > "1.0"). Returns < 0, 0 or > 0 as `a` is older than, equal to
/// or newer than `b`.
int compare_versions(const QString& a, const QString& b);

/// One release of the feed.
struct update_release {
  QString version;        ///< the enclosure's sparkle:version (the build version compared)
  QString short_version;  ///< sparkle:shortVersionString, or the version when the feed gives none
  QString title;          ///< the item's title
  QUrl download;          ///< the enclosure's url (http or https)
  QString notes;          ///< the item's description (HTML or text); may be empty
  QUrl notes_link;        ///< sparkle:releaseNotesLink (http or https); may be empty
};

/// What reading a feed gave: the newest release for this platform, or why there is none.
struct update_feed {
  std::optional<update_release> newest;  ///< empty when the feed is unreadable or lists no usable release
  QString error;                         ///< a plain sentence when `newest` is empty

  /// Reads `xml`. Items without an enclosure, without a version, with a download that is not http(s), or
  /// whose enclosure names another operating system (sparkle:os other than "linux") are passed over. A
  /// document that is not well-formed RSS, or without any usable release, gives an error.
  static update_feed parse(const QByteArray& xml);
};

/// The outcome of one update check.
struct update_outcome {
  /// `system_updates`: no feed is configured, the system's software updates bring new versions.
  enum class kind { up_to_date, available, failed, system_updates };
  kind result = kind::failed;
  update_release release;  ///< the newest release (up_to_date and available)
  QString message;         ///< why the check failed (failed)

  /// Compares the newest release of a parsed feed with `current`.
  static update_outcome from_feed(const update_feed& feed, const QString& current);
  /// A failed check with `message`.
  static update_outcome failure(QString message);
};

}  // namespace quorvane
