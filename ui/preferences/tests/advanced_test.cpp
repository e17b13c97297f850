#include "ui/preferences/advanced.h"

#include <json/writer.h>

#include <gtest/gtest.h>

namespace quorvane {
namespace {

std::string compact(const Json::Value& value) {
  Json::StreamWriterBuilder builder;
  builder["indentation"] = "";
  return Json::writeString(builder, value);
}

TEST(AdvancedPreferences, TheSampleNamesTheTickedParts) {
  const struct {
    int32_t flags;
    const char* want;
  } cases[] = {
      {0, "Sample: doc.pdf"},
      {1, "Sample: doc+johndoe.pdf"},
      {2, "Sample: doc+192.168.1.10.pdf"},
      {4, "Sample: doc+12-34-56-78-9A-BC.pdf"},
      {7, "Sample: doc+johndoe+192.168.1.10+12-34-56-78-9A-BC.pdf"},
      {0x18, "Sample: doc.pdf"},  // bits the page does not show change nothing
  };
  for (const auto& c : cases) {
    EXPECT_EQ(advanced_preferences::sample_text(c.flags).toStdString(), c.want) << c.flags;
  }
}

TEST(AdvancedPreferences, AClickSetsOrClearsOneBitAndKeepsTheOthers) {
  advanced_preferences from_zero(0);
  EXPECT_EQ(compact(from_zero.set(advanced_preferences::device_ip_address, true)),
            R"({"filenameGenerationFlags":2})");
  EXPECT_EQ(from_zero.flags(), 2);

  advanced_preferences high_bits(0x18 | 1);
  EXPECT_EQ(compact(high_bits.set(advanced_preferences::device_user, false)),
            R"({"filenameGenerationFlags":24})");
  EXPECT_EQ(compact(high_bits.set(advanced_preferences::device_ethernet_address, true)),
            R"({"filenameGenerationFlags":28})");
  EXPECT_TRUE(high_bits.has(advanced_preferences::device_ethernet_address));
  EXPECT_FALSE(high_bits.has(advanced_preferences::device_user));
}

TEST(AdvancedPreferences, TheLoggingMenuGivesLevelsAndNoChoiceGivesNone) {
  const struct {
    std::optional<int> command;
    int32_t level;
    const char* name;
  } cases[] = {
      {32826, 1, "Error"}, {32827, 2, "Warning"},     {32828, 3, "Information"}, {32829, 10, "Verbose"},
      {32830, 0, "None"},  {std::nullopt, 0, "None"}, {12345, 0, "None"},
  };
  for (const auto& c : cases) {
    const int32_t level = chosen_log_level(c.command);
    EXPECT_EQ(level, c.level) << c.name;
    EXPECT_EQ(log_level_name(level).toStdString(), c.name);
  }
  EXPECT_EQ(log_level_name(5), QStringLiteral("None")) << "any other level is shown as None";
  EXPECT_EQ(compact(log_level_attributes(10)), R"({"logLevel":10})");
}

}  // namespace
}  // namespace quorvane
