#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <vector>

#include "print_service/store/service_store.h"
#include "test_support/temporary_folder.h"

namespace quorvane::print_service {
namespace {

class Store : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(root_.empty());
    reopen();
  }
  void TearDown() override { store_.reset(); }
  // Closes and opens the file again, as a restart of the service does.
  void reopen() {
    store_.reset();
    store_ = std::make_unique<service_store>();
    ASSERT_TRUE(store_->open(root_ + "/service.db"));
  }
  static Json::Value printer(const char* uuid, const char* name) {
    Json::Value p(Json::objectValue);
    p["uuid"] = uuid;
    p["name"] = name;
    return p;
  }
  testing_support::temporary_folder folder_;
  const std::string& root_ = folder_.path();
  std::unique_ptr<service_store> store_;
};

TEST_F(Store, PrintersSurviveARestartInTheirOrder) {
  ASSERT_TRUE(store_->save_printer(printer("b-uuid", "second-stored-first")));
  ASSERT_TRUE(store_->save_printer(printer("a-uuid", "one")));
  ASSERT_TRUE(store_->save_printer(printer("B-UUID", "replaced")));
  EXPECT_FALSE(store_->save_printer(printer("", "no uuid")));
  reopen();
  auto all = store_->printers();
  ASSERT_EQ(all.size(), 2u);
  EXPECT_EQ(all[0]["name"].asString(), "replaced") << "a replaced printer keeps its place";
  EXPECT_EQ(all[1]["name"].asString(), "one");
  ASSERT_TRUE(store_->find_printer("A-uuid"));
  ASSERT_TRUE(store_->remove_printer("a-uuid"));
  EXPECT_FALSE(store_->find_printer("a-uuid"));
  EXPECT_TRUE(store_->remove_printer("never-there"));
}

TEST_F(Store, AttributesMergeOverDefaultsAndPersist) {
  Json::Value defaults(Json::objectValue);
  defaults["printMode"] = 0;
  defaults["logLevel"] = 3;
  Json::Value change(Json::objectValue);
  change["logLevel"] = 10;
  change["custom"] = "kept";
  ASSERT_TRUE(store_->save_attributes(change));
  EXPECT_FALSE(store_->save_attributes(Json::Value(5)));
  reopen();
  const Json::Value got = store_->attributes(defaults);
  EXPECT_EQ(got["printMode"].asInt(), 0);
  EXPECT_EQ(got["logLevel"].asInt(), 10);
  EXPECT_EQ(got["custom"].asString(), "kept");
}

TEST_F(Store, QueueUuidIsStableAcrossRestarts) {
  const std::string first = store_->queue_uuid("office");
  ASSERT_EQ(first.size(), 36u);
  EXPECT_NE(store_->queue_uuid("lab"), first);
  reopen();
  EXPECT_EQ(store_->queue_uuid("office"), first);
  EXPECT_EQ(store_->queue_uuids().size(), 2u);
}

TEST_F(Store, JobsKeepTheirOrderAttemptsAndOutcome) {
  Json::Value record(Json::objectValue);
  record["uuid"] = "j1";
  const int64_t first = store_->add_job("p", record);
  record["uuid"] = "j2";
  const int64_t second = store_->add_job("p", record);
  ASSERT_GT(first, 0);
  ASSERT_GT(second, first);
  ASSERT_TRUE(store_->set_attempts(first, 2));
  ASSERT_TRUE(store_->finish_job(second, 0, 9, 42));
  reopen();

  auto open = store_->unfinished_jobs();
  ASSERT_EQ(open.size(), 1u);
  EXPECT_EQ(open[0].uuid, "j1");
  EXPECT_EQ(open[0].attempts, 2);
  auto done = store_->find_job(second);
  ASSERT_TRUE(done);
  EXPECT_TRUE(done->finished);
  EXPECT_EQ(done->status, 0);
  EXPECT_EQ(done->state, 9);
  EXPECT_EQ(done->platform_id, 42);
  EXPECT_EQ(done->record["uuid"].asString(), "j2");
  EXPECT_FALSE(store_->find_job(999));
}

