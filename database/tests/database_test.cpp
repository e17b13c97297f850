#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "core/log.h"
#include "database/database_sqlite.h"
#include "test_support/log_capture.h"
#include "test_support/temporary_folder.h"

namespace quorvane::database {
namespace {

using testing_support::log_capture;
using testing_support::temporary_folder;

// A manager of its own on a temporary folder, so that each test starts from an empty database.
class Manager : public ::testing::Test {
 protected:
  temporary_folder folder;
  std::string path = folder.path();
  manager_impl db{[this] { return wide_string::from_narrow(path); }};

  void open() { ASSERT_EQ(db.applicationWillInitialize(), 0); }
  // The manager leaves its connection open at destruction, as the process-wide one does at exit.
  void TearDown() override { db.close(); }
};

TEST_F(Manager, OpensTheFileInTheDataFolderOnce) {
  open();
  EXPECT_TRUE(std::filesystem::exists(folder.path() + "/quorvane.db"));
  EXPECT_EQ(db.exec("CREATE TABLE t(a);"), 0);

  // A second first phase must not reopen: point the folder elsewhere and the old file still answers.
  temporary_folder other;
  path = other.path();
  EXPECT_EQ(db.applicationWillInitialize(), 0);
  EXPECT_FALSE(std::filesystem::exists(other.path() + "/quorvane.db"));
  EXPECT_EQ(db.exec("INSERT INTO t VALUES(1);"), 0);
}

TEST_F(Manager, OpenedDatabaseWritesAheadWithoutSyncingEveryCommit) {
  open();
  const std::pair<const char*, const char*> settings[] = {
      {"PRAGMA journal_mode;", "wal"}, {"PRAGMA synchronous;", "1"}, {"PRAGMA cache_size;", "-32768"}};
  for (const auto& [query, want] : settings) {
    smart_ptr<statement> rows = db.select(query);
    ASSERT_TRUE(rows->step()) << query;
    EXPECT_EQ(rows->columnText(0), want) << query;
  }
}

// The file holds proxy credentials: new or existing, only its owner may read it, and so its write-ahead log.
TEST_F(Manager, DatabaseFilesAreReadableByTheirOwnerOnly) {
  const std::string file = folder.path() + "/quorvane.db";
  { std::ofstream(file).flush(); }
  chmod(file.c_str(), 0644);
  open();
  EXPECT_EQ(db.exec("CREATE TABLE t(a); INSERT INTO t VALUES(1);"), 0);
  for (const std::string& name : {file, file + "-wal"}) {
    struct stat info {};
    ASSERT_EQ(stat(name.c_str(), &info), 0) << name;
    EXPECT_EQ(info.st_mode & 0777, 0600u)
        << name << ": got " << std::oct << (info.st_mode & 0777) << ", want 600";
  }
}

TEST_F(Manager, FailedOpenLeavesItUnopenedAndTheNextUseRetries) {
  path = folder.path() + "/missing";
  {
    log_capture log;
    EXPECT_EQ(db.applicationWillInitialize(), 1);
    EXPECT_EQ(initialized(db).exec("CREATE TABLE t(a);"), 14) << "SQLITE_CANTOPEN";
    const auto lines = log.messages();
    ASSERT_GE(lines.size(), 4u);
    EXPECT_EQ(lines[0].rfind("Unable to open database '" + path + "/quorvane.db': ", 0), 0u) << lines[0];
  }
  EXPECT_EQ(db.status(), 1);
  EXPECT_FALSE(db.select("SELECT 1;")->step());
  EXPECT_EQ(db.lastInsertRowID(), 0);
  EXPECT_FALSE(db.close());

  // Once the folder exists, the next use through the accessor opens the file.
  ASSERT_EQ(mkdir(path.c_str(), 0700), 0);
  EXPECT_EQ(initialized(db).exec("CREATE TABLE t(a);"), 0);
  EXPECT_EQ(db.status(), 0);
}

TEST_F(Manager, EmptyDataFolderIsNotTheRootOfTheFileSystem) {
  path.clear();
  log_capture log;
  EXPECT_EQ(db.applicationWillInitialize(), 1);
  const auto lines = log.messages();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0], "Unable to open database 'quorvane.db': the data folder is not known");
}

