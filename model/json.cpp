
#include <cmath>
#include <exception>
#include <limits>

#include "core/log.h"
#include "model/json_p.h"

namespace quorvane::model::json {
namespace {

const char* type_name(const Json::Value& value) {
  switch (value.type()) {
    case Json::nullValue:
      return "null";
    case Json::intValue:
    case Json::uintValue:
    case Json::realValue:
      return "a number";
    case Json::stringValue:
      return "text";
    case Json::booleanValue:
      return "a boolean";
    case Json::arrayValue:
      return "an array";
    case Json::objectValue:
      return "an object";
  }
  return "an unknown value";
}

// A value converts to an integer of [low, high] when it is a boolean or a number in that range
// (a fraction is cut off, as the JSON library does).
bool integer_in_range(const Json::Value& value, double low, double high) {
  if (value.isBool()) return true;
  if (value.isInt64()) return value.asInt64() >= low && value.asInt64() <= high;
  if (value.isUInt64()) return static_cast<double>(value.asUInt64()) <= high;
  if (value.isDouble())
    return std::isfinite(value.asDouble()) && value.asDouble() >= low && value.asDouble() <= high;
  return false;
}

}  // namespace

reader::reader(const Json::Value& in, const char* record) : in_(in), record_(record), usable_(in.isObject()) {
  if (!in.isObject() && !in.isNull()) {
    QV_LOG(log_warning, "Unable to read %s: expected an object, got %s", record_, type_name(in));
  }
}

const Json::Value* reader::find(const char* key) const {
  if (!usable_) return nullptr;
  const Json::Value* found = in_.find(key, key + std::char_traits<char>::length(key));
  return found && !found->isNull() ? found : nullptr;
}

void reader::warn(const char* key, const char* expected, const Json::Value& got) const {
  QV_LOG(log_warning, "Unable to read %s key '%s': expected %s, got %s", record_, key, expected,
         type_name(got));
}

std::string reader::text(const char* key, const std::string& fallback) const {
  const Json::Value* found = find(key);
  if (!found) return fallback;
  std::string out;
  return element_text(*found, key, out) ? out : fallback;
}

bool reader::element_text(const Json::Value& element, const char* key, std::string& out) const {
  if (element.isString() || element.isNumeric() || element.isBool() || element.isNull()) {
    out = element.asString();
    return true;
  }
  warn(key, "text", element);
  return false;
}

wide_string reader::wide(const char* key) const {
  const std::string utf8 = text(key);
  wide_string converted = wide_string::from_narrow(utf8);
  if (converted.empty() && !utf8.empty()) {
    QV_LOG(log_warning, "Unable to read %s key '%s': expected UTF-8 text, got invalid UTF-8", record_, key);
  }
  return converted;
}

int32_t reader::int32(const char* key, int32_t fallback) const {
  const Json::Value* found = find(key);
  if (!found) return fallback;
  if (!integer_in_range(*found, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max())) {
    warn(key, "a 32-bit integer", *found);
    return fallback;
  }
  return found->asInt();
}

int64_t reader::int64(const char* key, int64_t fallback) const {
  const Json::Value* found = find(key);
  if (!found) return fallback;
  // 2^63 as a double is already out of range, hence the strict comparison for reals.
  const bool fits =
      found->isInt64() || found->isBool() ||
      (found->isDouble() && !found->isIntegral() && std::isfinite(found->asDouble()) &&
       found->asDouble() >= -9223372036854775808.0 && found->asDouble() < 9223372036854775808.0);
  if (!fits) {
    warn(key, "a 64-bit integer", *found);
    return fallback;
  }
  return found->asInt64();
}

bool reader::boolean(const char* key, bool fallback) const {
  const Json::Value* found = find(key);
  if (!found) return fallback;
  if (!found->isBool() && !found->isNumeric()) {
    warn(key, "a boolean", *found);
    return fallback;
  }
  return found->asBool();
}

const Json::Value* reader::array(const char* key) const {
  const Json::Value* found = find(key);
  if (!found) return nullptr;
  if (!found->isArray()) {
    warn(key, "an array", *found);
    return nullptr;
  }
  return found;
}

bool reader::text_list(const char* key, std::vector<std::string>& out) const {
  const Json::Value* list = array(key);
  if (!list) return false;
  out.clear();
  for (const Json::Value& element : *list) {
    std::string item;
    if (element_text(element, key, item)) out.push_back(std::move(item));
  }
  return true;
}

const Json::Value& reader::value(const char* key) const {
  static const Json::Value null_value;
  const Json::Value* found = find(key);
  return found ? *found : null_value;
}

}  // namespace quorvane::model::json
