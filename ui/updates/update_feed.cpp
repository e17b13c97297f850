#include "ui/updates/update_feed.h"

#include <QCoreApplication>
#include <QStringView>
#include <QXmlStreamReader>

#include <vector>

namespace quorvane {
namespace {

// A run of digits or of other characters of a version text; separators are not kept.
struct version_part {
  bool number;
  QString text;  // digits without leading zeros ("" for zero), or the text itself
};

bool is_separator(QChar c) {
  return c == '.' || c == '-' || c == '_' || c == '+' || c.isSpace();
}

std::vector<version_part> version_parts(const QString& version) {
  std::vector<version_part> parts;
  for (qsizetype i = 0; i < version.size();) {
    const QChar c = version[i];
    if (is_separator(c)) {
      ++i;
      continue;
    }
    const bool digits = c.isDigit();
    qsizetype end = i;
    while (end < version.size() && !is_separator(version[end]) && version[end].isDigit() == digits) ++end;
    QString text = version.mid(i, end - i);
    if (digits) {
      qsizetype zeros = 0;
      while (zeros < text.size() && text[zeros] == '0') ++zeros;
      text.remove(0, zeros);
    }
    parts.push_back({digits, text});
    i = end;
  }
  return parts;
}

// Digit runs of any length compare as numbers: by length once leading zeros are gone, then digit by digit.
int compare_numbers(const QString& a, const QString& b) {
  if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
  return a.compare(b);
}

}  // namespace

int compare_versions(const QString& a, const QString& b) {
  const std::vector<version_part> pa = version_parts(a), pb = version_parts(b);
  const size_t shared = std::min(pa.size(), pb.size());
  for (size_t i = 0; i < shared; ++i) {
    if (pa[i].number != pb[i].number) return pa[i].number ? 1 : -1;
    const int order = pa[i].number ? compare_numbers(pa[i].text, pb[i].text)
                                   : pa[i].text.compare(pb[i].text, Qt::CaseInsensitive);
    if (order != 0) return order < 0 ? -1 : 1;
  }
  if (pa.size() == pb.size()) return 0;
  // The longer version decides by what follows: a number makes it newer, text (a pre-release tag) older.
  const bool a_longer = pa.size() > pb.size();
  const bool next_is_number = a_longer ? pa[shared].number : pb[shared].number;
  return (a_longer == next_is_number) ? 1 : -1;
}

namespace {

bool is_web_url(const QUrl& url) {
  return url.isValid() && (url.scheme() == "https" || url.scheme() == "http") && !url.host().isEmpty();
}

// Reads one <item> (the reader stands on its start); returns the release when the item is usable.
std::optional<update_release> read_item(QXmlStreamReader& xml) {
  update_release release;
  bool has_enclosure = false;
  bool other_os = false;
  QString element_version, element_short_version;
  while (xml.readNextStartElement()) {
    const bool sparkle = xml.namespaceUri() == QLatin1String(sparkle_namespace);
    const QStringView name = xml.name();
    if (xml.namespaceUri().isEmpty() && name == u"title") {
      release.title = xml.readElementText(QXmlStreamReader::IncludeChildElements).trimmed();
    } else if (xml.namespaceUri().isEmpty() && name == u"description") {
      release.notes = xml.readElementText(QXmlStreamReader::IncludeChildElements).trimmed();
    } else if (sparkle && name == u"releaseNotesLink") {
      const QUrl link(xml.readElementText().trimmed());
      if (is_web_url(link)) release.notes_link = link;
    } else if (sparkle && name == u"version") {
      element_version = xml.readElementText().trimmed();
    } else if (sparkle && name == u"shortVersionString") {
      element_short_version = xml.readElementText().trimmed();
    } else if (xml.namespaceUri().isEmpty() && name == u"enclosure" && !has_enclosure) {
      const QXmlStreamAttributes attributes = xml.attributes();
      const QString os =
          attributes.value(QLatin1String(sparkle_namespace), QLatin1String("os")).toString().trimmed();
      if (!os.isEmpty() && os.compare(u"linux", Qt::CaseInsensitive) != 0) {
        other_os = true;
      } else {
        has_enclosure = true;
        other_os = false;
        release.download = QUrl(attributes.value(QLatin1String("url")).toString().trimmed());
        release.version =
            attributes.value(QLatin1String(sparkle_namespace), QLatin1String("version")).toString().trimmed();
        release.short_version =
            attributes.value(QLatin1String(sparkle_namespace), QLatin1String("shortVersionString"))
                .toString()
                .trimmed();
      }
      xml.skipCurrentElement();
    } else {
      xml.skipCurrentElement();
    }
  }
  if (!has_enclosure || other_os) return std::nullopt;
  // Newer feeds carry the versions as elements of the item instead of attributes of the enclosure.
  if (release.version.isEmpty()) release.version = element_version;
  if (release.short_version.isEmpty()) release.short_version = element_short_version;
  if (release.version.isEmpty()) release.version = release.short_version;
  if (release.short_version.isEmpty()) release.short_version = release.version;
  if (release.version.isEmpty() || !is_web_url(release.download)) return std::nullopt;
  return release;
}

}  // namespace

update_feed update_feed::parse(const QByteArray& bytes) {
  update_feed feed;
  QXmlStreamReader xml(bytes);
  if (!xml.readNextStartElement() || xml.name() != u"rss") {
    feed.error = xml.hasError()
                     ? QCoreApplication::translate("quorvane::update_feed",
                                                   "The update information is not a readable document (%1).")
                           .arg(xml.errorString())
                     : QCoreApplication::translate("quorvane::update_feed",
                                                   "The update information is not an RSS feed.");
    return feed;
  }
  while (xml.readNextStartElement()) {
    if (xml.name() != u"channel") {
      xml.skipCurrentElement();
      continue;
    }
    while (xml.readNextStartElement()) {
      if (xml.name() != u"item") {
        xml.skipCurrentElement();
        continue;
      }
      std::optional<update_release> release = read_item(xml);
      if (release && (!feed.newest || compare_versions(release->version, feed.newest->version) > 0))
        feed.newest = std::move(release);
    }
  }
  // A document cut short or otherwise broken is not trusted, even when an item was read before the break.
  if (xml.hasError()) {
    feed.newest.reset();
    feed.error = QCoreApplication::translate("quorvane::update_feed",
                                             "The update information is not a readable document (%1).")
                     .arg(xml.errorString());
  } else if (!feed.newest) {
    feed.error = QCoreApplication::translate("quorvane::update_feed",
                                             "The update information lists no release for this system.");
  }
  return feed;
}

update_outcome update_outcome::from_feed(const update_feed& feed, const QString& current) {
  if (!feed.newest) return failure(feed.error);
  update_outcome outcome;
  outcome.release = *feed.newest;
  outcome.result = compare_versions(feed.newest->version, current) > 0 ? kind::available : kind::up_to_date;
  return outcome;
}

update_outcome update_outcome::failure(QString message) {
  update_outcome outcome;
  outcome.result = kind::failed;
  outcome.message = std::move(message);
  return outcome;
}

}  // namespace quorvane