TEST_F(Manager, ExecLogsTheStatementThenTheFailure) {
  open();
  log_capture log;
  EXPECT_EQ(db.exec("CREATE TABLE t(a);"), 0);
  EXPECT_EQ(db.exec("INSERT INTO missing VALUES(1);"), 1) << "SQLITE_ERROR";
  const std::vector<std::string> want = {
      "exec: CREATE TABLE t(a);",
      "exec: INSERT INTO missing VALUES(1);",
      "sqlite3_exec() failed: 1, no such table: missing",
  };
  EXPECT_EQ(log.messages(), want);
}

TEST(LoggableStatement, LeavesPasswordsOut) {
  const struct {
    const char* sql;
    const char* want;
  } cases[] = {
      {"INSERT INTO proxy VALUES(NULL,'u','{\"password\":\"s3cr''et\",\"port\":80}');",
       "INSERT INTO proxy VALUES(NULL,'u','{\"password\":\"***\",\"port\":80}');"},
      {R"({"password":"a\"b\\","user":"x"})", R"({"password":"***","user":"x"})"},
      {R"({"password":"","user":"x"})", R"({"password":"","user":"x"})"},
      {R"([{"password":"one"},{"password":"two"}])", R"([{"password":"***"},{"password":"***"}])"},
      {R"({"password":"cut short)", R"({"password":"***)"},
      {"SELECT * FROM proxy;", "SELECT * FROM proxy;"},
  };
  for (const auto& c : cases) EXPECT_EQ(loggable_statement(c.sql), c.want) << c.sql;
}

TEST_F(Manager, ExecLogsAStoredPasswordAsStars) {
  open();
  ASSERT_EQ(db.exec("CREATE TABLE p(json TEXT);"), 0);
  log_capture log;
  ASSERT_EQ(db.exec(R"(INSERT INTO p VALUES('{"password":"s3cret"}');)"), 0);
  const std::vector<std::string> want = {R"(exec: INSERT INTO p VALUES('{"password":"***"}');)"};
  EXPECT_EQ(log.messages(), want);
  smart_ptr<statement> rows = db.select("SELECT json FROM p;");
  ASSERT_TRUE(rows->step());
  EXPECT_EQ(rows->columnText(0), R"({"password":"s3cret"})") << "stored as it is";
}

TEST_F(Manager, ExecLogLinesNameTheManagerFunction) {
  open();
  set_log_level(log_verbose);
  ::testing::internal::CaptureStderr();
  db.exec("SELEC 1;");
  const std::string text = ::testing::internal::GetCapturedStderr();
  set_log_level(log_information);
  EXPECT_NE(text.find(" quorvane::database::manager_impl::exec database_sqlite.cpp:"), std::string::npos)
      << text;
}

TEST_F(Manager, ExecRunsEveryStatementOfTheText) {
  open();
  ASSERT_EQ(db.exec("CREATE TABLE t(a); INSERT INTO t VALUES(1); INSERT INTO t VALUES(2);"), 0);
  smart_ptr<statement> rows = db.select("SELECT count(*) FROM t;");
  ASSERT_TRUE(rows->step());
  EXPECT_EQ(rows->columnInt(0), 2);
}

TEST_F(Manager, MalformedSelectGivesAStatementWithoutRows) {
  open();
  log_capture log;
  smart_ptr<statement> rows = db.select("SELEKT * FROM nowhere");
  ASSERT_TRUE(rows);
  EXPECT_FALSE(rows->step());
  EXPECT_FALSE(rows->step());
  EXPECT_FALSE(rows->columnBool(0));
  EXPECT_EQ(rows->columnInt(0), 0);
  EXPECT_EQ(rows->columnInt64(0), 0);
  EXPECT_EQ(rows->columnText(0), "");
  EXPECT_EQ(log.messages(), std::vector<std::string>{"select: SELEKT * FROM nowhere"});
}

