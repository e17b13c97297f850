// Appcast documents for the update tests.
#pragma once

#include <QByteArray>

namespace quorvane::testing_support {

/// A well-formed appcast with one item offering `version` (short form `short_version`) for download at
/// `download`, with `notes` as its description when not empty.
inline QByteArray appcast(const QByteArray& version, const QByteArray& short_version,
                          const QByteArray& notes = "<p>Faster printing.</p>",
                          const QByteArray& download = "https://updates.tessaly.example/quorvane.deb") {
  return R"(<?xml version="1.0" encoding="utf-8"?>
<rss version="2.0" xmlns:sparkle="http://www.andymatuschak.org/xml-namespaces/sparkle">
  <channel>
    <title>Quorvane</title>
    <item>
      <title>Quorvane )" +
         short_version + "</title>\n" +
         (notes.isEmpty() ? QByteArray() : "<description><![CDATA[" + notes + "]]></description>\n") +
         R"(      <enclosure url=")" + download + R"(" sparkle:version=")" + version +
         R"(" sparkle:shortVersionString=")" + short_version +
         R"(" length="1024" type="application/octet-stream"/>
    </item>
  </channel>
</rss>
)";
}

}  // namespace quorvane::testing_support
