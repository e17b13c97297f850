// The database manager interface: the one SQLite database of the console, its statements and observers.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "core/component.h"
#include "core/os.h"
#include "core/ref_counted.h"

namespace quorvane::database {

/// Is told about row changes of the tables it observes.
class observer {
 public:
  /// An observer is destroyed through its interface.
  virtual ~observer() = default;
  /// A row of `table` was inserted or updated.
  virtual void rowChanged(const std::string& table, int64_t rowid) = 0;
  /// A row of `table` was deleted.
  virtual void rowDeleted(const std::string& table, int64_t rowid) = 0;
};

/// One prepared query whose rows are read one at a time; a statement that failed to prepare has no rows.
class statement : public ref_counted_object {
 public:
  /// Advances to the next row; false at the end of the rows, on an error, or when the query failed to
  /// prepare.
  virtual bool step() = 0;
  /// The column's integer value is not 0; false without a row.
  virtual bool columnBool(int index) = 0;
  /// The column as a signed 32-bit integer; 0 without a row.
  virtual int32_t columnInt(int index) = 0;
  /// The column as a signed 64-bit integer; 0 without a row.
  virtual int64_t columnInt64(int index) = 0;
  /// The column as UTF-8 text; empty for SQL NULL and without a row.
  virtual std::string columnText(int index) = 0;
};

/// The component through which every part of the console reaches the database file.
class manager : public component {
 public:
  /// Appends `o` to the observers of `table` (the same observer may be added twice).
  virtual void addObserver(const std::string& table, observer* o) = 0;
  /// Removes every occurrence of `o` from the observers of `table`; an unknown table is ignored.
  virtual void removeObserver(const std::string& table, observer* o) = 0;
  /// Runs every statement of `sql`; returns SQLite's result code (0 success, the failing code otherwise).
  virtual int32_t exec(const std::string& sql) = 0;
  /// Prepares the first statement of `sql`; never null: a statement without rows when preparing fails.
  virtual smart_ptr<statement> select(const std::string& sql) = 0;
  /// The row id of the most recent successful insert on the connection (0 when there is none).
  virtual int64_t lastInsertRowID() = 0;
  /// Closes the connection; false when there is none or SQLite refuses (statements still open).
  virtual bool close() = 0;

  /// The process-wide database manager, opened on demand (the open is retried on every use until it
  /// succeeds).
  static manager& shared();
};

/// A copy of `text` with every single quote doubled and NUL bytes left out, for use between single quotes in
/// SQL text.
std::string sql_quote(std::string_view text);

/// `sql_quote` of the UTF-8 form of `text` (its UTF-8 copy is refreshed first).
std::string sql_quote(const wide_string& text);

}  // namespace quorvane::database
