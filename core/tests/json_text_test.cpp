#include "core/json_text.h"

#include <string>

#include <gtest/gtest.h>

namespace quorvane {
namespace {

TEST(JsonText, CompactFormHasNoSpacesKeyOrderEscapedNonAsciiAndOneLineFeed) {
  Json::Value value(Json::objectValue);
  value["b"] = 1;
  value["a"]["c"] = "é";
  value["a"]["list"].append(true);
  EXPECT_EQ(compact_json(value), "{\"a\":{\"c\":\"\\u00e9\",\"list\":[true]},\"b\":1}\n");
}

TEST(JsonText, ReadsWhatItWroteAndAllowsComments) {
  Json::Value value;
  ASSERT_TRUE(parse_json("{\"a\": [1, 2] /* kept out */, \"b\": null}", value));
  EXPECT_EQ(compact_json(value), "{\"a\":[1,2],\"b\":null}\n");
  Json::Value again;
  ASSERT_TRUE(parse_json(compact_json(value), again));
  EXPECT_EQ(again, value);
}

TEST(JsonText, TextThatIsNotJsonOrNestsTooDeepFailsWithNull) {
  const std::string deep = std::string(100000, '[') + std::string(100000, ']');
  for (const std::string& text : {std::string("{\"a\":"), std::string("nope"), deep}) {
    Json::Value value = 5;
    EXPECT_FALSE(parse_json(text, value)) << text.substr(0, 20);
    EXPECT_TRUE(value.isNull()) << text.substr(0, 20);
  }
}

TEST(JsonText, NulTextIsFoundOnlyInATextMemberOfThatName) {
  Json::Value object(Json::objectValue);
  object["cut"] = std::string("/tmp\0/etc/passwd", 16);
  object["trailing"] = std::string("a\0", 2);
  object["plain"] = "/tmp/a.pdf";
  object["empty"] = "";
  object["number"] = 0;
  object["list"].append(std::string("\0", 1));
  Json::Value not_object(Json::arrayValue);
  not_object.append(std::string("\0", 1));
  struct nul_case {
    const char* name;
    const Json::Value& value;
    const char* member;
    bool want;
  } cases[] = {
      // Found
      {"a NUL inside", object, "cut", true},
      {"a NUL at the end", object, "trailing", true},
      // Not found
      {"plain text", object, "plain", false},
      {"empty text", object, "empty", false},
      {"a number", object, "number", false},
      {"text inside a list", object, "list", false},
      {"no such member", object, "missing", false},
      {"not an object", not_object, "0", false},
      {"null", Json::Value::nullSingleton(), "cut", false},
  };
  for (const nul_case& c : cases) {
    const bool got = has_nul_text(c.value, c.member);
    EXPECT_EQ(got, c.want) << c.name << ": got " << got << ", want " << c.want;
  }
}

TEST(JsonText, AStringMemberIsTheTextOfThatMemberOrEmpty) {
  Json::Value object(Json::objectValue);
  object["name"] = "office";
  object["number"] = 7;
  Json::Value list(Json::arrayValue);
  list.append("office");
  EXPECT_EQ(string_member(object, "name"), "office");
  EXPECT_EQ(string_member(object, "number"), "");
  EXPECT_EQ(string_member(object, "missing"), "");
  // Values whose const operator[] would throw.
  EXPECT_EQ(string_member(list, "name"), "");
  EXPECT_EQ(string_member(Json::Value("office"), "name"), "");
}

TEST(JsonText, AnIntMemberIsThatMembersIntegerOrTheFallback) {
  Json::Value object(Json::objectValue);
  object["state"] = 9;
  object["negative"] = -2;
  object["text"] = "9";
  object["large"] = Json::Int64{1} << 40;
  object["fraction"] = 1.5;
  Json::Value list(Json::arrayValue);
  list.append(9);
  const Json::Value text("office");
  const struct {
    const char* name;
    const Json::Value& value;
    const char* member;
    int32_t want;
  } cases[] = {
      {"an integer", object, "state", 9},
      {"a negative integer", object, "negative", -2},
      {"text", object, "text", -1},
      {"beyond 32 bits", object, "large", -1},
      {"a fraction", object, "fraction", -1},
      {"missing", object, "missing", -1},
      // Values whose const operator[] would throw.
      {"a list", list, "state", -1},
      {"text instead of an object", text, "state", -1},
  };
  for (const auto& c : cases) {
    const int32_t got = int_member(c.value, c.member, /*fallback=*/-1);
    EXPECT_EQ(got, c.want) << c.name << ": got " << got << ", want " << c.want;
  }
  EXPECT_EQ(int_member(object, "missing"), 0) << "the fallback by default";
}

}  // namespace
}  // namespace quorvane
