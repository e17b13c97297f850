#include "model/manager.h"

#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/workspace.h"
#include "model/printer.h"
#include "model/tests/model_fixture.h"

namespace quorvane::model {
namespace {

using testing_support::log_capture;
using testing_support::Store;

const std::vector<std::string> create_statements = {
    "exec: CREATE TABLE IF NOT EXISTS printer(oid INTEGER PRIMARY KEY AUTOINCREMENT, uuid TEXT, name TEXT, "
    "owner "
    "TEXT, action INTEGER, json TEXT);",
    "exec: CREATE INDEX IF NOT EXISTS uuid_idx ON printer(uuid);",
    "exec: CREATE INDEX IF NOT EXISTS printer_uuid_nocase_idx ON printer(uuid COLLATE NOCASE);",
    "exec: CREATE INDEX IF NOT EXISTS name_idx ON printer(name);",
    "exec: CREATE INDEX IF NOT EXISTS owner_idx ON printer(owner);",
    "exec: CREATE INDEX IF NOT EXISTS action_idx ON printer(action);",
    "exec: CREATE TABLE IF NOT EXISTS job(oid INTEGER PRIMARY KEY AUTOINCREMENT, uuid TEXT, deviceID TEXT, "
    "printerID TEXT, id INTEGER, internalID INTEGER, state INTEGER, json TEXT);",
    "exec: CREATE INDEX IF NOT EXISTS job_uuid_nocase_idx ON job(uuid COLLATE NOCASE);",
    "exec: CREATE INDEX IF NOT EXISTS id_idx ON job(id);",
    "exec: CREATE INDEX IF NOT EXISTS stateID_idx ON job(state);",
    "exec: CREATE TABLE IF NOT EXISTS device(oid INTEGER PRIMARY KEY AUTOINCREMENT, uuid TEXT, json TEXT);",
    "exec: CREATE INDEX IF NOT EXISTS device_uuid_nocase_idx ON device(uuid COLLATE NOCASE);",
    "exec: CREATE TABLE IF NOT EXISTS proxy(oid INTEGER PRIMARY KEY AUTOINCREMENT, uri TEXT, json TEXT);",
    "exec: CREATE INDEX IF NOT EXISTS uri_idx ON proxy(uri);",
};

std::vector<std::string> schema() {
  std::vector<std::string> names;
  smart_ptr<database::statement> rows = database::manager::shared().select(
      "SELECT type || ' ' || name || ' on ' || tbl_name FROM sqlite_master WHERE name NOT LIKE 'sqlite%' "
      "ORDER BY type, name;");
  while (rows->step()) names.push_back(rows->columnText(0));
  return names;
}

TEST(ModelManager, CreatesEveryTableAndIndexInOrder) {
  manager fresh;
  log_capture log;
  EXPECT_EQ(fresh.applicationWillInitialize(), 0);
  EXPECT_EQ(log.messages_starting("exec:"), create_statements);

  const std::vector<std::string> want = {
      "index action_idx on printer",
      "index device_uuid_nocase_idx on device",
      "index id_idx on job",
      "index job_uuid_nocase_idx on job",
      "index name_idx on printer",
      "index owner_idx on printer",
      "index printer_uuid_nocase_idx on printer",
      "index stateID_idx on job",
      "index uri_idx on proxy",
      "index uuid_idx on printer",
      "table device on device",
      "table job on job",
      "table printer on printer",
      "table proxy on proxy",
  };
  EXPECT_EQ(schema(), want);
}

// The look-up by uuid keeps its LIKE (ASCII case ignored); the index in the NOCASE collation lets SQLite
// search instead of reading the whole table.
TEST(ModelManager, LookUpsByUuidSearchAnIndexInsteadOfScanningTheTable) {
  manager fresh;
  ASSERT_EQ(fresh.applicationWillInitialize(), 0);
  // A file written before these indexes existed gets them when it is opened.
  for (const char* table : {"printer", "job", "device"}) {
    ASSERT_EQ(database::manager::shared().exec(std::string("DROP INDEX ") + table + "_uuid_nocase_idx;"), 0);
  }
  manager opening_an_earlier_file;
  ASSERT_EQ(opening_an_earlier_file.applicationWillInitialize(), 0);
  for (const char* table : {"printer", "job", "device"}) {
    smart_ptr<database::statement> plan =
        database::manager::shared().select(std::string("EXPLAIN QUERY PLAN SELECT * FROM ") + table +
                                           " WHERE uuid LIKE '6F1C2A4E-0000-4000-8000-000000000007';");
    std::string details;
    while (plan->step()) details += plan->columnText(3) + "\n";
    EXPECT_NE(details.find(std::string("USING INDEX ") + table + "_uuid_nocase_idx"), std::string::npos)
        << table << ": got plan " << details;
  }
}

TEST(ModelManager, SecondFirstPhaseRunsNothing) {
  manager fresh;
  ASSERT_EQ(fresh.applicationWillInitialize(), 0);
  log_capture log;
  EXPECT_EQ(fresh.applicationWillInitialize(), 0);
  EXPECT_EQ(fresh.applicationDidInitialize(), 0);
  EXPECT_TRUE(log.messages().empty());
}

TEST_F(Store, StartingOnAnExistingDatabaseKeepsItsRows) {
  printer_ptr p = make_counted<printer>();
  p->setUuid("kept");
  ASSERT_TRUE(p->save());
  const std::vector<std::string> before = schema();
  manager again;
  EXPECT_EQ(again.applicationWillInitialize(), 0);
  EXPECT_EQ(schema(), before);
  EXPECT_EQ(query_text("SELECT uuid FROM printer;"), "kept");
}

TEST(ModelManager, StaysUninitialisedWhileTheDatabaseCannotOpen) {
  database::manager& db = database::manager::shared();
  const std::string folder = workspace::shared().data_folder().narrow();
  ASSERT_FALSE(folder.empty());
  ASSERT_TRUE(db.close());
  // Without its folder the database cannot be opened again.
  const std::string moved = folder + ".away";
  ASSERT_EQ(std::rename(folder.c_str(), moved.c_str()), 0);
  manager fresh;
  {
    log_capture quiet(log_none);
    EXPECT_EQ(fresh.applicationWillInitialize(), 1);
  }
  ASSERT_EQ(std::rename(moved.c_str(), folder.c_str()), 0);
  EXPECT_EQ(fresh.applicationWillInitialize(), 0) << "the next access creates the tables";
  EXPECT_EQ(db.status(), 0);
}

}  // namespace
}  // namespace quorvane::model
