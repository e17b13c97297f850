#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/json_text.h"
#include "model/json_p.h"
#include "model/printer.h"

namespace quorvane::model {
namespace {

Json::Value parse(const std::string& text) {
  Json::Value root;
  EXPECT_TRUE(quorvane::parse_json(text, root)) << text;
  return root;
}

Json::Value written(const printer& p) {
  Json::Value out(Json::objectValue);
  p.writeJSON(out);
  return out;
}

printer_ptr full_printer() {
  printer_ptr p = make_counted<printer>();
  p->setUuid("6f1c2a4e-0000-4000-8000-00000000abcd");
  p->setName(wide_string::from_narrow("open_on_my_pc"));
  p->setDisplayName("\xee\x80\x8cOpen on my PC");
  p->setLocation(wide_string::from_narrow("Caf\xc3\xa9"));
  p->setMake(wide_string::from_narrow("Make"));
  p->setModel(wide_string::from_narrow("Model \xf0\x9f\x96\xa8"));
  p->setFeature(printer_feature::color, 9);
  p->setFeature(printer_feature::landscape, 8);
  p->setFeature(printer_feature::duplex, 1);
  p->setFeature(printer_feature::copy, 0x10);
  p->setFormats({"application/pdf", "image/pwg-raster", "image/urf"});
  p->setMedia(default_printer_media());
  p->setDirectory(wide_string::from_narrow("/home/u/Print jobs"));
  p->setState(4);
  p->setReasons(0x20);
  p->setAction(action_open);
  p->setActionParam(wide_string::from_narrow("/usr/bin/evince"));
  p->setEnabled(false);
  p->setAcl({"alice", "bob"});
  p->setAutoCreated(true);
  p->setOwner(wide_string::from_narrow("alice"));
  p->setExists(true);
  return p;
}

TEST(PrinterJson, WritesEveryKeyAndReadsItBack) {
  printer_ptr original = full_printer();
  const Json::Value out = written(*original);
  const std::vector<std::string> want_keys = {
      "acl",    "action",  "actionParam", "autoCreated", "color",     "copy",     "directory", "displayName",
      "duplex", "enabled", "exists",      "formats",     "landscape", "location", "make",      "media",
      "model",  "name",    "owner",       "reasons",     "state",     "uuid"};
  EXPECT_EQ(out.getMemberNames(), want_keys);
  EXPECT_EQ(out["media"].size(), 11u);
  EXPECT_EQ(out["color"].asInt(), 9);

  printer back;
  back.readJSON(out);
  EXPECT_EQ(written(back), out) << "got " << quorvane::compact_json(written(back)) << "want "
                                << quorvane::compact_json(out);
  EXPECT_FALSE(back.dirty()) << "readJSON never touches dirty";
  EXPECT_EQ(back.oid(), 0);
  EXPECT_EQ(back.model().narrow(), "Model \xf0\x9f\x96\xa8");
}

TEST(PrinterJson, EmptyListsLeaveTheirKeysOutAndReadBackEmpty) {
  printer empty;
  const Json::Value out = written(empty);
  EXPECT_FALSE(out.isMember("formats"));
  EXPECT_FALSE(out.isMember("media"));
  EXPECT_FALSE(out.isMember("acl"));
  printer back;
  back.readJSON(out);
  EXPECT_TRUE(back.formats().empty()) << "no raster formats are added without a list";
  EXPECT_TRUE(back.media().empty());
  EXPECT_TRUE(back.acl().empty());
}

TEST(PrinterJson, ReadFormatsAddsTheRasterFormats) {
  const struct {
    const char* name;
    const char* json;
    std::vector<std::string> want;
  } cases[] = {
      {"pdf only",
       R"({"formats":["application/pdf"]})",
       {"application/pdf", "image/pwg-raster", "image/urf"}},
      {"both rasters keep their order",
       R"({"formats":["image/urf","image/pwg-raster"]})",
       {"image/urf", "image/pwg-raster"}},
      {"one raster present", R"({"formats":["image/pwg-raster"]})", {"image/pwg-raster", "image/urf"}},
      {"duplicates stay", R"({"formats":["a","a"]})", {"a", "a", "image/pwg-raster", "image/urf"}},
      {"empty list", R"({"formats":[]})", {"image/pwg-raster", "image/urf"}},
      {"other case is another format",
       R"({"formats":["IMAGE/URF"]})",
       {"IMAGE/URF", "image/pwg-raster", "image/urf"}},
      {"missing", R"({})", {}},
  };
  for (const auto& c : cases) {
    printer p;
    p.readJSON(parse(c.json));
    EXPECT_EQ(p.formats(), c.want) << c.name << ": got " << ::testing::PrintToString(p.formats());
  }
}

TEST(PrinterJson, MissingKeysTakeTheReadDefaults) {
  printer p;
  p.readJSON(parse(R"({"color": true, "duplex": false})"));
  EXPECT_EQ(p.state(), 0) << "not the constructor's 3";
  EXPECT_FALSE(p.enabled()) << "not the constructor's true";
  EXPECT_TRUE(p.exists());
  EXPECT_FALSE(p.autoCreated());
  EXPECT_EQ(p.color(), 1) << "a boolean true reads as 1";
  EXPECT_EQ(p.duplex(), 0);
  EXPECT_EQ(p.landscape(), 0);
  EXPECT_EQ(p.action(), 0);
  EXPECT_TRUE(p.name().empty());

  printer fresh;
  EXPECT_EQ(fresh.state(), 3);
  EXPECT_TRUE(fresh.enabled());
  EXPECT_TRUE(fresh.exists());
}

TEST(PrinterJson, ReadingTwiceDoesNotDoubleTheLists) {
  const Json::Value in = parse(R"({"acl":["alice"],"formats":["application/pdf"],"media":[{"name":"a"}]})");
  printer p;
  p.readJSON(in);
  p.readJSON(in);
  EXPECT_EQ(p.acl(), std::vector<std::string>{"alice"});
  EXPECT_EQ(p.formats().size(), 3u);
  EXPECT_EQ(p.media().size(), 1u);

  p.readJSON(parse(R"({"acl":"not a list"})"));
  EXPECT_EQ(p.acl(), std::vector<std::string>{"alice"}) << "a missing or non-array acl leaves the list";
}

TEST(PrinterSetters, MarkDirtyOnlyOnChange) {
  printer p;
  p.setUuid("u");
  EXPECT_FALSE(p.dirty()) << "the uuid setter never marks dirty";

  const struct {
    const char* name;
    void (*change)(printer&);
  } unchanged[] = {
      {"same name", [](printer& q) { q.setName(wide_string()); }},
      {"same state", [](printer& q) { q.setState(3); }},
      {"same enabled", [](printer& q) { q.setEnabled(true); }},
      {"same exists", [](printer& q) { q.setExists(true); }},
      {"same acl", [](printer& q) { q.setAcl({}); }},
      {"bit already clear", [](printer& q) { q.setFeatureBit(printer_feature::color, feature_on, false); }},
  };
  for (const auto& c : unchanged) {
    c.change(p);
    EXPECT_FALSE(p.dirty()) << c.name;
  }
  const struct {
    const char* name;
    void (*change)(printer&);
  } changed[] = {
      {"name", [](printer& q) { q.setName(wide_string::from_narrow("n")); }},
      {"display name", [](printer& q) { q.setDisplayName("d"); }},
      {"action", [](printer& q) { q.setAction(action_print); }},
      {"feature bit", [](printer& q) { q.setFeatureBit(printer_feature::duplex, feature_offered, true); }},
      {"same formats still dirty", [](printer& q) { q.setFormats({}); }},
      {"same media still dirty", [](printer& q) { q.setMedia({}); }},
  };
  for (const auto& c : changed) {
    printer q;
    c.change(q);
    EXPECT_TRUE(q.dirty()) << c.name;
  }
}

TEST(PrinterSetters, FeatureBitChangesOnlyThatBit) {
  printer p;
  p.setFeature(printer_feature::landscape, 0x80 | feature_offered);
  p.setFeatureBit(printer_feature::landscape, feature_on, true);
  EXPECT_EQ(p.landscape(), 0x80 | feature_offered | feature_on);
  p.setFeatureBit(printer_feature::landscape, feature_offered, false);
  EXPECT_EQ(p.landscape(), 0x80 | feature_on);
  EXPECT_EQ(p.color(), 0);
}

TEST(PrinterUpdate, IdenticalPrinterStillLeavesItDirty) {
  printer_ptr a = full_printer();
  printer_ptr b = full_printer();
  Json::Value state(Json::objectValue);
  a->writeJSON(state);
  printer clean;
  clean.readJSON(state);
  ASSERT_FALSE(clean.dirty());
  clean.update(*b);
  EXPECT_TRUE(clean.dirty());
  EXPECT_EQ(written(clean), written(*b));
}

TEST(PrinterUpdate, CopiesBitZeroOfFeaturesAndSharesLists) {
  printer receiver;
  receiver.setFeature(printer_feature::color, feature_offered);       // offered, off
  receiver.setFeature(printer_feature::duplex, feature_offered | 1);  // offered, on
  printer sender;
  sender.setFeature(printer_feature::color, feature_on | 0x40);
  sender.setFeature(printer_feature::duplex, 0);
  sender.setMedia(default_printer_media());
  sender.setUuid("other");
  sender.setAcl({"carol"});
  sender.setState(5);

  receiver.update(sender);
  EXPECT_EQ(receiver.color(), feature_offered | feature_on) << "bit 3 kept, bit 0 copied, bit 6 not copied";
  EXPECT_EQ(receiver.duplex(), feature_offered);
  EXPECT_EQ(receiver.uuid(), "other");
  EXPECT_EQ(receiver.acl(), std::vector<std::string>{"carol"});
  EXPECT_EQ(receiver.state(), 5);
  EXPECT_EQ(receiver.reasons(), 0);
  ASSERT_EQ(receiver.media().size(), 11u);
  EXPECT_EQ(receiver.media()[0], sender.media()[0]) << "media objects are shared";
}

}  // namespace
}  // namespace quorvane::model