TEST_F(Store, HistoryIsCutToItsNumberAndAgeAndQueuedJobsStay) {
  Json::Value record(Json::objectValue);
  std::vector<int64_t> ids;
  for (int i = 0; i < 10; ++i) {
    record["uuid"] = "j" + std::to_string(i);
    ids.push_back(store_->add_job("p", record));
  }
  // Jobs 0 to 7 end; 8 and 9 stay queued.
  for (int i = 0; i < 8; ++i) ASSERT_TRUE(store_->finish_job(ids[i], 0, 9, 0));
  const int64_t now = time(nullptr);

  struct {
    const char* name;
    history_bounds bounds;
    int64_t now;
    int64_t want_forgotten;
    std::vector<int> want_kept;  // indexes of the ended jobs still found
  } cases[] = {
      {"within both bounds", {100, 3600}, now, 0, {0, 1, 2, 3, 4, 5, 6, 7}},
      {"number: the newest five stay", {5, 3600}, now, 3, {3, 4, 5, 6, 7}},
      {"age: all ended an hour ago", {5, 3600}, now + 3601, 5, {}},
  };
  for (const auto& c : cases) {
    const int64_t got = store_->prune_history(c.bounds, c.now);
    EXPECT_EQ(got, c.want_forgotten) << c.name << ": got " << got << ", want " << c.want_forgotten;
    for (int i = 0; i < 8; ++i) {
      const bool kept = std::find(c.want_kept.begin(), c.want_kept.end(), i) != c.want_kept.end();
      EXPECT_EQ(store_->find_job(ids[i]).has_value(), kept) << c.name << ": job " << i;
    }
    EXPECT_EQ(store_->unfinished_jobs().size(), 2u) << c.name << ": queued jobs are never cut";
  }
  // No history at all: every ended job goes at once.
  ASSERT_TRUE(store_->finish_job(ids[8], 0, 9, 0));
  EXPECT_EQ(store_->prune_history({0, 3600}, now), 1);
  EXPECT_FALSE(store_->find_job(ids[8]));
  EXPECT_TRUE(store_->find_job(ids[9]));
}

TEST_F(Store, TheNumberCutCountsEachEndOnceAcrossCutsAndRestarts) {
  Json::Value record(Json::objectValue);
  std::vector<int64_t> ids;
  for (int i = 0; i < 6; ++i) {
    record["uuid"] = "j" + std::to_string(i);
    ids.push_back(store_->add_job("p", record));
  }
  const history_bounds two{2, 3600};
  const int64_t now = time(nullptr);
  // Each step: the jobs that end (or whose end is written again), then what the cut forgets and keeps.
  struct {
    const char* name;
    std::vector<int> ending;
    bool restart;
    int64_t want_forgotten;
    std::vector<int> want_found;
  } steps[] = {
      {"three ends, the oldest goes", {0, 1, 2}, false, 1, {1, 2, 3, 4, 5}},
      {"an end written again is no new end", {1, 2}, false, 0, {1, 2, 3, 4, 5}},
      {"two more ends push out the two oldest", {3, 4}, false, 2, {3, 4, 5}},
      {"after a restart the count starts from the table", {5}, true, 1, {4, 5}},
  };
  for (const auto& step : steps) {
    for (int i : step.ending) ASSERT_TRUE(store_->finish_job(ids[i], 0, 9, 0)) << step.name;
    if (step.restart) reopen();
    EXPECT_EQ(store_->prune_history(two, now), step.want_forgotten) << step.name;
    for (int i = 0; i < 6; ++i) {
      const bool want = std::count(step.want_found.begin(), step.want_found.end(), i) > 0;
      EXPECT_EQ(store_->find_job(ids[i]).has_value(), want) << step.name << ": job " << i;
    }
  }
}

TEST_F(Store, ShrinkingMuchCompactsTheFile) {
  {
    // 2000 ended jobs of 2 kB each, written in one transaction (one by one they would take minutes of
    // disk flushes).
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open((root_ + "/service.db").c_str(), &db), SQLITE_OK);
    ASSERT_EQ(
        sqlite3_exec(db,
                     "BEGIN;"
                     "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 2000) "
                     "INSERT INTO job(uuid, printer_uuid, json, finished, state, ended) "
                     "SELECT 'j' || i, 'p', '{\"padding\":\"' || printf('%.2000c', 'x') || '\"}', 1, 9, "
                     "CAST(strftime('%s', 'now') AS INTEGER) FROM n;"
                     "COMMIT;",
                     nullptr, nullptr, nullptr),
        SQLITE_OK)
        << sqlite3_errmsg(db);
    sqlite3_close(db);
  }
  reopen();
  const int64_t full = store_->file_bytes();
  EXPECT_GT(full, 3 * 1024 * 1024);
  EXPECT_FALSE(store_->compact_if_sparse()) << "nothing unused yet";
  // Cutting a tenth leaves too little unused to be worth a rebuild.
  EXPECT_EQ(store_->prune_history({1800, 3600}, time(nullptr)), 200);
  EXPECT_FALSE(store_->compact_if_sparse());
  EXPECT_EQ(store_->prune_history({100, 3600}, time(nullptr)), 1700);
  EXPECT_TRUE(store_->compact_if_sparse());
  EXPECT_LT(store_->file_bytes(), full / 5) << "got " << store_->file_bytes() << " of " << full;
  EXPECT_EQ(store_->prune_history({100, 3600}, time(nullptr)), 0);
  reopen();
  EXPECT_TRUE(store_->find_job(2000));
  EXPECT_FALSE(store_->find_job(1900));
}

TEST_F(Store, QueueTextsAreRememberedPerQueue) {
  EXPECT_FALSE(store_->last_queue_texts("office")) << "nothing before the first reading";
  const std::string uuid = store_->queue_uuid("office");
  ASSERT_FALSE(uuid.empty());
  EXPECT_FALSE(store_->last_queue_texts("office"));
  ASSERT_TRUE(store_->set_last_queue_texts("office", {"Office laser", "Room 2"}));
  reopen();
  const auto texts = store_->last_queue_texts("office");
  ASSERT_TRUE(texts);
  EXPECT_EQ(texts->info, "Office laser");
  EXPECT_EQ(texts->location, "Room 2");
  EXPECT_EQ(store_->queue_uuid("office"), uuid);
}

