#include "database/database_sqlite.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <sqlite3.h>

#include <algorithm>

#include "core/log.h"
#include "core/workspace.h"

namespace quorvane::database {

std::string loggable_statement(std::string_view sql) {
  // A stored proxy record carries its password as the JSON member "password"; the statement that writes it
  // is logged with that value left out.
  static constexpr std::string_view key = "\"password\":\"";
  std::string out;
  size_t from = 0;
  for (size_t at = sql.find(key); at != std::string_view::npos; at = sql.find(key, from)) {
    const size_t value = at + key.size();
    size_t end = value;
    while (end < sql.size() && sql[end] != '"') end += sql[end] == '\\' ? 2 : 1;
    out.append(sql.substr(from, value - from));
    if (end > value) out.append("***");
    from = std::min(end, sql.size());
  }
  out.append(sql.substr(from));
  return out;
}

// ---- statement_impl

statement_impl::~statement_impl() {
  if (handle_) sqlite3_finalize(handle_);
}

bool statement_impl::step() {
  // SQLite restarts a finished statement on the next step: once at the end, stay there.
  if (!handle_ || finished_) return false;
  if (sqlite3_step(handle_) == SQLITE_ROW) return true;
  finished_ = true;
  return false;
}

bool statement_impl::columnBool(int index) {
  return handle_ && sqlite3_column_int64(handle_, index) != 0;
}

int32_t statement_impl::columnInt(int index) {
  return handle_ ? sqlite3_column_int(handle_, index) : 0;
}

int64_t statement_impl::columnInt64(int index) {
  return handle_ ? sqlite3_column_int64(handle_, index) : 0;
}

std::string statement_impl::columnText(int index) {
  if (!handle_) return {};
  const unsigned char* text = sqlite3_column_text(handle_, index);
  if (!text) return {};
  return std::string(reinterpret_cast<const char*>(text),
                     static_cast<size_t>(sqlite3_column_bytes(handle_, index)));
}

// ---- manager_impl

namespace {

extern "C" void update_hook(void* context, int operation, const char* /*database*/, const char* table,
                            sqlite3_int64 rowid) {
  static_cast<manager_impl*>(context)->rowWasChanged(operation, table, rowid);
}

}  // namespace

manager_impl::manager_impl(folder_source data_folder) : data_folder_(std::move(data_folder)) {}

manager_impl::~manager_impl() = default;

manager_impl& manager_impl::instance() {
  static manager_impl the_manager([] { return workspace::shared().data_folder(); });
  return the_manager;
}

manager& manager::shared() {
  return initialized(manager_impl::instance());
}

int32_t manager_impl::applicationWillInitialize() {
  if (status_ == 0) return 0;

  // Without a data folder the path would name a file at the root of the file system: wait for the folder.
  const std::string folder = data_folder_().narrow();
  if (folder.empty()) {
    QV_LOG(log_error, "Unable to open database 'quorvane.db': the data folder is not known");
    return status_;
  }
  const std::string path = folder + "/quorvane.db";
  // The file holds proxy credentials: only its owner may read it, whatever the umask or the folder's mode.
  // SQLite gives its journal files the database file's permissions.
  if (const int file = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600); file >= 0) {
    struct stat info {};
    if (fstat(file, &info) == 0 && info.st_uid == geteuid() && (info.st_mode & 077) != 0) fchmod(file, 0600);
    ::close(file);
  }
  sqlite3* connection = nullptr;
  const int result =
      sqlite3_open_v2(path.c_str(), &connection, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
  if (result != SQLITE_OK) {
    QV_LOG(log_error, "Unable to open database '%s': %s", path.c_str(),
           connection ? sqlite3_errmsg(connection) : sqlite3_errstr(result));
    // The failed handle is closed so that the next use starts a clean attempt.
    sqlite3_close(connection);
    return status_;
  }
  connection_ = connection;
  // Every save is its own transaction: a write-ahead log makes each commit one append instead of a
  // rollback journal created, synced and deleted, and a cache that holds the whole printer table keeps
  // the look-ups in memory. A commit may roll back after a power loss, but the file stays consistent.
  sqlite3_exec(connection_, "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL; PRAGMA cache_size=-32768;",
               nullptr, nullptr, nullptr);
  // A connection reopened after `close` keeps reporting changes once the second phase has run.
  if (observing_) sqlite3_update_hook(connection_, &update_hook, this);
  status_ = 0;
  return 0;
}

int32_t manager_impl::applicationDidInitialize() {
  if (status_ != 0) return status_;
  // Report the rows already stored, so that an observer sees every row once before the live changes.
  for (const auto& [table, list] : observers_) {
    smart_ptr<statement> rows = select("SELECT oid from " + table);
    while (rows->step()) rowWasChanged(SQLITE_INSERT, table, rows->columnInt64(0));
  }
  sqlite3_update_hook(connection_, &update_hook, this);
  observing_ = true;
  return status_;
}

void manager_impl::rowWasChanged(int operation, const std::string& table, int64_t rowid) {
  const auto found = observers_.find(table);
  if (found == observers_.end()) return;
  // A copy: an observer may add or remove observers while it is told.
  const std::vector<observer*> list = found->second;
  for (observer* o : list) {
    if (operation == SQLITE_DELETE) {
      o->rowDeleted(table, rowid);
    } else if (operation == SQLITE_INSERT || operation == SQLITE_UPDATE) {
      o->rowChanged(table, rowid);
    }
  }
}

void manager_impl::addObserver(const std::string& table, observer* o) {
  observers_[table].push_back(o);
}

void manager_impl::removeObserver(const std::string& table, observer* o) {
  const auto found = observers_.find(table);
  if (found == observers_.end()) return;
  std::erase(found->second, o);
}

int32_t manager_impl::exec(const std::string& sql) {
  if (log_level_threshold() >= log_verbose) QV_LOG(log_verbose, "exec: %s", loggable_statement(sql).c_str());
  if (!connection_) {
    QV_LOG(log_error, "sqlite3_exec() failed: %d, %s", SQLITE_CANTOPEN, "the database is not open");
    return SQLITE_CANTOPEN;
  }
  char* message = nullptr;
  const int result = sqlite3_exec(connection_, sql.c_str(), nullptr, nullptr, &message);
  if (result != SQLITE_OK) {
    QV_LOG(log_error, "sqlite3_exec() failed: %d, %s", result, message ? message : sqlite3_errstr(result));
  }
  sqlite3_free(message);
  return result;
}

smart_ptr<statement> manager_impl::select(const std::string& sql) {
  if (log_level_threshold() >= log_verbose)
    QV_LOG(log_verbose, "select: %s\n", loggable_statement(sql).c_str());
  sqlite3_stmt* handle = nullptr;
  if (connection_ && sqlite3_prepare_v2(connection_, sql.c_str(), -1, &handle, nullptr) != SQLITE_OK) {
    handle = nullptr;
  }
  return make_counted<statement_impl>(handle);
}

int64_t manager_impl::lastInsertRowID() {
  return connection_ ? sqlite3_last_insert_rowid(connection_) : 0;
}

bool manager_impl::close() {
  if (!connection_) return false;
  if (sqlite3_close(connection_) != SQLITE_OK) return false;
  connection_ = nullptr;
  status_ = 1;
  return true;
}

// ---- quoting

std::string sql_quote(std::string_view text) {
  std::string quoted;
  quoted.reserve(text.size() + 2);
  for (const char c : text) {
    // SQLite reads statement text up to its first NUL: a NUL kept here would cut the statement short
    // inside this literal, so that the value could never be stored. It is left out instead.
    if (c == '\0') continue;
    quoted.push_back(c);
    if (c == '\'') quoted.push_back('\'');
  }
  return quoted;
}

std::string sql_quote(const wide_string& text) {
  return sql_quote(std::string_view(text.narrow()));
}

}  // namespace quorvane::database
