// The SQLite implementation of the database manager.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "database/database.h"

struct sqlite3;
struct sqlite3_stmt;

namespace quorvane::database {

/// One SQLite prepared statement (possibly none: a query that failed to prepare).
class statement_impl final : public statement {
 public:
  /// Takes ownership of `handle`, which may be null.
  explicit statement_impl(sqlite3_stmt* handle) : handle_(handle) {}
  /// Finalizes the SQLite statement, if any.
  ~statement_impl() override;

  /// Steps the statement; false at the end, on an error or without a statement, and for good after that.
  bool step() override;
  /// The column is not 0; false without a statement.
  bool columnBool(int index) override;
  /// The column as a 32-bit integer; 0 without a statement.
  int32_t columnInt(int index) override;
  /// The column as a 64-bit integer; 0 without a statement.
  int64_t columnInt64(int index) override;
  /// The column as UTF-8 text; empty for NULL and without a statement.
  std::string columnText(int index) override;

 private:
  sqlite3_stmt* handle_;
  bool finished_ = false;  // a step found the end of the rows or an error
};

/// The database manager on SQLite: "quorvane.db" in the data folder.
class manager_impl final : public manager {
 public:
  /// Where the database lives: returns the data folder, or an empty path when it is not known (yet).
  using folder_source = std::function<wide_string()>;

  /// A manager that opens "quorvane.db" in the folder `data_folder` returns; not registered, not open.
  explicit manager_impl(folder_source data_folder);
  /// Frees the observer map; the connection is left open, as at process end.
  ~manager_impl() override;

  /// The process-wide instance, which opens the database in the workspace's data folder; not initialised.
  static manager_impl& instance();

  /// Opens the database (once); returns the status (0 open, 1 not open: the next use tries again).
  int32_t applicationWillInitialize() override;
  /// Replays the rows of every observed table as changes and installs the update hook; returns the status.
  int32_t applicationDidInitialize() override;

  /// Appends `o` to the observers of `table`.
  void addObserver(const std::string& table, observer* o) override;
  /// Removes every occurrence of `o` from the observers of `table`.
  void removeObserver(const std::string& table, observer* o) override;
  /// Logs and runs `sql`; returns SQLite's result code (SQLITE_CANTOPEN when the database is not open).
  int32_t exec(const std::string& sql) override;
  /// Logs and prepares `sql`; a statement without rows when it fails or the database is not open.
  smart_ptr<statement> select(const std::string& sql) override;
  /// SQLite's last insert row id; 0 when the database is not open.
  int64_t lastInsertRowID() override;
  /// Closes the connection and makes the next use open it again; false when there is none or SQLite
  /// refuses (statements still open).
  bool close() override;

  /// Tells the observers of `table` about one change; `operation` is SQLite's code (9 delete, 18 insert,
  /// 23 update; others are ignored).
  void rowWasChanged(int operation, const std::string& table, int64_t rowid);

 private:
  folder_source data_folder_;
  std::map<std::string, std::vector<observer*>> observers_;
  sqlite3* connection_ = nullptr;
  bool observing_ = false;  // the second phase has installed the update hook
};

/// The text with which a statement is logged: `sql` with the value of every JSON member "password" replaced
/// by
/// "***" (an empty value stays empty).
std::string loggable_statement(std::string_view sql);

}  // namespace quorvane::database