TEST(StoreUpgrade, AFileOfTheEarlierSchemaGainsTheNewColumns) {
  const testing_support::temporary_folder folder;
  const std::string path = folder.file("service.db");
  {
    // The tables as the previous version made them, with one ended and one queued job.
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(
                  db,
                  "CREATE TABLE cups_queue(name TEXT PRIMARY KEY, uuid TEXT NOT NULL);"
                  "INSERT INTO cups_queue VALUES('office', 'u1');"
                  "CREATE TABLE job(id INTEGER PRIMARY KEY AUTOINCREMENT, uuid TEXT NOT NULL, "
                  "printer_uuid TEXT NOT NULL, json TEXT NOT NULL, attempts INTEGER NOT NULL DEFAULT 0, "
                  "finished INTEGER NOT NULL DEFAULT 0, status INTEGER NOT NULL DEFAULT 0, "
                  "state INTEGER NOT NULL DEFAULT 3, platform_id INTEGER NOT NULL DEFAULT 0);"
                  "INSERT INTO job(uuid, printer_uuid, json, finished, state) VALUES('a', 'p', '{}', 1, 9);"
                  "INSERT INTO job(uuid, printer_uuid, json) VALUES('b', 'p', '{}');",
                  nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(db);
  }
  {
    service_store store;
    ASSERT_TRUE(store.open(path));
    EXPECT_EQ(store.queue_uuid("office"), "u1");
    EXPECT_TRUE(store.set_last_queue_texts("office", {"i", "l"}));
    // The old ended job counts as ended now: within an hour's bound it stays, beyond it goes.
    EXPECT_EQ(store.prune_history({10, 3600}, time(nullptr)), 0);
    EXPECT_EQ(store.prune_history({10, 3600}, time(nullptr) + 3601), 1);
    EXPECT_EQ(store.unfinished_jobs().size(), 1u);
  }
  service_store again;
  EXPECT_TRUE(again.open(path)) << "a second open finds the columns there";
}

// The `owner` column of every printer row, by uuid, read straight from the file.
std::vector<std::pair<std::string, std::string>> owner_column(const std::string& path) {
  std::vector<std::pair<std::string, std::string>> rows;
  sqlite3* db = nullptr;
  if (sqlite3_open(path.c_str(), &db) != SQLITE_OK) return rows;
  sqlite3_exec(
      db, "SELECT uuid, owner FROM printer ORDER BY seq;",
      [](void* out, int, char** values, char**) {
        static_cast<decltype(rows)*>(out)->emplace_back(values[0] ? values[0] : "",
                                                        values[1] ? values[1] : "");
        return 0;
      },
      &rows, nullptr);
  sqlite3_close(db);
  return rows;
}

TEST(StoreUpgrade, PrintersOfAnEarlierFileGetTheOwnerColumnFromTheirRecords) {
  const testing_support::temporary_folder folder;
  const std::string path = folder.file("service.db");
  {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    ASSERT_EQ(
        sqlite3_exec(db,
                     "CREATE TABLE printer(seq INTEGER PRIMARY KEY AUTOINCREMENT, uuid TEXT NOT NULL UNIQUE "
                     "COLLATE NOCASE, json TEXT NOT NULL);"
                     "INSERT INTO printer(uuid, json) VALUES('p1', '{\"uuid\":\"p1\",\"owner\":\"ann\"}');"
                     "INSERT INTO printer(uuid, json) VALUES('p2', '{\"uuid\":\"p2\"}');"
                     "INSERT INTO printer(uuid, json) VALUES('p3', 'not json');",
                     nullptr, nullptr, nullptr),
        SQLITE_OK);
    sqlite3_close(db);
  }
  {
    service_store store;
    ASSERT_TRUE(store.open(path));
  }
  using rows = std::vector<std::pair<std::string, std::string>>;
  EXPECT_EQ(owner_column(path), (rows{{"p1", "ann"}, {"p2", ""}, {"p3", ""}}));
}

TEST_F(Store, TheOwnerColumnFollowsTheRecord) {
  Json::Value p = printer("p1", "inbox");
  p["owner"] = "ann";
  ASSERT_TRUE(store_->save_printer(p));
  ASSERT_TRUE(store_->save_printer(printer("p2", "scans")));
  p["owner"] = "bob";
  ASSERT_TRUE(store_->save_printer(p));
  using rows = std::vector<std::pair<std::string, std::string>>;
  EXPECT_EQ(owner_column(root_ + "/service.db"), (rows{{"p1", "bob"}, {"p2", ""}}));
}

TEST(StoreOpen, AFolderThatDoesNotExistFails) {
  service_store store;
  EXPECT_FALSE(store.open("/nonexistent-folder-qv/service.db"));
  EXPECT_TRUE(store.printers().empty());
  EXPECT_EQ(store.add_job("p", Json::Value(Json::objectValue)), 0);
}

}  // namespace
}  // namespace quorvane::print_service
