#include "print_service/store/service_store.h"

#include <algorithm>

#include "core/json_text.h"
#include "core/log.h"
#include "core/os.h"

namespace quorvane::print_service {
namespace {

// The service's schema; each statement is safe to run on an existing file.
constexpr const char* schema[] = {
    "CREATE TABLE IF NOT EXISTS printer(seq INTEGER PRIMARY KEY AUTOINCREMENT, uuid TEXT NOT NULL UNIQUE "
    "COLLATE NOCASE, json TEXT NOT NULL);",
    "CREATE TABLE IF NOT EXISTS attribute(name TEXT PRIMARY KEY, json TEXT NOT NULL);",
    "CREATE TABLE IF NOT EXISTS cups_queue(name TEXT PRIMARY KEY, uuid TEXT NOT NULL);",
    "CREATE TABLE IF NOT EXISTS job(id INTEGER PRIMARY KEY AUTOINCREMENT, uuid TEXT NOT NULL, "
    "printer_uuid TEXT NOT NULL, json TEXT NOT NULL, attempts INTEGER NOT NULL DEFAULT 0, "
    "finished INTEGER NOT NULL DEFAULT 0, status INTEGER NOT NULL DEFAULT 0, state INTEGER NOT NULL DEFAULT "
    "3, "
    "platform_id INTEGER NOT NULL DEFAULT 0, ended INTEGER NOT NULL DEFAULT 0);",
    "CREATE INDEX IF NOT EXISTS job_finished_idx ON job(finished, id);",
    "CREATE TABLE IF NOT EXISTS device(seq INTEGER PRIMARY KEY AUTOINCREMENT, key TEXT NOT NULL UNIQUE, "
    "json TEXT NOT NULL);",
};

// Files of earlier versions lack these columns: {table, column, ALTER statement, statement filling it}.
struct added_column {
  const char* table;
  const char* column;
  const char* add;
  const char* fill;
};
constexpr added_column added_columns[] = {
    // Jobs that ended before their end time was kept count as ended when the column appears.
    {"job", "ended", "ALTER TABLE job ADD COLUMN ended INTEGER NOT NULL DEFAULT 0;",
     "UPDATE job SET ended = CAST(strftime('%s', 'now') AS INTEGER) WHERE finished = 1;"},
    {"cups_queue", "info", "ALTER TABLE cups_queue ADD COLUMN info TEXT;", nullptr},
    {"cups_queue", "location", "ALTER TABLE cups_queue ADD COLUMN location TEXT;", nullptr},
    // The login name of the printer's owner, repeated from its record for finding an account's printers.
    {"printer", "owner", "ALTER TABLE printer ADD COLUMN owner TEXT NOT NULL DEFAULT '';",
     "UPDATE printer SET owner = COALESCE(json_extract(json, '$.owner'), '') WHERE json_valid(json);"},
};

// Finalizes a statement when it goes out of scope.
struct statement_guard {
  sqlite3_stmt* statement;
  ~statement_guard() { sqlite3_finalize(statement); }
};

// While it lives, commits go to the write-ahead log without a flush: they reach the disk with the next
// flushed commit or checkpoint, and survive the service's own crash at once. Only for writes whose loss in a
// power cut costs no accepted job: an end (the job is offered again, and the console's record of delivered
// jobs answers it), an attempt (given back), the history's cut (made again at the next start) or a device's
// host and last use (written again by its next job).
class unflushed_commits {
 public:
  explicit unflushed_commits(sqlite3* db) : db_(db) {
    if (db_) sqlite3_exec(db_, "PRAGMA synchronous=NORMAL;", nullptr, nullptr, nullptr);
  }
  ~unflushed_commits() {
    if (db_) sqlite3_exec(db_, "PRAGMA synchronous=FULL;", nullptr, nullptr, nullptr);
  }
  unflushed_commits(const unflushed_commits&) = delete;
  unflushed_commits& operator=(const unflushed_commits&) = delete;

