#include "model/printer.h"

#include <algorithm>

#include "model/record_p.h"

namespace quorvane::model {

using detail::assign;

printer::printer() = default;

printer::printer(database::statement& row) {
  oid_ = row.columnInt64(0);
  uuid_ = row.columnText(1);
  // The json column is authoritative; name, owner and action are there for searching only.
  Json::Value root;
  if (detail::parse_row_json(row.columnText(5), table_name, oid_, root)) readJSON(root);
}

printer::~printer() {
  if (oid_ != 0) save();
}

namespace {

// The table's statements, run in this order; the first creates the table, the others its indexes.
// (The parentheses tell clang that the split literal is one statement, not a missing comma.)
constexpr const char* create_statements[] = {
    ("CREATE TABLE IF NOT EXISTS printer(oid INTEGER PRIMARY KEY AUTOINCREMENT, uuid TEXT, name TEXT, owner "
     "TEXT, action INTEGER, json TEXT);"),
    "CREATE INDEX IF NOT EXISTS uuid_idx ON printer(uuid);",
    // Look-ups by uuid use LIKE, which ignores ASCII case: only an index in that collation serves them.
    "CREATE INDEX IF NOT EXISTS printer_uuid_nocase_idx ON printer(uuid COLLATE NOCASE);",
    "CREATE INDEX IF NOT EXISTS name_idx ON printer(name);",
    "CREATE INDEX IF NOT EXISTS owner_idx ON printer(owner);",
    "CREATE INDEX IF NOT EXISTS action_idx ON printer(action);",
};

}  // namespace

bool printer::createTable() {
  return detail::create_table(create_statements);
}

void printer::writeJSON(Json::Value& out) const {
  out["uuid"] = uuid_;
  out["owner"] = owner_.narrow();
  out["name"] = name_.narrow();
  out["displayName"] = displayName_;
  out["location"] = location_.narrow();
  out["make"] = make_.narrow();
  out["model"] = model_.narrow();
  for (const printer_feature_entry& f : printer_features) out[f.name] = feature(f.value);
  // Empty lists leave their keys out.
  for (const std::string& format : formats_) out["formats"].append(format);
  for (const media_ptr& m : media_) {
    Json::Value entry(Json::objectValue);
    m->writeJSON(entry);
    out["media"].append(entry);
  }
  out["directory"] = directory_.narrow();
  out["state"] = state_;
  out["reasons"] = reasons_;
  out["action"] = action_;
  out["actionParam"] = actionParam_.narrow();
  out["autoCreated"] = autoCreated_;
  out["enabled"] = enabled_;
  out["exists"] = exists_;
  for (const std::string& user : acl_) out["acl"].append(user);
}

void printer::readJSON(const Json::Value& in) {
  const json::reader read(in, "printer");
  uuid_ = read.text("uuid");
  owner_ = read.wide("owner");
  name_ = read.wide("name");
  displayName_ = read.text("displayName");
  location_ = read.wide("location");
  make_ = read.wide("make");
  model_ = read.wide("model");
  for (const printer_feature_entry& f : printer_features) feature_word(f.value) = read.int32(f.name, 0);

  // Every printer that lists formats also accepts the two raster formats.
  formats_.clear();
  if (read.text_list("formats", formats_)) {
    for (const char* raster : {"image/pwg-raster", "image/urf"}) {
      if (std::find(formats_.begin(), formats_.end(), raster) == formats_.end()) formats_.push_back(raster);
    }
  }

  media_.clear();
  if (const Json::Value* list = read.array("media")) {
    for (const Json::Value& element : *list) {
      media_ptr size = make_counted<quorvane::model::media>();
      size->readJSON(element);
      media_.push_back(std::move(size));
    }
  }

  directory_ = read.wide("directory");
  state_ = read.int32("state", 0);
  reasons_ = read.int32("reasons", 0);
  action_ = read.int32("action", 0);
  actionParam_ = read.wide("actionParam");
  enabled_ = read.boolean("enabled", false);
  exists_ = read.boolean("exists", true);
  autoCreated_ = read.boolean("autoCreated", false);

  // Replacing (not appending to) the list keeps a second read of the same JSON from doubling it.
  read.text_list("acl", acl_);
}

bool printer::save() {
  if (!dirty_ && oid_ != 0) return true;
  Json::Value root(Json::objectValue);
  writeJSON(root);
  const std::string sql = detail::insert_or_replace(table_name, oid_) + ",'" + database::sql_quote(uuid_) +
                          "','" + database::sql_quote(name_) + "','" + database::sql_quote(owner_) + "'," +
                          std::to_string(action_) + ",'" + database::sql_quote(quorvane::compact_json(root)) +
                          "');";
  return finish_save(database::manager::shared().exec(sql));
}

void printer::update(const printer& other) {
  uuid_ = other.uuid_;
  assign(owner_, other.owner_, dirty_);
  assign(name_, other.name_, dirty_);
  assign(displayName_, other.displayName_, dirty_);
  assign(location_, other.location_, dirty_);
  assign(make_, other.make_, dirty_);
  assign(model_, other.model_, dirty_);
  // Only the on/off bit comes from the service; the other bits are the console's own.
  for (const printer_feature_entry& f : printer_features) {
    setFeatureBit(f.value, feature_on, (other.feature(f.value) & feature_on) != 0);
  }
  formats_ = other.formats_;
  media_ = other.media_;
  dirty_ = true;
  assign(directory_, other.directory_, dirty_);
  if (state_ != other.state_ || reasons_ != other.reasons_) {
    state_ = other.state_;
    reasons_ = other.reasons_;
    dirty_ = true;
  }
  assign(action_, other.action_, dirty_);
  assign(actionParam_, other.actionParam_, dirty_);
  assign(enabled_, other.enabled_, dirty_);
  assign(acl_, other.acl_, dirty_);
  assign(exists_, other.exists_, dirty_);
  assign(autoCreated_, other.autoCreated_, dirty_);
}

int32_t printer::feature(printer_feature f) const {
  return const_cast<printer*>(this)->feature_word(f);
}

int32_t& printer::feature_word(printer_feature f) {
  switch (f) {
    case printer_feature::color:
      return color_;
    case printer_feature::landscape:
      return landscape_;
    case printer_feature::duplex:
      return duplex_;
    case printer_feature::copy:
      break;
  }
  return copy_;
}

void printer::setName(const wide_string& value) {
  assign(name_, value, dirty_);
}
void printer::setDisplayName(const std::string& value) {
  assign(displayName_, value, dirty_);
}
void printer::setLocation(const wide_string& value) {
  assign(location_, value, dirty_);
}
void printer::setMake(const wide_string& value) {
  assign(make_, value, dirty_);
}
void printer::setModel(const wide_string& value) {
  assign(model_, value, dirty_);
}
void printer::setFeature(printer_feature f, int32_t word) {
  assign(feature_word(f), word, dirty_);
}
void printer::setFeatureBit(printer_feature f, int32_t bit, bool on) {
  const int32_t word = feature_word(f);
  setFeature(f, on ? (word | bit) : (word & ~bit));
}
void printer::setFormats(std::vector<std::string> value) {
  formats_ = std::move(value);
  dirty_ = true;
}
void printer::setMedia(media_list value) {
  media_ = std::move(value);
  dirty_ = true;
}
void printer::setDirectory(const wide_string& value) {
  assign(directory_, value, dirty_);
}
void printer::setState(int32_t value) {
  assign(state_, value, dirty_);
}
void printer::setReasons(int32_t value) {
  assign(reasons_, value, dirty_);
}
void printer::setAction(int32_t value) {
  assign(action_, value, dirty_);
}
void printer::setActionParam(const wide_string& value) {
  assign(actionParam_, value, dirty_);
}
void printer::setEnabled(bool value) {
  assign(enabled_, value, dirty_);
}
void printer::setAcl(const std::vector<std::string>& value) {
  assign(acl_, value, dirty_);
}
void printer::setAutoCreated(bool value) {
  assign(autoCreated_, value, dirty_);
}
void printer::setOwner(const wide_string& value) {
  assign(owner_, value, dirty_);
}
void printer::setExists(bool value) {
  assign(exists_, value, dirty_);
}

}  // namespace quorvane::model