TEST_F(Manager, ColumnsReadEveryType) {
  open();
  ASSERT_EQ(db.exec("CREATE TABLE t(i INTEGER, b INTEGER, s TEXT, n TEXT);"
                    "INSERT INTO t VALUES(8589934592, 2, 'caf\xc3\xa9 \xf0\x9f\x96\xa8', NULL);"),
            0);
  smart_ptr<statement> rows = db.select("SELECT * FROM t;");
  ASSERT_TRUE(rows->step());
  EXPECT_EQ(rows->columnInt64(0), 8589934592);
  EXPECT_TRUE(rows->columnBool(1));
  EXPECT_EQ(rows->columnInt(1), 2);
  EXPECT_EQ(rows->columnText(2), "caf\xc3\xa9 \xf0\x9f\x96\xa8");
  EXPECT_EQ(rows->columnText(3), "") << "NULL reads as empty text";
  EXPECT_FALSE(rows->columnBool(3));
  EXPECT_FALSE(rows->step());
}

TEST_F(Manager, LastInsertRowIdIsTheNewRowsOid) {
  open();
  ASSERT_EQ(db.exec("CREATE TABLE t(oid INTEGER PRIMARY KEY AUTOINCREMENT, a TEXT);"), 0);
  ASSERT_EQ(db.exec("INSERT INTO t VALUES(NULL,'x');"), 0);
  ASSERT_EQ(db.exec("INSERT INTO t VALUES(NULL,'y');"), 0);
  smart_ptr<statement> rows = db.select("SELECT oid FROM t WHERE a = 'y';");
  ASSERT_TRUE(rows->step());
  EXPECT_EQ(db.lastInsertRowID(), rows->columnInt64(0));
  EXPECT_EQ(db.lastInsertRowID(), 2);
}

TEST_F(Manager, CloseRefusesWhileAStatementIsOpenAndTheNextUseReopens) {
  open();
  ASSERT_EQ(db.exec("CREATE TABLE t(a); INSERT INTO t VALUES(7);"), 0);
  {
    smart_ptr<statement> rows = db.select("SELECT a FROM t;");
    EXPECT_FALSE(db.close()) << "a prepared statement keeps the connection open";
  }
  EXPECT_TRUE(db.close());
  EXPECT_FALSE(db.close()) << "nothing left to close";
  smart_ptr<statement> rows = initialized(db).select("SELECT a FROM t;");
  ASSERT_TRUE(rows->step());
  EXPECT_EQ(rows->columnInt(0), 7);
}

// Records every call as "changed printer 3" / "deleted printer 3".
class recording_observer final : public observer {
 public:
  std::vector<std::string> calls;
  void rowChanged(const std::string& table, int64_t rowid) override {
    calls.push_back("changed " + table + " " + std::to_string(rowid));
  }
  void rowDeleted(const std::string& table, int64_t rowid) override {
    calls.push_back("deleted " + table + " " + std::to_string(rowid));
  }
};

TEST_F(Manager, ObserversSeeStoredRowsThenEveryChange) {
  open();
  ASSERT_EQ(db.exec("CREATE TABLE printer(oid INTEGER PRIMARY KEY AUTOINCREMENT, a TEXT);"
                    "CREATE TABLE proxy(oid INTEGER PRIMARY KEY AUTOINCREMENT, a TEXT);"
                    "INSERT INTO printer VALUES(NULL,'a'); INSERT INTO printer VALUES(NULL,'b');"
                    "INSERT INTO printer VALUES(NULL,'c');"),
            0);
  recording_observer watcher, other;
  db.addObserver("printer", &watcher);
  db.addObserver("job", &other);  // a table without rows (and without a table) reports nothing
  ASSERT_EQ(db.applicationDidInitialize(), 0);
  EXPECT_EQ(watcher.calls,
            (std::vector<std::string>{"changed printer 1", "changed printer 2", "changed printer 3"}));

  watcher.calls.clear();
  ASSERT_EQ(db.exec("INSERT INTO printer VALUES(NULL,'d');"), 0);
  ASSERT_EQ(db.exec("UPDATE printer SET a = 'e' WHERE oid = 1;"), 0);
  ASSERT_EQ(db.exec("REPLACE INTO printer VALUES(2,'f');"), 0);
  ASSERT_EQ(db.exec("DELETE FROM printer WHERE oid = 3;"), 0);
  ASSERT_EQ(db.exec("INSERT INTO proxy VALUES(NULL,'unobserved');"), 0);
  EXPECT_EQ(watcher.calls, (std::vector<std::string>{"changed printer 4", "changed printer 1",
                                                     "changed printer 2", "deleted printer 3"}));
  EXPECT_TRUE(other.calls.empty());
}

