// Persistent records: the row a record lives in, and the generic queries that turn rows into records.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "core/ref_counted.h"
#include "database/database.h"

namespace quorvane::database {

/// The database side of a persisted record: its row id, its identity and whether it differs from its row.
///
/// A persisted record derives from `model::object` first and from this second. Its most derived
/// destructor calls `save` when the record has a row (the save-on-release rule), which writes only
/// when the record is dirty.
class object {
 public:
  /// A record without a row: oid 0, empty uuid, clean.
  object() = default;
  /// Copies oid, uuid and dirty.
  object(const object&) = default;
  /// Copies oid, uuid and dirty.
  object& operator=(const object&) = default;
  /// Destroys the record; saving on release is up to the most derived class.
  virtual ~object() = default;

  /// The record's table name (a constant per class).
  virtual const char* tableName() const = 0;
  /// Writes the record to its table when needed; true when the record is clean afterwards, false when the
  /// statement failed (the record stays dirty, and its `oid` unchanged).
  virtual bool save() = 0;

  /// The row id in the record's table; 0 while the record has no row.
  int64_t oid() const { return oid_; }
  /// The record's identity (column `uuid`).
  const std::string& uuid() const { return uuid_; }
  /// True when the record differs from its row.
  bool dirty() const { return dirty_; }

  /// Sets the identity without marking the record dirty.
  void setUuid(std::string uuid) { uuid_ = std::move(uuid); }

 protected:
  /// Finishes a save: on `result` 0 takes the new row id (for an insert) and clears `dirty`; returns !dirty.
  bool finish_save(int32_t result);

  int64_t oid_ = 0;
  std::string uuid_;
  bool dirty_ = false;
};

/// Walks the rows of a query, building one record of T per row. T has a constructor from a `statement`
/// that stands on a row.
template <class T>
class cursor {
 public:
  /// A cursor at its end.
  cursor() = default;
  /// A cursor over the rows of `rows`, standing on the first row (current is null when there is none).
  explicit cursor(smart_ptr<statement> rows) : statement_(std::move(rows)) { next(); }

  /// Advances to the next row; returns the new current record, null when the rows are exhausted.
  smart_ptr<T> next() {
    if (statement_ && statement_->step()) {
      current_ = make_counted<T>(*statement_);
    } else {
      current_.reset();
    }
    return current_;
  }

  /// The record built from the row the cursor stands on; null at the end.
  smart_ptr<T> current() const { return current_; }

 private:
  smart_ptr<T> current_;
  smart_ptr<statement> statement_;
};

/// A cursor over every row of T's table.
template <class T>
cursor<T> open_cursor() {
  return cursor<T>(manager::shared().select(std::string("SELECT * FROM ") + T::table_name + ";"));
}

/// A cursor over the rows of T's table whose `column` matches `value` with SQL LIKE (ASCII case ignored,
/// "%" and "_" act as wildcards). `column` is inserted as it is: pass only a known column name.
template <class T>
cursor<T> open_cursor(std::string_view column, std::string_view value) {
  return cursor<T>(manager::shared().select(std::string("SELECT * FROM ") + T::table_name + " WHERE " +
                                            std::string(column) + " LIKE '" + sql_quote(value) + "';"));
}

/// The first record of T's table whose uuid matches `uuid` with SQL LIKE; null when there is none or the
/// query fails.
template <class T>
smart_ptr<T> find_by_uuid(std::string_view uuid) {
  smart_ptr<statement> rows = manager::shared().select(std::string("SELECT * FROM ") + T::table_name +
                                                       " WHERE uuid LIKE '" + sql_quote(uuid) + "';");
  if (!rows->step()) return nullptr;
  return make_counted<T>(*rows);
}

/// Deletes the record's row (nothing when it has none); the record keeps its `oid` and `dirty`.
void remove(const object& record);

/// Makes the statements run on the shared manager while it lives one transaction, so that a batch of saves
/// is written with one commit instead of one each. Transactions nest: an inner one leaves the commit to the
/// outermost. Used on one thread at a time (the console's database is the UI thread's).
class transaction {
 public:
  /// Begins a transaction, unless one is open already or the database cannot begin one (then every
  /// statement commits on its own, as without a transaction).
  transaction();
  /// Commits what this transaction began; when the commit fails, logs it and rolls back, so that the
  /// connection is never left inside a transaction.
  ~transaction();
  transaction(const transaction&) = delete;
  transaction& operator=(const transaction&) = delete;

  /// True when this object began the transaction and commits it.
  bool began() const { return began_; }

 private:
  bool began_ = false;
};

}  // namespace quorvane::database
