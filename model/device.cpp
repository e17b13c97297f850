#include "model/device.h"

#include "model/record_p.h"

namespace quorvane::model {

device::~device() {
  if (oid_ != 0) save();
}

namespace {

// The table's statements, run in this order; the first creates the table, the others its indexes.
constexpr const char* create_statements[] = {
    "CREATE TABLE IF NOT EXISTS device(oid INTEGER PRIMARY KEY AUTOINCREMENT, uuid TEXT, json TEXT);",
    "CREATE INDEX IF NOT EXISTS device_uuid_nocase_idx ON device(uuid COLLATE NOCASE);",
};

}  // namespace

bool device::createTable() {
  return detail::create_table(create_statements);
}

void device::writeJSON(Json::Value& out) const {
  out["uuid"] = uuid_;
  out["host"] = host_.narrow();
  out["lastUsed"] = Json::Int64(lastUsed_);
}

void device::readJSON(const Json::Value& in) {
  const json::reader read(in, "device");
  uuid_ = read.text("uuid");
  host_ = read.wide("host");
  lastUsed_ = read.int64("lastUsed", 0);
}

bool device::save() {
  if (!dirty_) return true;
  Json::Value root(Json::objectValue);
  writeJSON(root);
  const std::string sql = detail::insert_or_replace(table_name, oid_) + ",'" + database::sql_quote(uuid_) +
                          "','" + database::sql_quote(quorvane::compact_json(root)) + "');";
  return finish_save(database::manager::shared().exec(sql));
}

void device::setHost(const wide_string& value) {
  detail::assign(host_, value, dirty_);
}
void device::setLastUsed(int64_t value) {
  detail::assign(lastUsed_, value, dirty_);
}

}  // namespace quorvane::model
