#include "spooler/delivered_jobs.h"

#include <algorithm>
#include <ctime>
#include <utility>

#include "core/log.h"
#include "database/database.h"
#include "model/values.h"
#include "spooler/document_folder.h"

namespace quorvane {

namespace {

// The columns that came after the first version of the table, each added to an older table on first use.
// They describe the job for the list of recent documents; a record without them (an older one, or one
// written by `record(uuid, answer)`) is not listed.
struct added_column {
  const char* name;
  const char* type;
};

constexpr added_column added_columns[] = {
    {"document", "TEXT"},
    {"user", "TEXT"},
    {"device", "TEXT"},
    {"printer", "TEXT"},
    {"action", "INTEGER"},
    {"action_param", "TEXT"},
    {"file", "TEXT"},
    {"format", "TEXT"},
    {"failure", "INTEGER"},
    // 0 once the user took the document off the list: the record stays for the job's repeats.
    {"listed", "INTEGER NOT NULL DEFAULT 1"},
};

// `text` as an SQL string literal.
std::string quoted(const std::string& text) {
  return "'" + database::sql_quote(text) + "'";
}

}  // namespace

delivered_document delivered_document_of(const model::printer& printer, const model::job& job,
                                         int32_t status) {
  delivered_document d;
  d.uuid = job.uuid();
  d.document = job.name().narrow();
  d.user = job.user().narrow();
  d.device = !job.deviceID().empty() ? job.deviceID().narrow() : job.deviceAddress();
  d.printer = printer.displayName();
  d.action = printer.action();
  // A printer that prints names its CUPS queue by its own name.
  d.action_param =
      printer.action() == model::action_print ? printer.name().narrow() : printer.actionParam().narrow();
  if (status == 0 && (keeps_documents(printer) || printer.action() == model::action_open)) {
    d.file = job.filename().narrow();
  }
  d.format = job.format().narrow();
  d.status = status;
  d.failure = status == 0 ? 0 : job.deliveryFailure();
  return d;
}

delivered_jobs::delivered_jobs(size_t capacity, int64_t keep_seconds, clock_function now)
    : capacity_(capacity), keep_seconds_(keep_seconds), now_(std::move(now)) {
  if (!now_) now_ = [] { return static_cast<int64_t>(std::time(nullptr)); };
}

bool delivered_jobs::ensure_table() {
  if (table_ready_) return true;
  database::manager& db = database::manager::shared();
  if (db.exec("CREATE TABLE IF NOT EXISTS delivered_job(uuid TEXT PRIMARY KEY, status INTEGER, "
              "state INTEGER, platform_id INTEGER, delivered INTEGER);") != 0) {
    return false;
  }
  std::vector<std::string> present;
  smart_ptr<database::statement> columns = db.select("PRAGMA table_info(delivered_job);");
  while (columns->step()) present.push_back(columns->columnText(1));
  for (const added_column& c : added_columns) {
    if (std::find(present.begin(), present.end(), c.name) != present.end()) continue;
    if (db.exec(std::string("ALTER TABLE delivered_job ADD COLUMN ") + c.name + " " + c.type + ";") != 0) {
      return false;
    }
  }
  table_ready_ = true;
  return true;
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
  return write(uuid, answer, nullptr);
}

bool delivered_jobs::record(const delivered_document& document, const delivery_answer& answer) {
  return write(document.uuid, answer, &document);
}

bool delivered_jobs::write(const std::string& uuid, const delivery_answer& answer,
                           const delivered_document* document) {
  if (!ensure_table()) return false;
  const int64_t now = now_();
  database::manager& db = database::manager::shared();
  std::string sql =
      "INSERT OR REPLACE INTO delivered_job(uuid, status, state, platform_id, delivered, document, user, "
      "device, printer, action, action_param, file, format, failure) VALUES(" +
      quoted(uuid) + "," + std::to_string(answer.status) + "," + std::to_string(answer.state) + "," +
      std::to_string(answer.platform_job_id) + "," + std::to_string(now) + ",";
  if (document) {
    sql += quoted(document->document) + "," + quoted(document->user) + "," + quoted(document->device) + "," +
           quoted(document->printer) + "," + std::to_string(document->action) + "," +
           quoted(document->action_param) + "," + quoted(document->file) + "," + quoted(document->format) +
           "," + std::to_string(document->failure) + ");";
  } else {
    sql += "NULL,NULL,NULL,NULL,NULL,NULL,NULL,NULL,NULL);";
  }
  // A replaced row gets a new, highest row id: the row ids order the records from oldest to newest.
  if (db.exec(sql) != 0) return false;
  db.exec("DELETE FROM delivered_job WHERE delivered < " + std::to_string(now - keep_seconds_) +
          " OR rowid NOT IN (SELECT rowid FROM delivered_job ORDER BY rowid DESC LIMIT " +
          std::to_string(capacity_) + ");");
  return true;
}

std::vector<delivered_document> delivered_jobs::listed_documents() {
  std::vector<delivered_document> documents;
  if (!ensure_table()) return documents;
  smart_ptr<database::statement> row = database::manager::shared().select(
      "SELECT uuid, delivered, document, user, device, printer, action, action_param, file, format, status, "
      "failure FROM delivered_job WHERE document IS NOT NULL AND listed = 1 AND delivered >= " +
      std::to_string(now_() - keep_seconds_) + " ORDER BY rowid DESC;");
  while (row->step()) {
    delivered_document d;
    d.uuid = row->columnText(0);
    d.delivered = row->columnInt64(1);
    d.document = row->columnText(2);
    d.user = row->columnText(3);
    d.device = row->columnText(4);
    d.printer = row->columnText(5);
    d.action = row->columnInt(6);
    d.action_param = row->columnText(7);
    d.file = row->columnText(8);
    d.format = row->columnText(9);
    d.status = row->columnInt(10);
    d.failure = row->columnInt(11);
    documents.push_back(std::move(d));
  }
  return documents;
}

bool delivered_jobs::unlist(const std::string& uuid) {
  if (!ensure_table()) return false;
  database::manager& db = database::manager::shared();
  smart_ptr<database::statement> row =
      db.select("SELECT rowid FROM delivered_job WHERE uuid = " + quoted(uuid) +
                " AND listed = 1 AND document IS NOT NULL;");
  if (!row->step()) return false;
  return db.exec("UPDATE delivered_job SET listed = 0 WHERE uuid = " + quoted(uuid) + ";") == 0;
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
  // What is kept of the job is read once the delivery is done: it names the file the delivery left.
  deliver(printer, job, [self, printer, job, uuid](int32_t status, int32_t state, int32_t platform_job_id) {
    const delivery_answer answer{status, state, platform_job_id};
    if (!printer) {
      self->finish(uuid, answer, nullptr);
      return;
    }
    const delivered_document document = delivered_document_of(*printer, *job, status);
    self->finish(uuid, answer, &document);
  });
}

void delivered_jobs::finish(const std::string& uuid, const delivery_answer& answer,
                            const delivered_document* document) {
  const auto found = under_way_.find(uuid);
  if (found == under_way_.end()) {
    QV_LOG(log_warning, "Unable to answer job '%s' again: its delivery already answered", uuid.c_str());
    return;
  }
  // The record comes before the answer: a service stopped after the answer left and before it stored the
  // job's end sends the job again, and that repeat must find the record.
  if (!write(uuid, answer, document)) {
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
