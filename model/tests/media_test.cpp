#include "model/media.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace quorvane::model {
namespace {

TEST(DefaultTables, FormatsInOrder) {
  const std::vector<std::string> want = {
      "application/octet-stream", "application/pdf", "image/jpeg", "image/png",
      "image/pwg-raster",         "image/urf"};
  EXPECT_EQ(default_formats(), want);
}

TEST(DefaultTables, BuiltinMediaHoldsElevenSizesBuiltOnce) {
  struct {
    const char* name;
    const char* displayName;
    int32_t klass, width, height;
  } want[] = {
      {"iso_a4_210x297mm", "A4", 0, 21000, 29700},
      {"iso_a5_148x210mm", "A5", 1, 14800, 21000},
      {"iso_a6_105x148mm", "A6", 1, 10500, 14800},
      {"iso_dl_110x220mm", "DL", 2, 11000, 22000},
      {"na_legal_8.5x14in", "Legal", 0, 21590, 35560},
      {"na_letter_8.5x11in", "Letter", 0, 21590, 27940},
      {"na_number-10_4.125x9.5in", "#10 (Envelope)", 2, 10477, 24130},
      {"na_index-3x5_3x5in", "3x5 (Photo)", 1, 7630, 12700},
      {"oe_photo-l_3.5x5in", "L (Photo)", 1, 8890, 12700},
      {"na_index-4x6_4x6in", "4x6 (Photo)", 1, 10160, 15240},
      {"na_5x7_5x7in", "5x7 (Photo)", 1, 12700, 17780},
  };
  ASSERT_EQ(builtin_media_count(), 11);
  for (int32_t i = 0; i < 11; ++i) {
    media_ptr m = builtin_media_at(i);
    ASSERT_TRUE(m);
    EXPECT_EQ(m->name(), want[i].name);
    EXPECT_EQ(m->displayName(), want[i].displayName);
    EXPECT_EQ(m->klass(), want[i].klass) << m->name();
    EXPECT_EQ(m->type(), i);
    EXPECT_EQ(m->width(), want[i].width) << m->name();
    EXPECT_EQ(m->height(), want[i].height) << m->name();
    EXPECT_TRUE(m->margins().empty());
    EXPECT_TRUE(m->enabled());
    EXPECT_EQ(builtin_media_at(i), m) << "the table is built once";
  }
  EXPECT_EQ(builtin_media_count(), 11);
  EXPECT_FALSE(builtin_media_at(11));
  EXPECT_FALSE(builtin_media_at(-1));
}

TEST(DefaultTables, PrinterMediaHaveOneMarginSetA5Borderless) {
  const media_list& sizes = default_printer_media();
  ASSERT_EQ(sizes.size(), 11u);
  for (size_t i = 0; i < sizes.size(); ++i) {
    const media_ptr& m = sizes[i];
    EXPECT_NE(m, builtin_media_at(static_cast<int32_t>(i))) << "a copy, not the built-in entry";
    EXPECT_EQ(m->name(), builtin_media_at(static_cast<int32_t>(i))->name());
    EXPECT_TRUE(m->enabled());
    const int32_t want = m->displayName() == "A5" ? 0 : 635;
    ASSERT_EQ(m->margins().size(), 1u) << m->name();
    EXPECT_EQ(m->margins()[0], (media_margins{"", want, want, want, want})) << m->name();
  }
  EXPECT_TRUE(builtin_media_at(0)->margins().empty()) << "the built-in entries keep no margins";
  EXPECT_EQ(&default_printer_media(), &sizes);
}

TEST(MediaJson, RoundTripsEveryField) {
  media original("custom", "Custom \xc3\xa9", 2, 42, 12345, 67890);
  original.addMargins({"borderless", 0, 0, 0, 0});
  original.addMargins({"normal", 1, 2, 3, 4});
  original.setEnabled(false);
  Json::Value written(Json::objectValue);
  original.writeJSON(written);

  media back;
  back.readJSON(written);
  EXPECT_EQ(back.name(), "custom");
  EXPECT_EQ(back.displayName(), "Custom \xc3\xa9");
  EXPECT_EQ(back.klass(), 2);
  EXPECT_EQ(back.type(), 42);
  EXPECT_EQ(back.width(), 12345);
  EXPECT_EQ(back.height(), 67890);
  EXPECT_EQ(back.margins(), original.margins());
  EXPECT_FALSE(back.enabled());

  // Reading the same JSON again replaces the margins rather than doubling them.
  back.readJSON(written);
  EXPECT_EQ(back.margins().size(), 2u);
}

TEST(MediaJson, NoMarginsNoKeyAndMissingEnabledReadsFalse) {
  Json::Value written(Json::objectValue);
  builtin_media_at(0)->writeJSON(written);
  EXPECT_FALSE(written.isMember("margins"));
  EXPECT_TRUE(written["enabled"].asBool());

  media read;
  Json::Value without_enabled(Json::objectValue);
  without_enabled["name"] = "iso_a4_210x297mm";
  read.readJSON(without_enabled);
  EXPECT_FALSE(read.enabled());
  EXPECT_EQ(read.width(), 0);
}

TEST(MediaCopy, CopiesEverythingButIsAlwaysEnabled) {
  media disabled("x", "X", 1, 2, 3, 4);
  disabled.addMargins({"m", 5, 6, 7, 8});
  disabled.setEnabled(false);
  media copy(disabled);
  EXPECT_TRUE(copy.enabled());
  EXPECT_EQ(copy.margins(), disabled.margins());
  EXPECT_EQ(copy.name(), "x");
  EXPECT_EQ(copy.height(), 4);
  EXPECT_EQ(copy.reference_count(), 0) << "a copy starts without references";
}

}  // namespace
}  // namespace quorvane::model
