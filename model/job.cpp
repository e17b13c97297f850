#include "model/job.h"

#include "model/record_p.h"

namespace quorvane::model {

using detail::assign;

job::job()
    : name_(wide_string::from_narrow("untitled")),
      user_(wide_string::from_narrow("anonymous")),
      format_(wide_string::from_narrow("application/octet-stream")) {}

job::~job() {
  if (oid_ != 0) save();
}

namespace {

// The table's statements, run in this order; the first creates the table, the others its indexes.
// (The parentheses tell clang that the split literal is one statement, not a missing comma.)
constexpr const char* create_statements[] = {
    ("CREATE TABLE IF NOT EXISTS job(oid INTEGER PRIMARY KEY AUTOINCREMENT, uuid TEXT, deviceID TEXT, "
     "printerID TEXT, id INTEGER, internalID INTEGER, state INTEGER, json TEXT);"),
    "CREATE INDEX IF NOT EXISTS job_uuid_nocase_idx ON job(uuid COLLATE NOCASE);",
    "CREATE INDEX IF NOT EXISTS id_idx ON job(id);",
    "CREATE INDEX IF NOT EXISTS stateID_idx ON job(state);",
};

}  // namespace

bool job::createTable() {
  return detail::create_table(create_statements);
}

void job::writeJSON(Json::Value& out) const {
  out["uuid"] = uuid_;
  out["deviceAddress"] = deviceAddress_;
  out["deviceID"] = deviceID_.narrow();
  out["printerID"] = printerID_;
  out["platformID"] = platformID_;
  out["name"] = name_.narrow();
  out["user"] = user_.narrow();
  out["format"] = format_.narrow();
  out["printQuality"] = printQuality_;
  out["firstPage"] = firstPage_;
  out["lastPage"] = lastPage_;
  out["isColor"] = isColor_;
  out["orientation"] = orientation_;
  out["duplex"] = duplex_;
  out["copies"] = copies_;
  out["fitToPage"] = fitToPage_;
  if (media_) {
    Json::Value size(Json::objectValue);
    media_->writeJSON(size);
    out["media"] = size;
  }
  out["state"] = state_;
  out["filename"] = filename_.narrow();
  out["timeAtCreation"] = Json::Int64(timeAtCreation_);
}

void job::readJSON(const Json::Value& in) {
  const json::reader read(in, "job");
  uuid_ = read.text("uuid");
  deviceAddress_ = read.text("deviceAddress");
  deviceID_ = read.wide("deviceID");
  printerID_ = read.text("printerID");
  platformID_ = read.int32("platformID", 0);
  name_ = read.wide("name");
  user_ = read.wide("user");
  format_ = read.wide("format");
  printQuality_ = read.int32("printQuality", 0);
  firstPage_ = read.int32("firstPage", 0);
  lastPage_ = read.int32("lastPage", 0);
  isColor_ = read.boolean("isColor", false);
  orientation_ = read.int32("orientation", 0);
  duplex_ = read.int32("duplex", 0);
  copies_ = read.int32("copies", 0);
  fitToPage_ = read.boolean("fitToPage", false);
  // A job read from JSON always has a paper size, at its JSON defaults when the key is missing.
  media_ = make_counted<quorvane::model::media>();
  media_->readJSON(read.value("media"));
  state_ = read.int32("state", 0);
  filename_ = read.wide("filename");
  timeAtCreation_ = read.int64("timeAtCreation", 0);
}

bool job::save() {
  if (!dirty_) return true;
  Json::Value root(Json::objectValue);
  writeJSON(root);
  const std::string sql = detail::insert_or_replace(table_name, oid_) + ",'" + database::sql_quote(uuid_) +
                          "','" + database::sql_quote(deviceID_) + "','" + database::sql_quote(printerID_) +
                          "',0," + std::to_string(platformID_) + "," + std::to_string(state_) + ",'" +
                          database::sql_quote(quorvane::compact_json(root)) + "');";
  return finish_save(database::manager::shared().exec(sql));
}

void job::setDeviceAddress(const std::string& value) {
  assign(deviceAddress_, value, dirty_);
}
void job::setDeviceID(const wide_string& value) {
  assign(deviceID_, value, dirty_);
}
void job::setPrinterID(const std::string& value) {
  assign(printerID_, value, dirty_);
}
void job::setPlatformID(int32_t value) {
  assign(platformID_, value, dirty_);
}
void job::setName(const wide_string& value) {
  assign(name_, value, dirty_);
}
void job::setUser(const wide_string& value) {
  assign(user_, value, dirty_);
}
void job::setFormat(const wide_string& value) {
  assign(format_, value, dirty_);
}
void job::setPrintQuality(int32_t value) {
  assign(printQuality_, value, dirty_);
}
void job::setFirstPage(int32_t value) {
  assign(firstPage_, value, dirty_);
}
void job::setLastPage(int32_t value) {
  assign(lastPage_, value, dirty_);
}
void job::setIsColor(bool value) {
  assign(isColor_, value, dirty_);
}
void job::setOrientation(int32_t value) {
  assign(orientation_, value, dirty_);
}
void job::setDuplex(int32_t value) {
  assign(duplex_, value, dirty_);
}
void job::setCopies(int32_t value) {
  assign(copies_, value, dirty_);
}
void job::setFitToPage(bool value) {
  assign(fitToPage_, value, dirty_);
}
void job::setMedia(media_ptr value) {
  media_ = std::move(value);
  dirty_ = true;
}
void job::setState(int32_t value) {
  assign(state_, value, dirty_);
}
void job::setFilename(const wide_string& value) {
  assign(filename_, value, dirty_);
}
void job::setTimeAtCreation(int64_t value) {
  assign(timeAtCreation_, value, dirty_);
}

}  // namespace quorvane::model
