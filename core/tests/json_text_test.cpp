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

}  // namespace
}  // namespace quorvane
