#include "model/proxy.h"

#include "model/record_p.h"

namespace quorvane::network {

proxy::proxy(quorvane::uri target) : uri_(std::move(target)) {}

proxy::proxy(database::statement& row) {
  oid_ = row.columnInt64(0);
  uuid_ = row.columnText(1);
  Json::Value root;
  if (model::detail::parse_row_json(row.columnText(2), table_name, oid_, root)) readJSON(root);
}

proxy::~proxy() {
  if (oid_ != 0) save();
}

namespace {

// The table's statements, run in this order; the first creates the table, the others its indexes.
constexpr const char* create_statements[] = {
    "CREATE TABLE IF NOT EXISTS proxy(oid INTEGER PRIMARY KEY AUTOINCREMENT, uri TEXT, json TEXT);",
    "CREATE INDEX IF NOT EXISTS uri_idx ON proxy(uri);",
};

}  // namespace

bool proxy::createTable() {
  return model::detail::create_table(create_statements);
}

void proxy::writeJSON(Json::Value& out) const {
  out["uri"] = uri_.text();
  out["host"] = host_.narrow();
  out["bypass"] = bypass_.narrow();
  out["port"] = port_;
  out["user"] = user_.narrow();
  out["password"] = password_.narrow();
}

void proxy::readJSON(const Json::Value& in) {
  const model::json::reader read(in, "proxy");
  uri_ = quorvane::uri(read.text("uri"));
  host_ = read.wide("host");
  bypass_ = read.wide("bypass");
  // A record without a port means the HTTP default; larger numbers keep their low 16 bits.
  port_ = static_cast<uint16_t>(read.int32("port", 80));
  user_ = read.wide("user");
  password_ = read.wide("password");
}

std::string proxy::target() const {
  return uri_.scheme() + "://" + uri_.host() + ":" + std::to_string(uri_.port());
}

bool proxy::save() {
  if (!dirty_ && oid_ != 0) return true;
  Json::Value root(Json::objectValue);
  writeJSON(root);
  const std::string sql = model::detail::insert_or_replace(table_name, oid_) + ",'" +
                          database::sql_quote(target()) + "','" +
                          database::sql_quote(quorvane::compact_json(root)) + "');";
  return finish_save(database::manager::shared().exec(sql));
}

void proxy::setHost(const wide_string& value) {
  model::detail::assign(host_, value, dirty_);
}
void proxy::setBypass(const wide_string& value) {
  model::detail::assign(bypass_, value, dirty_);
}
void proxy::setPort(uint16_t value) {
  model::detail::assign(port_, value, dirty_);
}
void proxy::setUser(const wide_string& value) {
  model::detail::assign(user_, value, dirty_);
}
void proxy::setPassword(const wide_string& value) {
  model::detail::assign(password_, value, dirty_);
}

}  // namespace quorvane::network
