// The attribute rows of a printer and how their values go back into it.
#include <gtest/gtest.h>
#include <json/value.h>

#include "ui/lists/attribute_rows.h"

namespace quorvane {
namespace {

std::vector<int32_t> kinds(const std::vector<attribute_entry>& rows) {
  std::vector<int32_t> out;
  for (const attribute_entry& row : rows) out.push_back(row.kind);
  return out;
}

TEST(AttributeRows, FeaturesInColourDuplexLandscapeOrderOnlyWhenOffered) {
  model::printer p;
  p.setFeature(model::printer_feature::landscape, model::feature_offered | model::feature_on);
  p.setFeature(model::printer_feature::duplex, model::feature_offered);
  p.setFeature(model::printer_feature::color, model::feature_on);  // on but not offered: no row
  p.setFeature(model::printer_feature::copy, model::feature_offered | model::feature_on);  // never a row
  p.setMedia({model::builtin_media_at(0), model::builtin_media_at(4)});
  p.media()[1]->setEnabled(false);

  const std::vector<attribute_entry> rows = attribute_rows(p);
  EXPECT_EQ(kinds(rows),
            (std::vector<int32_t>{attribute_features_header, attribute_duplex, attribute_landscape,
                                  attribute_paper_header, attribute_paper, attribute_paper}));
  EXPECT_FALSE(rows[1].value);
  EXPECT_TRUE(rows[2].value);
  EXPECT_TRUE(rows[4].value);
  EXPECT_FALSE(rows[5].value);
  EXPECT_EQ(rows[5].media.get(), p.media()[1].get());
  EXPECT_EQ(attribute_text(rows[0]), "FEATURES");
  EXPECT_EQ(attribute_text(rows[1]), "Duplex");
  EXPECT_EQ(attribute_text(rows[3]), "PAPER");
  EXPECT_EQ(attribute_text(rows[5]), "Legal");
  EXPECT_STREQ(attribute_image_name(attribute_landscape), "IDI_LANDSCAPE");
  EXPECT_EQ(attribute_image_name(attribute_paper_header), nullptr);
}

TEST(AttributeRows, ApplyingSetsBitZeroAndPaperSizesAndKeepsOtherBits) {
  // Read from JSON, the record is clean.
  Json::Value json;
  json["color"] = model::feature_offered | 0x40;
  json["duplex"] = model::feature_offered | model::feature_on;
  model::builtin_media_at(0)->writeJSON(json["media"].append(Json::Value()));
  model::printer p;
  p.readJSON(json);
  ASSERT_FALSE(p.dirty());
  ASSERT_TRUE(p.media()[0]->enabled());
  std::vector<attribute_entry> rows = attribute_rows(p);

  // Unchanged values change nothing.
  apply_attribute_rows(p, rows);
  EXPECT_FALSE(p.dirty());

  rows[1].value = true;   // colour on
  rows[2].value = false;  // duplex off
  rows[4].value = false;  // A4 off
  apply_attribute_rows(p, rows);
  EXPECT_EQ(p.color(), model::feature_offered | 0x40 | model::feature_on);
  EXPECT_EQ(p.duplex(), model::feature_offered);
  EXPECT_FALSE(p.media()[0]->enabled());
  EXPECT_TRUE(p.dirty());
}

}  // namespace
}  // namespace quorvane
