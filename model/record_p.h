// Helpers shared by the records' implementations.
#pragma once

#include <span>
#include <string>

#include "core/json_text.h"
#include "core/log.h"
#include "database/database.h"
#include "model/json_p.h"

namespace quorvane::model::detail {

/// Stores `value` in `field` and sets `dirty` when they differ.
template <class T, class U>
void assign(T& field, const U& value, bool& dirty) {
  if (field == value) return;
  field = value;
  dirty = true;
}

/// Runs `statements` in order on the process-wide database: the first creates a record's table, the others
/// its indexes. Returns false when the table statement fails (an index that fails only costs speed).
inline bool create_table(std::span<const char* const> statements) {
  database::manager& db = database::manager::shared();
  const bool created = !statements.empty() && db.exec(statements.front()) == 0;
  for (size_t i = 1; i < statements.size(); ++i) db.exec(statements[i]);
  return created;
}

/// Parses the json column of a row; false (with a warning) when it is not a JSON object.
inline bool parse_row_json(const std::string& text, const char* table, int64_t oid, Json::Value& root) {
  if (quorvane::parse_json(text, root) && root.isObject()) return true;
  QV_LOG(log_warning, "Unable to read %s row %lld: its json column is not a JSON object", table,
         static_cast<long long>(oid));
  return false;
}

/// "INSERT INTO <table> VALUES(NULL" for a record without a row, else "REPLACE INTO <table> VALUES(<oid>".
inline std::string insert_or_replace(const char* table, int64_t oid) {
  if (oid == 0) return std::string("INSERT INTO ") + table + " VALUES(NULL";
  return std::string("REPLACE INTO ") + table + " VALUES(" + std::to_string(oid);
}

}  // namespace quorvane::model::detail
