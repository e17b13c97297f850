#include "database/object.h"

#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/log.h"
#include "test_support/log_capture.h"
#include "test_support/temporary_folder.h"

namespace quorvane::database {
namespace {

const auto* const data_home = ::testing::AddGlobalTestEnvironment(new testing_support::data_home_environment);

// A minimal persisted record: a uuid and a text, stored in the table "note".
class note final : public ref_counted_object, public object {
 public:
  static constexpr const char* table_name = "note";

  explicit note(std::string uuid, std::string text = {}) : text(std::move(text)) { uuid_ = std::move(uuid); }
  explicit note(statement& row) : text(row.columnText(2)) {
    oid_ = row.columnInt64(0);
    uuid_ = row.columnText(1);
  }
  ~note() override {
    if (oid_ != 0) save();
  }

  const char* tableName() const override { return table_name; }
  bool save() override {
    if (!dirty_ && oid_ != 0) return true;
    const std::string start =
        oid_ == 0 ? "INSERT INTO note VALUES(NULL" : "REPLACE INTO note VALUES(" + std::to_string(oid_);
    return finish_save(
        manager::shared().exec(start + ",'" + sql_quote(uuid_) + "','" + sql_quote(text) + "');"));
  }
  void change(std::string t) {
    text = std::move(t);
    dirty_ = true;
  }

  std::string text;
};

class Records : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(manager::shared().status(), 0) << "the shared database opens in the test's data folder";
    ASSERT_EQ(manager::shared().exec(
                  "DROP TABLE IF EXISTS note;"
                  "CREATE TABLE note(oid INTEGER PRIMARY KEY AUTOINCREMENT, uuid TEXT, text TEXT);"),
              0);
  }

  static int64_t store(const std::string& uuid, const std::string& text = {}) {
    smart_ptr<note> n = make_counted<note>(uuid, text);
    EXPECT_TRUE(n->save());
    return n->oid();
  }
  static int64_t row_count() {
    smart_ptr<statement> rows = manager::shared().select("SELECT count(*) FROM note;");
    return rows->step() ? rows->columnInt64(0) : -1;
  }
};

TEST_F(Records, SharedDatabaseLivesInTheTestsDataHome) {
  const char* home = getenv("XDG_DATA_HOME");
  ASSERT_NE(home, nullptr);
  EXPECT_TRUE(std::filesystem::exists(std::string(home) + "/Quorvane/quorvane.db"));
}

TEST_F(Records, CursorOverAnEmptyTableStartsAtTheEnd) {
  cursor<note> c = open_cursor<note>();
  EXPECT_FALSE(c.current());
  EXPECT_FALSE(c.next());
}

TEST_F(Records, CursorYieldsEachRowThenStaysAtTheEnd) {
  store("a", "first");
  store("b", "second");
  store("c", "third");
  std::vector<std::string> seen;
  for (cursor<note> c = open_cursor<note>(); c.current(); c.next()) seen.push_back(c.current()->text);
  EXPECT_EQ(seen, (std::vector<std::string>{"first", "second", "third"}));

  cursor<note> c = open_cursor<note>();
  c.next();
  ASSERT_TRUE(c.next());
  EXPECT_EQ(c.current()->text, "third");
  EXPECT_FALSE(c.next());
  EXPECT_FALSE(c.next()) << "advancing past the end stays at the end";
  EXPECT_FALSE(c.current());
}

TEST_F(Records, QueriesOnAMissingTableFindNothing) {
  ASSERT_EQ(manager::shared().exec("DROP TABLE note;"), 0);
  EXPECT_FALSE(open_cursor<note>().current());
  EXPECT_FALSE(find_by_uuid<note>("a"));
}