 private:
  sqlite3* db_;
};

void bind_text(sqlite3_stmt* s, int index, const std::string& text) {
  sqlite3_bind_text(s, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
}

std::string column_text(sqlite3_stmt* s, int index) {
  const unsigned char* text = sqlite3_column_text(s, index);
  return text ? std::string(reinterpret_cast<const char*>(text),
                            static_cast<size_t>(sqlite3_column_bytes(s, index)))
              : std::string();
}

}  // namespace

service_store::~service_store() {
  if (db_) sqlite3_close(db_);
}

bool service_store::open(const std::string& path) {
  path_ = path;
  if (sqlite3_open_v2(
          path.c_str(), &db_,
          SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX | SQLITE_OPEN_NOFOLLOW,
          nullptr) != SQLITE_OK) {
    QV_LOG(log_error, "Unable to open database '%s': %s", path.c_str(),
           db_ ? sqlite3_errmsg(db_) : "out of memory");
    sqlite3_close(db_);
    db_ = nullptr;
    return false;
  }
  sqlite3_busy_timeout(db_, 2000);
  // A write-ahead log: a commit is one append to the log and, when it must survive a power loss, one flush
  // of it (a rollback journal costs three to four flushes per commit). Every commit is flushed unless an
  // `unflushed_commits` scope says otherwise; SQLite's checkpoints flush the log and the file as well.
  if (!exec("PRAGMA journal_mode=WAL;") || !exec("PRAGMA synchronous=FULL;")) {
    sqlite3_close(db_);
    db_ = nullptr;
    return false;
  }
  for (const char* sql : schema) {
    if (!exec(sql)) {
      sqlite3_close(db_);
      db_ = nullptr;
      return false;
    }
  }
  // The age cut of the history finds the jobs that ended before a time without reading every ended job, and
  // an account's printers are found by their owner (on columns that files of earlier versions gain first).
  if (!add_missing_columns() || !exec("CREATE INDEX IF NOT EXISTS job_ended_idx ON job(finished, ended);") ||
      !exec("CREATE INDEX IF NOT EXISTS printer_owner_idx ON printer(owner);")) {
    sqlite3_close(db_);
    db_ = nullptr;
    return false;
  }
  return true;
}

bool service_store::has_column(const char* table, const char* column) {
  const std::string sql = std::string("SELECT 1 FROM pragma_table_info('") + table + "') WHERE name = ?1;";
  statement_guard s{prepare(sql.c_str())};
  if (!s.statement) return false;
  sqlite3_bind_text(s.statement, 1, column, -1, SQLITE_STATIC);
  return sqlite3_step(s.statement) == SQLITE_ROW;
}

bool service_store::add_missing_columns() {
  for (const added_column& c : added_columns) {
    if (has_column(c.table, c.column)) continue;
    if (!exec("BEGIN IMMEDIATE;")) return false;
    if (!exec(c.add) || (c.fill && !exec(c.fill))) {
      exec("ROLLBACK;");
      return false;
    }
    if (!exec("COMMIT;")) return false;
  }
  return true;
}

int64_t service_store::query_integer(const char* sql) {
  statement_guard s{prepare(sql)};
  if (!s.statement || sqlite3_step(s.statement) != SQLITE_ROW) return -1;
  return sqlite3_column_int64(s.statement, 0);
}

bool service_store::exec(const char* sql) {
  if (!db_) return false;
  char* message = nullptr;
  if (sqlite3_exec(db_, sql, nullptr, nullptr, &message) != SQLITE_OK) {
    QV_LOG(log_error, "Unable to run statement '%.60s' on '%s': %s", sql, path_.c_str(),
           message ? message : sqlite3_errmsg(db_));
    sqlite3_free(message);
    return false;
  }
  return true;
}

sqlite3_stmt* service_store::prepare(const char* sql) {
  if (!db_) return nullptr;
  sqlite3_stmt* statement = nullptr;
  if (sqlite3_prepare_v2(db_, sql, -1, &statement, nullptr) != SQLITE_OK) {
    QV_LOG(log_error, "Unable to prepare statement '%.60s' on '%s': %s", sql, path_.c_str(),
           sqlite3_errmsg(db_));
    return nullptr;
  }
  return statement;
}

std::vector<Json::Value> service_store::json_rows(const char* sql) {
  std::vector<Json::Value> out;
  statement_guard s{prepare(sql)};
  if (!s.statement) return out;
  while (sqlite3_step(s.statement) == SQLITE_ROW) {
    Json::Value record;
    if (parse_json(column_text(s.statement, 0), record)) out.push_back(std::move(record));
  }
  return out;
}

std::optional<Json::Value> service_store::json_row(const char* sql, const std::string& key) {
  statement_guard s{prepare(sql)};
  if (!s.statement) return std::nullopt;
  bind_text(s.statement, 1, key);
  if (sqlite3_step(s.statement) != SQLITE_ROW) return std::nullopt;
  Json::Value record;
  if (!parse_json(column_text(s.statement, 0), record)) return std::nullopt;
  return record;
}

bool service_store::save_json(const char* sql, const char* kind, const std::string& key,
                              const Json::Value& record) {
  statement_guard s{prepare(sql)};
  if (!s.statement) return false;
  bind_text(s.statement, 1, key);
  bind_text(s.statement, 2, compact_json(record));
  if (sqlite3_step(s.statement) != SQLITE_DONE) {
    QV_LOG(log_error, "Unable to store %s '%s': %s", kind, key.c_str(), sqlite3_errmsg(db_));
    return false;
  }
  return true;
}

std::vector<Json::Value> service_store::printers() {
  return json_rows("SELECT json FROM printer ORDER BY seq;");
}

std::optional<Json::Value> service_store::find_printer(const std::string& uuid) {
  return json_row("SELECT json FROM printer WHERE uuid = ?1;", uuid);
}

bool service_store::save_printer(const Json::Value& printer) {
  const Json::Value& uuid = printer["uuid"];
  if (!uuid.isString() || uuid.asString().empty()) return false;
  // An existing row keeps its place in the order.
  const Json::Value& owner = printer["owner"];
  statement_guard s{prepare(
      "INSERT INTO printer(uuid, json, owner) VALUES(?1, ?2, ?3) ON CONFLICT(uuid) DO UPDATE SET json = "
      "excluded.json, owner = excluded.owner;")};
  if (!s.statement) return false;
  bind_text(s.statement, 1, uuid.asString());
  bind_text(s.statement, 2, compact_json(printer));
  bind_text(s.statement, 3, owner.isString() ? owner.asString() : std::string());
  if (sqlite3_step(s.statement) != SQLITE_DONE) {
    QV_LOG(log_error, "Unable to store printer '%s': %s", uuid.asString().c_str(), sqlite3_errmsg(db_));
    return false;
  }
  return true;
}

std::vector<Json::Value> service_store::devices() {
  return json_rows("SELECT json FROM device ORDER BY seq;");
}

std::optional<Json::Value> service_store::find_device(const std::string& key) {
  return json_row("SELECT json FROM device WHERE key = ?1;", key);
}

bool service_store::save_device(const std::string& key, const Json::Value& device) {
  if (key.empty()) return false;
  unflushed_commits bookkeeping(db_);
  return save_json(
      "INSERT INTO device(key, json) VALUES(?1, ?2) ON CONFLICT(key) DO UPDATE SET json = excluded.json;",
      "device", key, device);
}

bool service_store::remove_printer(const std::string& uuid) {
  statement_guard s{prepare("DELETE FROM printer WHERE uuid = ?1;")};
  if (!s.statement) return false;
  bind_text(s.statement, 1, uuid);
  if (sqlite3_step(s.statement) != SQLITE_DONE) {
    QV_LOG(log_error, "Unable to remove printer '%s': %s", uuid.c_str(), sqlite3_errmsg(db_));
    return false;
  }
  return true;
}

Json::Value service_store::attributes(const Json::Value& defaults) {
  Json::Value out = defaults.isObject() ? defaults : Json::Value(Json::objectValue);
  statement_guard s{prepare("SELECT name, json FROM attribute;")};
  if (!s.statement) return out;
  while (sqlite3_step(s.statement) == SQLITE_ROW) {
    Json::Value value;
    if (parse_json(column_text(s.statement, 1), value)) out[column_text(s.statement, 0)] = value;
  }
  return out;
}

bool service_store::save_attributes(const Json::Value& members) {
  if (!members.isObject() || !db_) return false;
  if (!exec("BEGIN IMMEDIATE;")) return false;
  bool ok = true;
  {
    statement_guard s{prepare("REPLACE INTO attribute(name, json) VALUES(?1, ?2);")};
    ok = s.statement != nullptr;
    for (const std::string& name : members.getMemberNames()) {
      if (!ok) break;
      sqlite3_reset(s.statement);
      bind_text(s.statement, 1, name);
      bind_text(s.statement, 2, compact_json(members[name]));
      if (sqlite3_step(s.statement) != SQLITE_DONE) {
        QV_LOG(log_error, "Unable to store attribute '%s': %s", name.c_str(), sqlite3_errmsg(db_));
        ok = false;
      }
    }
  }
  if (!ok) {
    exec("ROLLBACK;");
    return false;
  }
  return exec("COMMIT;");
}

std::string service_store::queue_uuid(const std::string& queue_name) {
  {
    statement_guard s{prepare("SELECT uuid FROM cups_queue WHERE name = ?1;")};
    if (!s.statement) return {};
    bind_text(s.statement, 1, queue_name);
    if (sqlite3_step(s.statement) == SQLITE_ROW) return column_text(s.statement, 0);
  }
  const std::string uuid = new_uuid();
  statement_guard s{prepare("INSERT INTO cups_queue(name, uuid) VALUES(?1, ?2);")};
  if (!s.statement) return {};
  bind_text(s.statement, 1, queue_name);
  bind_text(s.statement, 2, uuid);
  if (sqlite3_step(s.statement) != SQLITE_DONE) {
    QV_LOG(log_error, "Unable to store queue '%s': %s", queue_name.c_str(), sqlite3_errmsg(db_));
    return {};
  }
  return uuid;
}

std::vector<std::string> service_store::queue_uuids() {
  std::vector<std::string> out;
  statement_guard s{prepare("SELECT uuid FROM cups_queue;")};
  if (!s.statement) return out;
  while (sqlite3_step(s.statement) == SQLITE_ROW) out.push_back(column_text(s.statement, 0));
  return out;
}

std::optional<queue_texts> service_store::last_queue_texts(const std::string& queue_name) {
  statement_guard s{prepare("SELECT info, location FROM cups_queue WHERE name = ?1 AND info IS NOT NULL;")};
  if (!s.statement) return std::nullopt;
  bind_text(s.statement, 1, queue_name);
  if (sqlite3_step(s.statement) != SQLITE_ROW) return std::nullopt;
  return queue_texts{column_text(s.statement, 0), column_text(s.statement, 1)};
}

bool service_store::set_last_queue_texts(const std::string& queue_name, const queue_texts& texts) {
  statement_guard s{prepare("UPDATE cups_queue SET info = ?2, location = ?3 WHERE name = ?1;")};
  if (!s.statement) return false;
  bind_text(s.statement, 1, queue_name);
  bind_text(s.statement, 2, texts.info);
  bind_text(s.statement, 3, texts.location);
  if (sqlite3_step(s.statement) != SQLITE_DONE) {
    QV_LOG(log_error, "Unable to store queue '%s': %s", queue_name.c_str(), sqlite3_errmsg(db_));
    return false;
  }
  return true;
}

int64_t service_store::add_job(const std::string& printer_uuid, const Json::Value& record) {
  // The one flushed commit of a job's life: it is answered as accepted only after this.
  statement_guard s{prepare("INSERT INTO job(uuid, printer_uuid, json) VALUES(?1, ?2, ?3);")};
  if (!s.statement) return 0;
  bind_text(s.statement, 1, record["uuid"].asString());
  bind_text(s.statement, 2, printer_uuid);
  bind_text(s.statement, 3, compact_json(record));
  if (sqlite3_step(s.statement) != SQLITE_DONE) {
    QV_LOG(log_error, "Unable to queue job for printer '%s': %s", printer_uuid.c_str(), sqlite3_errmsg(db_));
    return 0;
  }
  return sqlite3_last_insert_rowid(db_);
}

queued_job service_store::job_from_row(sqlite3_stmt* s) {
  queued_job job;
  job.id = sqlite3_column_int64(s, 0);
  job.uuid = column_text(s, 1);
  job.printer_uuid = column_text(s, 2);
  if (!parse_json(column_text(s, 3), job.record)) job.record = Json::Value(Json::objectValue);
  job.attempts = sqlite3_column_int(s, 4);
  job.finished = sqlite3_column_int(s, 5) != 0;
  job.status = sqlite3_column_int(s, 6);
  job.state = sqlite3_column_int(s, 7);
  job.platform_id = sqlite3_column_int(s, 8);
  return job;
}

std::vector<queued_job> service_store::jobs_where(const char* sql, int64_t id) {
  std::vector<queued_job> out;
  statement_guard s{prepare(sql)};
  if (!s.statement) return out;
  if (sqlite3_bind_parameter_count(s.statement) > 0) sqlite3_bind_int64(s.statement, 1, id);
  while (sqlite3_step(s.statement) == SQLITE_ROW) out.push_back(job_from_row(s.statement));
  return out;
}

std::optional<queued_job> service_store::find_job(int64_t id) {
  auto jobs = jobs_where(
      "SELECT id, uuid, printer_uuid, json, attempts, finished, status, state, platform_id "
      "FROM job WHERE id = ?1;",
      id);
  if (jobs.empty()) return std::nullopt;
  return std::move(jobs.front());
}

std::vector<queued_job> service_store::unfinished_jobs() {
  return jobs_where(
      "SELECT id, uuid, printer_uuid, json, attempts, finished, status, state, platform_id "
      "FROM job WHERE finished = 0 ORDER BY id;",
      0);
}

bool service_store::set_attempts(int64_t id, int32_t attempts) {
  unflushed_commits bookkeeping(db_);
  statement_guard s{prepare("UPDATE job SET attempts = ?2 WHERE id = ?1;")};
  if (!s.statement) return false;
  sqlite3_bind_int64(s.statement, 1, id);
  sqlite3_bind_int(s.statement, 2, attempts);
  if (sqlite3_step(s.statement) != SQLITE_DONE) {
    QV_LOG(log_error, "Unable to update job '%lld': %s", static_cast<long long>(id), sqlite3_errmsg(db_));
    return false;
  }
  return true;
}

bool service_store::finish_job(int64_t id, int32_t status, int32_t state, int32_t platform_id) {
  // The first form ends an unfinished job, which the count of ended jobs follows; the second writes an end
  // again over an earlier one.
  static constexpr const char* updates[] = {
      "UPDATE job SET finished = 1, status = ?2, state = ?3, platform_id = ?4, "
      "ended = CAST(strftime('%s', 'now') AS INTEGER) WHERE id = ?1 AND finished = 0;",
      "UPDATE job SET finished = 1, status = ?2, state = ?3, platform_id = ?4, "
      "ended = CAST(strftime('%s', 'now') AS INTEGER) WHERE id = ?1;",
  };
  unflushed_commits bookkeeping(db_);
  for (const char* sql : updates) {
    statement_guard s{prepare(sql)};
    if (!s.statement) return false;
    sqlite3_bind_int64(s.statement, 1, id);
    sqlite3_bind_int(s.statement, 2, status);
    sqlite3_bind_int(s.statement, 3, state);
    sqlite3_bind_int(s.statement, 4, platform_id);
    if (sqlite3_step(s.statement) != SQLITE_DONE) {
      QV_LOG(log_error, "Unable to record the outcome of job '%lld': %s", static_cast<long long>(id),
             sqlite3_errmsg(db_));
      return false;
    }
    if (sqlite3_changes(db_) == 0) continue;
    if (sql == updates[0] && ended_count_ >= 0) ++ended_count_;
    break;
  }
  return true;
}

int64_t service_store::prune_history(const history_bounds& bounds, int64_t now) {
  if (!db_) return -1;
  unflushed_commits bookkeeping(db_);
  if (ended_count_ < 0) ended_count_ = query_integer("SELECT count(*) FROM job WHERE finished = 1;");
  if (ended_count_ < 0) return -1;
  int64_t forgotten = 0;
  // Both cuts seek through an index: their cost follows what they delete, not the size of the history.
  {
    statement_guard s{prepare("DELETE FROM job WHERE finished = 1 AND ended < ?1;")};
    if (!s.statement) return -1;
    sqlite3_bind_int64(s.statement, 1, now - bounds.max_age_seconds);
    if (sqlite3_step(s.statement) != SQLITE_DONE) {
      QV_LOG(log_error, "Unable to forget old jobs in '%s': %s", path_.c_str(), sqlite3_errmsg(db_));
      return -1;
    }
    forgotten += sqlite3_changes(db_);
    ended_count_ -= sqlite3_changes(db_);
  }
  // The newest ended jobs by id (ids grow with every job queued) stay: the oldest beyond the bound go.
  const int64_t excess = ended_count_ - std::max<int64_t>(bounds.max_jobs, 0);
  if (excess <= 0) return forgotten;
  statement_guard s{
      prepare("DELETE FROM job WHERE id IN (SELECT id FROM job WHERE finished = 1 ORDER BY id LIMIT ?1);")};
  if (!s.statement) return -1;
  sqlite3_bind_int64(s.statement, 1, excess);
  if (sqlite3_step(s.statement) != SQLITE_DONE) {
    QV_LOG(log_error, "Unable to forget old jobs in '%s': %s", path_.c_str(), sqlite3_errmsg(db_));
    return -1;
  }
  ended_count_ -= sqlite3_changes(db_);
  return forgotten + sqlite3_changes(db_);
}

bool service_store::compact_if_sparse() {
  const int64_t pages = query_integer("PRAGMA page_count;");
  const int64_t unused = query_integer("PRAGMA freelist_count;");
  const int64_t page_size = query_integer("PRAGMA page_size;");
  if (pages <= 0 || unused < 0 || page_size <= 0) return false;
  if (unused * 4 < pages || unused * page_size < 1024 * 1024) return false;
  if (!exec("VACUUM;")) return false;
  QV_LOG(log_information, "Database '%s' compacted: %lld of %lld pages were unused", path_.c_str(),
         static_cast<long long>(unused), static_cast<long long>(pages));
  return true;
}

int64_t service_store::file_bytes() {
  const int64_t pages = query_integer("PRAGMA page_count;");
  const int64_t page_size = query_integer("PRAGMA page_size;");
  return pages < 0 || page_size < 0 ? -1 : pages * page_size;
}

}  // namespace quorvane::print_service
