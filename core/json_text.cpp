#include "core/json_text.h"

#include <algorithm>
#include <exception>
#include <string>

#include <json/reader.h>
#include <json/writer.h>

namespace quorvane {

std::string compact_json(const Json::Value& value) {
  // The fast writer gives exactly the wire form: no spaces, members in key order, one "\n" at the end.
  Json::FastWriter writer;
  return writer.write(value);
}

bool parse_json(const std::string& text, Json::Value& root) {
  Json::Reader reader;
  // The reader throws instead of failing on text nested deeper than its stack limit.
  try {
    if (reader.parse(text, root, /*collectComments=*/false)) return true;
  } catch (const std::exception&) {
  }
  root = Json::Value();
  return false;
}

std::string string_member(const Json::Value& object, const char* name) {
  // The const operator[] of a value that is neither an object nor null throws.
  if (!object.isObject()) return {};
  const Json::Value* member = object.find(name, name + std::char_traits<char>::length(name));
  return member && member->isString() ? member->asString() : std::string();
}

int32_t int_member(const Json::Value& object, const char* name, int32_t fallback) {
  if (!object.isObject()) return fallback;
  const Json::Value* member = object.find(name, name + std::char_traits<char>::length(name));
  return member && member->isInt() ? member->asInt() : fallback;
}

bool has_nul_text(const Json::Value& object, const char* name) {
  if (!object.isObject()) return false;
  const Json::Value* member = object.find(name, name + std::char_traits<char>::length(name));
  const char* begin = nullptr;
  const char* end = nullptr;
  return member && member->isString() && member->getString(&begin, &end) &&
         std::find(begin, end, '\0') != end;
}

}  // namespace quorvane
