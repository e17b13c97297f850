#include "spooler/delivered_jobs.h"

#include <ctime>
#include <utility>

#include "core/log.h"
#include "database/database.h"

namespace quorvane {

delivered_jobs::delivered_jobs(size_t capacity, int64_t keep_seconds, clock_function now)
    : capacity_(capacity), keep_seconds_(keep_seconds), now_(std::move(now)) {
  if (!now_) now_ = [] { return static_cast<int64_t>(std::time(nullptr)); };
}

bool delivered_jobs::ensure_table() {
  if (table_ready_) return true;
  table_ready_ = database::manager::shared().exec(
                     "CREATE TABLE IF NOT EXISTS delivered_job(uuid TEXT PRIMARY KEY, status INTEGER, "
                     "state INTEGER, platform_id INTEGER, delivered INTEGER);") == 0;
  return table_ready_;
}

std::optional<delivery_answer> delivered_jobs::find(const std::string& uuid) {
  if (!ensure_table()) return std::nullopt;
  const int64_t oldest = now_() - keep_seconds_;
  smart_ptr<database::statement> row = database::manager::shared().select(
      "SELECT status, state, platform_id FROM delivered_job WHERE uuid = '" + database::sql_quote(uuid) +
      "' AND delivered >= " + std::to_string(oldest) + ";");
  if (!row->step()) return std::nullopt;
  return delivery_answer{row->columnInt(0), row->columnInt(1), row->columnInt(2)};
}

bool delivered_jobs::record(const std::string& uuid, const delivery_answer& answer) {
  if (!ensure_table()) return false;
  const int64_t now = now_();
  database::manager& db = database::manager::shared();
  // A replaced row gets a new, highest row id: the row ids order the records from oldest to newest.
  const int32_t written =
      db.exec("INSERT OR REPLACE INTO delivered_job VALUES('" + database::sql_quote(uuid) + "'," +
              std::to_string(answer.status) + "," + std::to_string(answer.state) + "," +
              std::to_string(answer.platform_job_id) + "," + std::to_string(now) + ");");
  if (written != 0) return false;
  db.exec("DELETE FROM delivered_job WHERE delivered < " + std::to_string(now - keep_seconds_) +
          " OR rowid NOT IN (SELECT rowid FROM delivered_job ORDER BY rowid DESC LIMIT " +
          std::to_string(capacity_) + ");");
  return true;
}

int64_t delivered_jobs::count() {
  if (!ensure_table()) return -1;
  smart_ptr<database::statement> row =
      database::manager::shared().select("SELECT COUNT(*) FROM delivered_job;");
  return row->step() ? row->columnInt64(0) : -1;
}

void delivered_jobs::print(model::printer_ptr printer, model::job_ptr job, print_completion completion,
                           const deliver_function& deliver) {
  const std::string uuid = job ? job->uuid() : std::string();
  if (uuid.empty()) {
    deliver(std::move(printer), std::move(job), std::move(completion));
    return;
  }
  if (auto waiting = under_way_.find(uuid); waiting != under_way_.end()) {
    QV_LOG(log_information, "Job '%s' is being delivered already: it is answered when that delivery ends",
           uuid.c_str());
    waiting->second.push_back(std::move(completion));
    return;
  }
  if (const std::optional<delivery_answer> answer = find(uuid)) {
    QV_LOG(log_information,
           "Job '%s' was delivered already: answered as then (status %d, state %d), not delivered again",
           uuid.c_str(), answer->status, answer->state);
    completion(answer->status, answer->state, answer->platform_job_id);
    return;
  }
  under_way_[uuid].push_back(std::move(completion));
  // The record outlives a session that ends while a delivery runs on a worker.
  smart_ptr<delivered_jobs> self(this);
  deliver(std::move(printer), std::move(job),
          [self, uuid](int32_t status, int32_t state, int32_t platform_job_id) {
            self->finish(uuid, delivery_answer{status, state, platform_job_id});
          });
}

void delivered_jobs::finish(const std::string& uuid, const delivery_answer& answer) {
  const auto found = under_way_.find(uuid);
  if (found == under_way_.end()) {
    QV_LOG(log_warning, "Unable to answer job '%s' again: its delivery already answered", uuid.c_str());
    return;
  }
  // The record comes before the answer: a service stopped after the answer left and before it stored the
  // job's end sends the job again, and that repeat must find the record.
  if (!record(uuid, answer)) {
    QV_LOG(log_error, "Unable to record delivered job '%s': a repeat of it would be delivered again",
           uuid.c_str());
  }
  std::vector<print_completion> waiting = std::move(found->second);
  under_way_.erase(found);
  for (print_completion& completion : waiting) {
    completion(answer.status, answer.state, answer.platform_job_id);
  }
}

}  // namespace quorvane
