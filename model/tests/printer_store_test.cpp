// Printers in the database: save, reload, save-on-release and text values that need quoting.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/json_text.h"
#include "database/object.h"
#include "model/json_p.h"
#include "model/printer.h"
#include "model/tests/model_fixture.h"

namespace quorvane::model {
namespace {

using testing_support::log_capture;
using testing_support::Store;

std::string json_of(const printer& p) {
  Json::Value out(Json::objectValue);
  p.writeJSON(out);
  return quorvane::compact_json(out);
}

TEST_F(Store, SaveInsertsANewUnchangedPrinterOnce) {
  printer_ptr p = make_counted<printer>();
  p->setUuid("first");
  ASSERT_FALSE(p->dirty());
  EXPECT_TRUE(p->save());
  EXPECT_EQ(p->oid(), 1);
  EXPECT_FALSE(p->dirty());

  log_capture log;
  EXPECT_TRUE(p->save()) << "a clean stored printer needs no write";
  EXPECT_TRUE(log.messages_starting("exec:").empty());
}

TEST_F(Store, ReleaseWritesOnlyAChangedPrinterWithARow) {
  {
    printer_ptr p = make_counted<printer>();
    p->setUuid("stored");
    ASSERT_TRUE(p->save());
  }
  {
    log_capture log;
    printer_ptr unchanged = database::find_by_uuid<printer>("stored");
    ASSERT_TRUE(unchanged);
    unchanged.reset();
    printer_ptr never_saved = make_counted<printer>();
    never_saved->setName(wide_string::from_narrow("changed but without a row"));
    never_saved.reset();
    EXPECT_TRUE(log.messages_starting("exec:").empty()) << "neither release writes";
  }
  {
    printer_ptr changed = database::find_by_uuid<printer>("stored");
    changed->setDisplayName("renamed");
    log_capture log;
    changed.reset();
    const auto execs = log.messages_starting("exec: REPLACE INTO printer VALUES(1,'stored'");
    EXPECT_EQ(execs.size(), 1u);
  }
  EXPECT_EQ(database::find_by_uuid<printer>("stored")->displayName(), "renamed");
  EXPECT_EQ(query_text("SELECT count(*) FROM printer;"), "1");
}

TEST_F(Store, UpdateFromAnIdenticalPrinterRewritesTheRow) {
  printer_ptr p = make_counted<printer>();
  p->setUuid("same");
  p->setMedia(default_printer_media());
  ASSERT_TRUE(p->save());
  printer_ptr stored = database::find_by_uuid<printer>("same");
  stored->update(*p);
  EXPECT_TRUE(stored->dirty());
  log_capture log;
  EXPECT_TRUE(stored->save());
  EXPECT_EQ(log.messages_starting("exec: REPLACE INTO printer VALUES(1,").size(), 1u);
}

TEST_F(Store, FailedSaveKeepsTheRecordDirtyAndWithoutRow) {
  printer_ptr p = make_counted<printer>();
  p->setUuid("x");
  p->setName(wide_string::from_narrow("n"));
  ASSERT_EQ(database::manager::shared().exec("DROP TABLE printer;"), 0);
  {
    log_capture log(log_error);
    EXPECT_FALSE(p->save());
    EXPECT_EQ(log.messages_starting("sqlite3_exec() failed: 1, no such table: printer").size(), 1u);
  }
  EXPECT_TRUE(p->dirty());
  EXPECT_EQ(p->oid(), 0);
  ASSERT_TRUE(printer::createTable());
  EXPECT_TRUE(p->save());
  EXPECT_EQ(p->oid(), 1);
}

// Every text value goes through the quoting rule: save, reload by cursor and by uuid, compare.
TEST_F(Store, TextsThatNeedQuotingRoundTrip) {
  const struct {
    const char* name;
    std::string uuid;
    std::string text;
  } cases[] = {
      {"apostrophes", "it's-'quoted'", "O'Brien's ''printer'''"},
      {"percent and underscore", "100%_done", "50% of _all_ jobs"},
      {"non-ASCII", "caf\xc3\xa9-\xe6\x97\xa5\xe6\x9c\xac",
       "Caf\xc3\xa9 \xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e \xd0\x9f\xd1\x80\xd0\xb8"},
      {"emoji", "\xf0\x9f\x96\xa8-uuid", "Printer \xf0\x9f\x96\xa8\xf0\x9f\x91\x8d\xf0\x9f\x8f\xbd"},
      {"SQL in the text", "'); DROP TABLE printer; --", "'); DELETE FROM printer; --"},
      {"backslashes and double quotes", "a\\b\"c", "C:\\Users\\\"me\"\\"},
  };
  std::vector<std::string> saved_json;
  for (const auto& c : cases) {
    printer_ptr p = make_counted<printer>();
    p->setUuid(c.uuid);
    p->setName(wide_string::from_narrow(c.text));
    p->setDisplayName(c.text);
    p->setOwner(wide_string::from_narrow(c.text));
    p->setLocation(wide_string::from_narrow(c.text));
    p->setDirectory(wide_string::from_narrow("/home/" + c.text));
    p->setActionParam(wide_string::from_narrow(c.text));
    p->setAcl({c.text, "plain"});
    p->setFormats({c.text, "image/pwg-raster", "image/urf"});
    ASSERT_TRUE(p->save()) << c.name;
    saved_json.push_back(json_of(*p));
  }
  EXPECT_EQ(query_text("SELECT count(*) FROM printer;"), std::to_string(std::size(cases)));

  size_t index = 0;
  for (database::cursor<printer> c = database::open_cursor<printer>(); c.current(); c.next(), ++index) {
    ASSERT_LT(index, std::size(cases));
    EXPECT_EQ(json_of(*c.current()), saved_json[index]) << cases[index].name;
    EXPECT_EQ(c.current()->name().narrow(), cases[index].text) << cases[index].name;
  }
  EXPECT_EQ(index, std::size(cases));

  for (size_t i = 0; i < std::size(cases); ++i) {
    printer_ptr found = database::find_by_uuid<printer>(cases[i].uuid);
    ASSERT_TRUE(found) << cases[i].name;
    EXPECT_EQ(found->uuid(), cases[i].uuid) << cases[i].name;
    EXPECT_EQ(json_of(*found), saved_json[i]) << cases[i].name;
    EXPECT_FALSE(found->dirty());
    // The search columns hold the plain texts.
    const std::string where = " FROM printer WHERE oid = " + std::to_string(found->oid()) + ";";
    EXPECT_EQ(query_text("SELECT name" + where), cases[i].text) << cases[i].name;
    EXPECT_EQ(query_text("SELECT owner" + where), cases[i].text) << cases[i].name;
  }
}

TEST_F(Store, ApostropheIsDoubledInTheStatement) {
  printer_ptr p = make_counted<printer>();
  p->setUuid("u");
  p->setDisplayName("Bob's");
  log_capture log;
  ASSERT_TRUE(p->save());
  const auto execs = log.messages_starting("exec: INSERT INTO printer VALUES(NULL,'u','','',0,'{");
  ASSERT_EQ(execs.size(), 1u);
  EXPECT_NE(execs[0].find("\"displayName\":\"Bob''s\""), std::string::npos) << execs[0];
  EXPECT_EQ(database::find_by_uuid<printer>("u")->displayName(), "Bob's");
}

TEST_F(Store, FindByUuidIgnoresCase) {
  printer_ptr p = make_counted<printer>();
  p->setUuid("6F1C2A4E-AAAA-4BBB-8CCC-DDDDEEEEFFFF");
  ASSERT_TRUE(p->save());
  printer_ptr found = database::find_by_uuid<printer>("6f1c2a4e-aaaa-4bbb-8ccc-ddddeeeeffff");
  ASSERT_TRUE(found);
  EXPECT_EQ(found->oid(), p->oid());
  EXPECT_FALSE(database::find_by_uuid<printer>("6f1c2a4e"));
}

TEST_F(Store, RowWithUnreadableJsonKeepsOidUuidAndConstructorDefaults) {
  // The last case nests deeper than the JSON library's reader allows, which makes it throw.
  const std::string too_deep = "{\"media\":" + std::string(2000, '[');
  for (const std::string& json :
       {std::string("{not json"), std::string(), std::string("[1,2,3]"), std::string("\"text\""), too_deep}) {
    SCOPED_TRACE(json.substr(0, 20));
    ASSERT_EQ(database::manager::shared().exec("DELETE FROM printer;"), 0);
    ASSERT_EQ(database::manager::shared().exec("INSERT INTO printer VALUES(7,'broken','name','owner',2,'" +
                                               database::sql_quote(json) + "');"),
              0);
    printer_ptr p;
    {
      log_capture log(log_warning);
      p = database::find_by_uuid<printer>("broken");
      EXPECT_EQ(
          log.messages_starting("Unable to read printer row 7: its json column is not a JSON object").size(),
          1u);
    }
    ASSERT_TRUE(p);
    EXPECT_EQ(p->oid(), 7);
    EXPECT_EQ(p->uuid(), "broken");
    printer defaults;
    defaults.setUuid("broken");
    EXPECT_EQ(json_of(*p), json_of(defaults)) << "every other field at its constructor default";
    EXPECT_FALSE(p->dirty());
    EXPECT_EQ(p->state(), 3);
    EXPECT_TRUE(p->enabled());
    EXPECT_TRUE(p->name().empty()) << "the name column is not read back";
  }
}

TEST_F(Store, RemoveDeletesTheRowButAReleasedDirtyPrinterWritesItAgain) {
  printer_ptr p = make_counted<printer>();
  p->setUuid("gone");
  ASSERT_TRUE(p->save());
  database::remove(*p);
  EXPECT_FALSE(database::find_by_uuid<printer>("gone"));
  EXPECT_EQ(p->oid(), 1);
  p->setAction(action_print);
  p.reset();
  printer_ptr back = database::find_by_uuid<printer>("gone");
  ASSERT_TRUE(back);
  EXPECT_EQ(back->oid(), 1);
  EXPECT_EQ(back->action(), action_print);
  EXPECT_EQ(query_text("SELECT action FROM printer;"), "2");
}

// SQL text ends at a NUL byte, so a value holding U+0000 must not cut its statement short.
TEST_F(Store, TextsWithANulCharacterAreStoredAndFound) {
  Json::Value in;
  ASSERT_TRUE(
      quorvane::parse_json(R"({"uuid":"a\u0000b","name":"n\u0000m","owner":"\u0000","displayName":"d\u0000",)"
                           R"("acl":["x\u0000y"]})",
                           in));
  printer_ptr p = make_counted<printer>();
  p->readJSON(in);
  ASSERT_EQ(p->name().narrow(), std::string("n\0m", 3));
  ASSERT_TRUE(p->save()) << "the statement must not end at the NUL";

  printer_ptr found = database::find_by_uuid<printer>(std::string("a\0b", 3));
  ASSERT_TRUE(found);
  EXPECT_EQ(found->uuid(), std::string("a\0b", 3));
  EXPECT_EQ(json_of(*found), json_of(*p)) << "the json column keeps every character";
  EXPECT_EQ(query_text("SELECT name FROM printer;"), "nm") << "the search column leaves the NUL out";
}

}  // namespace
}  // namespace quorvane::model