TEST_F(Manager, ObserverAddedTwiceIsToldTwiceAndRemovedEverywhere) {
  open();
  ASSERT_EQ(db.exec("CREATE TABLE printer(oid INTEGER PRIMARY KEY AUTOINCREMENT, a TEXT);"), 0);
  ASSERT_EQ(db.applicationDidInitialize(), 0);
  recording_observer watcher, stays;
  db.addObserver("printer", &watcher);
  db.addObserver("printer", &stays);
  db.addObserver("printer", &watcher);
  ASSERT_EQ(db.exec("INSERT INTO printer VALUES(NULL,'a');"), 0);
  EXPECT_EQ(watcher.calls, (std::vector<std::string>{"changed printer 1", "changed printer 1"}));

  db.removeObserver("printer", &watcher);
  db.removeObserver("device", &watcher);  // a table without observers is ignored
  ASSERT_EQ(db.exec("INSERT INTO printer VALUES(NULL,'b');"), 0);
  EXPECT_EQ(watcher.calls.size(), 2u);
  EXPECT_EQ(stays.calls, (std::vector<std::string>{"changed printer 1", "changed printer 2"}));
}

TEST_F(Manager, SecondPhaseOfAnUnopenedManagerDoesNothing) {
  path = folder.path() + "/missing";
  recording_observer watcher;
  db.addObserver("printer", &watcher);
  EXPECT_EQ(db.applicationDidInitialize(), 1);
  EXPECT_TRUE(watcher.calls.empty());
}

// ---- quoting

TEST(SqlQuote, DoublesEverySingleQuoteAndNothingElse) {
  const std::pair<std::string, std::string> cases[] = {
      {"", ""},
      {"'", "''"},
      {"''", "''''"},
      {"O'Brien", "O''Brien"},
      {"'start and end'", "''start and end''"},
      {"100% _done_ \\ \" ;--", "100% _done_ \\ \" ;--"},
      {"caf\xc3\xa9 \xf0\x9f\x96\xa8 l'\xc3\xa9t\xc3\xa9",
       "caf\xc3\xa9 \xf0\x9f\x96\xa8 l''\xc3\xa9t\xc3\xa9"},
      // SQL text ends at a NUL byte: a NUL kept inside a literal would cut the statement short.
      {std::string("a\0b'\0", 5), "ab''"},
  };
  for (const auto& [text, want] : cases) {
    EXPECT_EQ(sql_quote(text), want) << "got " << sql_quote(text) << ", want " << want;
    EXPECT_EQ(sql_quote(wide_string::from_narrow(text)), want) << "wide form of " << text;
  }
}

TEST_F(Manager, QuotedTextRoundTripsThroughTheDatabase) {
  open();
  ASSERT_EQ(db.exec("CREATE TABLE t(a TEXT);"), 0);
  const std::string text = "it's 100% ''quoted'' _x_ caf\xc3\xa9 \xf0\x9f\x96\xa8";
  ASSERT_EQ(db.exec("INSERT INTO t VALUES('" + sql_quote(text) + "');"), 0);
  smart_ptr<statement> rows = db.select("SELECT a FROM t;");
  ASSERT_TRUE(rows->step());
  EXPECT_EQ(rows->columnText(0), text);
}

}  // namespace
}  // namespace quorvane::database