TEST_F(Records, FindByUuidMatchesWithLike) {
  const int64_t mixed = store("0A1B-cafe", "mixed case");
  const int64_t quoted = store("it's", "apostrophe");
  store("x%y", "percent");

  struct {
    const char* name;
    const char* uuid;
    int64_t want_oid;  // 0: nothing found
  } cases[] = {
      {"exact", "0A1B-cafe", mixed},
      {"other ASCII case", "0a1b-CAFE", mixed},
      {"underscore is a one-character wildcard", "0a1b_cafe", mixed},
      {"percent is a wildcard", "0a1b%", mixed},
      {"apostrophe is quoted", "it's", quoted},
      {"no such uuid", "nobody", 0},
      {"injection attempt stays a value", "' OR '1'='1", 0},
  };
  for (const auto& c : cases) {
    smart_ptr<note> found = find_by_uuid<note>(c.uuid);
    const int64_t got = found ? found->oid() : 0;
    EXPECT_EQ(got, c.want_oid) << c.name << ": got oid " << got << ", want " << c.want_oid;
  }
  EXPECT_EQ(row_count(), 3) << "no query changed the table";
}

TEST_F(Records, ColumnMatchOpensACursorOverMatchingRows) {
  store("a", "red");
  store("b", "Red");
  store("c", "blue");
  std::vector<std::string> seen;
  for (cursor<note> c = open_cursor<note>("text", "RED"); c.current(); c.next())
    seen.push_back(c.current()->uuid());
  EXPECT_EQ(seen, (std::vector<std::string>{"a", "b"}));
}

TEST_F(Records, RemoveDeletesTheRowAndLeavesTheObject) {
  store("keep");
  smart_ptr<note> n = make_counted<note>("gone");
  ASSERT_TRUE(n->save());
  const int64_t oid = n->oid();
  remove(*n);
  EXPECT_EQ(n->oid(), oid);
  EXPECT_FALSE(n->dirty());
  EXPECT_FALSE(find_by_uuid<note>("gone"));
  EXPECT_EQ(row_count(), 1);
}

TEST_F(Records, RemoveWithoutARowRunsNoStatement) {
  note fresh("nothing");
  set_log_level(log_verbose);
  ::testing::internal::CaptureStderr();
  remove(fresh);
  const std::string log = ::testing::internal::GetCapturedStderr();
  set_log_level(log_information);
  EXPECT_EQ(log, "");
}

TEST_F(Records, ReleaseSavesOnlyADirtyRecordThatHasARow) {
  const int64_t oid = store("a", "before");
  {
    smart_ptr<note> clean = find_by_uuid<note>("a");
    smart_ptr<note> changed = find_by_uuid<note>("a");
    changed->change("after");
    changed.reset();  // writes "after"
    ASSERT_EQ(find_by_uuid<note>("a")->text, "after");
    // The clean copy still holds "before" but writes nothing when released.
  }
  EXPECT_EQ(find_by_uuid<note>("a")->text, "after");

  { note unsaved("b", "never stored"); }
  EXPECT_FALSE(find_by_uuid<note>("b")) << "a record without a row writes nothing when released";

  // A removed record that is still dirty writes its row again under the same oid when released.
  {
    smart_ptr<note> n = find_by_uuid<note>("a");
    remove(*n);
    n->change("again");
  }
  smart_ptr<note> back = find_by_uuid<note>("a");
  ASSERT_TRUE(back);
  EXPECT_EQ(back->oid(), oid);
  EXPECT_EQ(back->text, "again");
}

TEST_F(Records, ABatchOfSavesIsOneCommitAndAnInnerTransactionLeavesTheCommitToTheOuter) {
  std::vector<std::string> statements;
  {
    testing_support::log_capture log;
    {
      transaction batch;
      EXPECT_TRUE(batch.began());
      store("a", "first");
      {
        transaction inner;
        EXPECT_FALSE(inner.began()) << "one is open already";
        store("b", "second");
      }
      // Inside the transaction the connection sees its own rows.
      EXPECT_EQ(row_count(), 2);
    }
    statements = log.messages_starting("exec: ");
  }
  const std::vector<std::string> want = {
      "exec: BEGIN;",
      "exec: INSERT INTO note VALUES(NULL,'a','first');",
      "exec: INSERT INTO note VALUES(NULL,'b','second');",
      "exec: COMMIT;",
  };
  EXPECT_EQ(statements, want);

  // Committed: the rows are in the file, seen by the next connection.
  ASSERT_TRUE(manager::shared().close());
  EXPECT_EQ(row_count(), 2);
  EXPECT_EQ(find_by_uuid<note>("b")->text, "second");

  // After the outermost ended, the next one begins again.
  transaction next;
  EXPECT_TRUE(next.began());
}

}  // namespace
}  // namespace quorvane::database
