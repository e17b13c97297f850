#include "ui/updates/update_feed.h"

#include <gtest/gtest.h>

#include "ui/http/tests/http_test_support.h"
#include "ui/updates/tests/appcast_samples.h"

namespace quorvane {
namespace {

using testing_support::appcast;

TEST(CompareVersions, OrdersAsAppcastsMeanIt) {
  const struct {
    const char* a;
    const char* b;
    int want;
  } cases[] = {
      // equal
      {"2.2.0.609", "2.2.0.609", 0},
      {"2.2.0.0609", "2.2.0.609", 0},
      {" 2.2 ", "2.2", 0},
      // numbers compare as numbers, however long
      {"2.3.0", "2.2.0.609", 1},
      {"2.2.0.610", "2.2.0.609", 1},
      {"2.2.0.99", "2.2.0.609", -1},
      {"2.10", "2.9", 1},
      {"2.2.0.123456789012345678901", "2.2.0.123456789012345678900", 1},
      // a longer version: newer when a number follows, older when text (a pre-release) does
      {"1.0.1", "1.0", 1},
      {"1.0b1", "1.0", -1},
      {"1.0-rc1", "1.0", -1},
      {"1.0rc2", "1.0rc10", -1},
      {"1.0a", "1.0b", -1},
      {"", "1", -1},
  };
  for (const auto& c : cases) {
    const int got = compare_versions(c.a, c.b);
    EXPECT_EQ((got > 0) - (got < 0), c.want)
        << c.a << " vs " << c.b << ": got " << got << ", want " << c.want;
    const int back = compare_versions(c.b, c.a);
    EXPECT_EQ((back > 0) - (back < 0), -c.want) << c.b << " vs " << c.a << " (reversed)";
  }
}

constexpr char current[] = "2.2.0.609";

TEST(UpdateFeed, OutcomeOfEachKindOfFeed) {
  const QByteArray windows_only =
      R"(<rss version="2.0" xmlns:sparkle="http://www.andymatuschak.org/xml-namespaces/sparkle">
<channel><item><title>Win</title>
<enclosure url="https://u.example/q.exe" sparkle:os="windows" sparkle:version="9.0.0.1"/>
</item></channel></rss>)";
  const QByteArray version_elements =
      R"(<rss version="2.0" xmlns:sparkle="http://www.andymatuschak.org/xml-namespaces/sparkle">
<channel><item><title>Q</title><sparkle:version>2.4.0.800</sparkle:version>
<sparkle:shortVersionString>2.4</sparkle:shortVersionString>
<sparkle:releaseNotesLink>https://u.example/notes.html</sparkle:releaseNotesLink>
<enclosure url="https://u.example/q.deb" sparkle:os="linux"/>
</item></channel></rss>)";
  const QByteArray several_items =
      R"(<rss version="2.0" xmlns:sparkle="http://www.andymatuschak.org/xml-namespaces/sparkle">
<channel>
<item><enclosure url="https://u.example/old.deb" sparkle:version="2.1.0.500"/></item>
<item><enclosure url="https://u.example/new.deb" sparkle:version="2.5.0.900" sparkle:shortVersionString="2.5"/></item>
<item><enclosure url="https://u.example/mid.deb" sparkle:version="2.3.0.700"/></item>
</channel></rss>)";
  const QByteArray missing_enclosure =
      R"(<rss version="2.0" xmlns:sparkle="http://www.andymatuschak.org/xml-namespaces/sparkle">
<channel><item><title>Quorvane 9</title><description>no file</description></item></channel></rss>)";
  const QByteArray unsafe_download = appcast("3.0.0.1", "3.0", "", "javascript:alert(1)");
  const QByteArray undeclared_prefix =
      R"(<rss version="2.0"><channel><item><enclosure url="https://u.example/q.deb" sparkle:version="3.0"/></item></channel></rss>)";

  using kind = update_outcome::kind;
  const struct {
    const char* name;
    QByteArray xml;
    kind want;
    const char* want_version;  // the newest release's version, or part of the error
  } cases[] = {
      // a release
      {"newer", appcast("2.3.0.700", "2.3.0"), kind::available, "2.3.0.700"},
      {"equal", appcast("2.2.0.609", "2.2.0"), kind::up_to_date, "2.2.0.609"},
      {"older", appcast("2.1.0.500", "2.1.0"), kind::up_to_date, "2.1.0.500"},
      {"versions as elements", version_elements, kind::available, "2.4.0.800"},
      {"the newest of several items", several_items, kind::available, "2.5.0.900"},
      // no usable release
      {"missing enclosure", missing_enclosure, kind::failed, "lists no release"},
      {"another system only", windows_only, kind::failed, "lists no release"},
      {"download that is not a web address", unsafe_download, kind::failed, "lists no release"},
      // not a feed
      {"broken", appcast("2.3.0.700", "2.3.0").left(200), kind::failed, "not a readable document"},
      {"empty", "", kind::failed, "not a readable document"},
      {"an HTML page", "<html><body>Hello</body></html>", kind::failed, "not an RSS feed"},
      {"undeclared sparkle prefix", undeclared_prefix, kind::failed, "not a readable document"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const update_feed feed = update_feed::parse(c.xml);
    const update_outcome outcome = update_outcome::from_feed(feed, current);
    EXPECT_EQ(int(outcome.result), int(c.want));
    if (c.want == kind::failed) {
      EXPECT_FALSE(feed.newest);
      EXPECT_TRUE(outcome.message.contains(c.want_version))
          << "got " << outcome.message.toStdString() << ", want " << c.want_version;
    } else {
      ASSERT_TRUE(feed.newest);
      EXPECT_EQ(outcome.release.version, c.want_version);
      EXPECT_TRUE(outcome.message.isEmpty());
    }
  }
}

TEST(UpdateFeed, ReleaseCarriesItsTextsAndAddresses) {
  const update_feed feed = update_feed::parse(appcast("2.3.0.700", "2.3.0", "<p>Faster printing.</p>"));
  ASSERT_TRUE(feed.newest);
  EXPECT_EQ(feed.newest->short_version, "2.3.0");
  EXPECT_EQ(feed.newest->title, "Quorvane 2.3.0");
  EXPECT_EQ(feed.newest->notes, "<p>Faster printing.</p>");
  EXPECT_EQ(feed.newest->download, QUrl("https://updates.tessaly.example/quorvane.deb"));
  EXPECT_TRUE(feed.newest->notes_link.isEmpty());
}

}  // namespace
}  // namespace quorvane
