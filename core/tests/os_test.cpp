#include "core/os.h"

#include <memory>
#include <set>
#include <vector>

#include <gtest/gtest.h>

namespace quorvane {
namespace {

TEST(Utf, RoundTripsValidText) {
  const char* samples[] = {
      "", "plain", "caf\xc3\xa9", "\xe2\x82\xac 5", "emoji \xf0\x9f\x96\xa8 printer", "O'Brien 100% _x_"};
  for (const char* s : samples) {
    EXPECT_EQ(to_utf8(from_utf8(s)), s) << s;
  }
  EXPECT_EQ(from_utf8("\xf0\x9f\x96\xa8"), std::u16string(u"\U0001F5A8"));
  EXPECT_EQ(from_utf8("\xf0\x9f\x96\xa8").size(), 2u) << "a surrogate pair";
}

TEST(Utf, InvalidInputGivesAnEmptyResult) {
  const char* invalid_utf8[] = {
      "\xc3",              // truncated sequence
      "a\x80",             // stray continuation byte
      "\xc0\xaf",          // overlong "/"
      "\xed\xa0\x80",      // encoded surrogate
      "\xf4\x90\x80\x80",  // above U+10FFFF
      "\xff",
  };
  for (const char* s : invalid_utf8) EXPECT_TRUE(from_utf8(s).empty()) << testing::PrintToString(s);

  const std::u16string invalid_utf16[] = {std::u16string(1, char16_t(0xD800)),
                                          std::u16string(1, char16_t(0xDC00)),
                                          std::u16string{char16_t(0xD800), u'a'}};
  for (const auto& s : invalid_utf16) EXPECT_TRUE(to_utf8(s).empty());
}

TEST(WideString, NarrowViewAndConcatenation) {
  wide_string folder = wide_string::from_narrow("/home/\xc3\xa9");
  wide_string file = folder + u"/quorvane.db";
  EXPECT_EQ(file.narrow(), "/home/\xc3\xa9/quorvane.db");
  EXPECT_EQ(folder.narrow(), "/home/\xc3\xa9");
  EXPECT_TRUE(wide_string().narrow().empty());
}

TEST(HostName, IsStableAndNotEmpty) {
  const wide_string first = host_name();
  EXPECT_FALSE(first.empty());
  EXPECT_EQ(host_name(), first);
}

TEST(Uuid, NewUuidsAreDistinctLowerCaseVersion4) {
  std::set<std::string> seen;
  for (int i = 0; i < 100; ++i) {
    const std::string id = new_uuid();
    ASSERT_EQ(id.size(), 36u);
    for (size_t pos : {8, 13, 18, 23}) EXPECT_EQ(id[pos], '-') << id;
    EXPECT_EQ(id[14], '4') << id;
    EXPECT_EQ(id.find_first_not_of("0123456789abcdef-"), std::string::npos) << id;
    seen.insert(id);
  }
  EXPECT_EQ(seen.size(), 100u);
}

TEST(Uuid, ClockFallbackFollowsItsRecipe) {
  EXPECT_EQ(crc32("123456789", 9), 0xCBF43926u) << "the ISO 3309 check value";
  // counter 0x0001000200000000: CRC of its little-endian bytes, then the six fields.
  const uint64_t counter = 0x0001000200000000ull;
  unsigned char bytes[8];
  for (int i = 0; i < 8; ++i) bytes[i] = static_cast<unsigned char>(counter >> (8 * i));
  const uint32_t crc = crc32(bytes, 8);
  char want[64];
  snprintf(want, sizeof want, "%08x-%04x-%04x-%04x-%08x%04x", crc, crc >> 16, (crc & 0xFFFF) ^ (crc >> 16),
           2u, 0u, 0x2345u);
  const std::string got = uuid_from_clock(counter, 0x12345);
  EXPECT_EQ(got, want);
  EXPECT_EQ(got.size(), 36u);
  EXPECT_EQ(uuid_from_clock(0xFFFFFFFFull, 0).substr(24, 8), "00000001") << "low half / 0xF1130495";
}

TEST(Uri, ParsesItsParts) {
  const uri u("http://example.test:8080/a/b?x=1&y");
  EXPECT_EQ(u.scheme(), "http");
  EXPECT_EQ(u.host(), "example.test");
  EXPECT_EQ(u.port(), 8080);
  EXPECT_EQ(u.path(), "/a/b");
  ASSERT_EQ(u.query().size(), 2u);
  EXPECT_EQ(u.query()[0], (std::pair<std::string, std::string>{"x", "1"}));
  EXPECT_EQ(u.query()[1], (std::pair<std::string, std::string>{"y", ""}));
  EXPECT_EQ(u.text(), "http://example.test:8080/a/b?x=1&y");
}

TEST(Uri, DefaultPortsAndDecoding) {
  struct port_case {
    const char* text;
    int32_t port;
  };
  const port_case cases[] = {
      {"https://h/", 443},
      {"http://h", 80},
      {"ftp://h/", 0},
      {"HTTP://h/", 0},  // case-sensitive scheme
      {"socks5://proxy:1080", 1080},
  };
  for (const auto& c : cases) EXPECT_EQ(uri(c.text).port(), c.port) << c.text;

  const uri q("http://h/?name=a%20b+c&empty=");
  ASSERT_EQ(q.query().size(), 2u);
  EXPECT_EQ(q.query()[0].second, "a b c");
  EXPECT_EQ(q.query()[1].second, "");
}

TEST(Uri, TextThatIsNotAUriKeepsOnlyTheText) {
  for (const char* text : {"not a uri", "http://[bad", ""}) {
    const uri u(text);
    EXPECT_EQ(u.text(), text);
    EXPECT_TRUE(u.scheme().empty() && u.host().empty() && u.path().empty() && u.query().empty()) << text;
    EXPECT_EQ(u.port(), 0) << text;
  }
  EXPECT_EQ(uri().port(), 0);
}

TEST(Escape, KeepsUnreservedAndEncodesEverythingElse) {
  const std::pair<const char*, const char*> cases[] = {
      {"a b", "a%20b"},
      {"a/b", "a%2Fb"},
      {"AZaz09-._~", "AZaz09-._~"},
      {"line\n", "line%0A"},
      {"\r", "%0D"},
      {"caf\xc3\xa9", "caf%C3%A9"},
      {"guest@10.0.0.2", "guest%4010.0.0.2"},
      {"", ""},
  };
  for (const auto& [in, want] : cases) EXPECT_EQ(escape(in), want) << in;
}

TEST(Utf8Prefix, CutsAtTheLimitButNeverInsideACharacter) {
  const struct {
    const char* name;
    std::string text;
    size_t limit;
    std::string want;
  } cases[] = {
      {"short enough", "abc", 3, "abc"},
      {"plain cut", "abcdef", 4, "abcd"},
      {"cut inside a two-byte character", "ab\xc3\xa9", 3, "ab"},
      {"cut after a two-byte character", "ab\xc3\xa9z", 4, "ab\xc3\xa9"},
      {"cut inside a four-byte character", "a\xf0\x9f\x96\xa8", 4, "a"},
      {"limit zero", "abc", 0, ""},
  };
  for (const auto& c : cases) EXPECT_EQ(utf8_prefix(c.text, c.limit), c.want) << c.name;
}

TEST(ReleaseFreeMemory, GivesBackABurstOfFreedBlocksThatALaterBlockPins) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the address sanitizer's allocator keeps its own free lists";
#else
  // Blocks too small for their own mappings: freed, they stay in the heap below the block that follows.
  std::vector<std::unique_ptr<char[]> > burst;
  for (int i = 0; i < 20000; ++i) {
    burst.emplace_back(new char[512]);
    burst.back()[0] = static_cast<char>(i);
  }
  std::unique_ptr<char[]> pin(new char[512]);
  pin[0] = 1;
  burst.clear();
  EXPECT_TRUE(release_free_memory()) << "about 10 MB were free";
#endif
}

}  // namespace
}  // namespace quorvane
