// The print service's durable state: printers, attributes, CUPS queue identities and the job queue,
// kept in one SQLite file in the service's data folder.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <json/json.h>

namespace quorvane::print_service {

/// One job as the queue keeps it.
struct queued_job {
  int64_t id = 0;
  std::string uuid;
  std::string printer_uuid;
  Json::Value record;  // the job as sent in "print" (its "filename" points into the spool)
  int32_t attempts = 0;
  bool finished = false;
  int32_t status = 0;
  int32_t state = 3;
  int32_t platform_id = 0;
};

/// How much history of ended jobs the store keeps.
struct history_bounds {
  int64_t max_jobs = 1000;                  // the newest ended jobs kept
  int64_t max_age_seconds = 7 * 24 * 3600;  // an ended job is forgotten this long after its end
};

/// What CUPS last said of a queue's description and location.
struct queue_texts {
  std::string info;
  std::string location;
};

/// The SQLite file "service.db" and the service's own tables in it.
class service_store {
 public:
  /// A store with no file open (every operation fails until `open` succeeds).
  service_store() = default;
  service_store(const service_store&) = delete;
  service_store& operator=(const service_store&) = delete;
  /// Closes the database file.
  ~service_store();

  /// Opens (or creates) the database file at `path` and its tables. Returns false after logging the cause.
  bool open(const std::string& path);

  /// Every stored printer, in the order they were first stored.
  std::vector<Json::Value> printers();

  /// The stored printer with `uuid` (ASCII case ignored), if any.
  std::optional<Json::Value> find_printer(const std::string& uuid);

  /// Stores `printer` under its "uuid" member, new or replaced. Returns false for an empty uuid or a failed
  /// write.
  bool save_printer(const Json::Value& printer);

  /// Deletes the printer with `uuid`. Returns false on a failed write (a missing printer is no failure).
  bool remove_printer(const std::string& uuid);

  /// Every device that printed (records of "uuid", "host", "lastUsed"), in the order they first printed.
  std::vector<Json::Value> devices();

  /// The device stored under `key` (its hardware address, else its network address), if any.
  std::optional<Json::Value> find_device(const std::string& key);

  /// Stores `device` under `key`, new or replaced. Returns false for an empty key or a failed write.
  bool save_device(const std::string& key, const Json::Value& device);

  /// The attributes object: the stored members over `defaults`.
  Json::Value attributes(const Json::Value& defaults);

  /// Stores every member of the object `members`, replacing those of the same names, in one transaction.
  /// Returns false when `members` is not an object or the write fails (then nothing is stored).
  bool save_attributes(const Json::Value& members);

  /// The printer uuid of the CUPS queue `queue_name`: the stored one, or a new one that is stored now.
  /// Returns "" when it cannot be stored.
  std::string queue_uuid(const std::string& queue_name);

  /// Every uuid given to a CUPS queue so far.
  std::vector<std::string> queue_uuids();

  /// The description and location CUPS gave the queue `queue_name` when last read; none before the first
  /// reading.
  std::optional<queue_texts> last_queue_texts(const std::string& queue_name);

  /// Remembers what CUPS says of the queue's description and location now. Returns false on a failed write.
  bool set_last_queue_texts(const std::string& queue_name, const queue_texts& texts);

  /// Queues a job for `printer_uuid`; `record` must carry "uuid". Returns the job's id, or 0 on failure.
  int64_t add_job(const std::string& printer_uuid, const Json::Value& record);

  /// The job with `id`, if any.
  std::optional<queued_job> find_job(int64_t id);

  /// Unfinished jobs, oldest first.
  std::vector<queued_job> unfinished_jobs();

  /// Records that the job was handed out once more. Returns false on a failed write.
  bool set_attempts(int64_t id, int32_t attempts);

  /// Records the job's final outcome, ended now. Returns false on a failed write.
  bool finish_job(int64_t id, int32_t status, int32_t state, int32_t platform_id);

  /// Forgets ended jobs beyond `bounds`: those that ended more than `max_age_seconds` before `now`, and all
  /// but the newest `max_jobs`. Unfinished jobs are never touched. Returns how many were forgotten, -1 after
  /// logging a failed write.
  int64_t prune_history(const history_bounds& bounds, int64_t now);

  /// Rebuilds the file (VACUUM) when at least a quarter of its pages, and 1 MiB, lie unused. Returns true
  /// when it did (a failure is logged and leaves the file as it was).
  bool compact_if_sparse();

  /// The size of the database's pages in use and unused (the file's size without its journal); -1 when the
  /// store is not open.
  int64_t file_bytes();

 private:
  /// Runs one statement without results; logs and returns false on failure.
  bool exec(const char* sql);

  /// Adds the columns that files of earlier versions lack. Returns false after logging a failure.
  bool add_missing_columns();

  /// Whether `table` has a column `column`.
  bool has_column(const char* table, const char* column);

  /// The single integer a statement without parameters returns; -1 on failure.
  int64_t query_integer(const char* sql);

  /// Prepares `sql`; null after logging on failure.
  sqlite3_stmt* prepare(const char* sql);

  /// The records of the json column that `sql` (a SELECT without parameters) returns, in its order; a row
  /// whose text is no JSON is left out.
  std::vector<Json::Value> json_rows(const char* sql);

  /// The record of the json column of the row that `sql` returns for `key` (its one parameter); none when
  /// there is no such row or its text is no JSON.
  std::optional<Json::Value> json_row(const char* sql, const std::string& key);

  /// Runs `sql`, an insert or replace of `key` (parameter 1) with the JSON text of `record` (parameter 2).
  /// Returns false after logging a failed write, which names the row as the `kind` `key`.
  bool save_json(const char* sql, const char* kind, const std::string& key, const Json::Value& record);

  /// Reads the job row that `statement` stands on.
  static queued_job job_from_row(sqlite3_stmt* statement);

  /// The jobs a SELECT of the job columns returns (`id` bound to its parameter, if it has one).
  std::vector<queued_job> jobs_where(const char* sql, int64_t id);

  sqlite3* db_ = nullptr;
  std::string path_;
  int64_t ended_count_ = -1;  // ended jobs in the table; -1 until counted (by the first history cut)
};

}  // namespace quorvane::print_service
