// JSON text: the one compact writer (wire messages, stored records) and the one reader of stored text.
#pragma once

#include <string>

#include <json/value.h>

namespace quorvane {

/// The compact JSON text of `value`: no spaces, members in key order, one "\n" at the end.
std::string compact_json(const Json::Value& value);

/// Parses `text` (comments allowed) into `root`. Returns false, with `root` null, when it is not JSON or
/// nests deeper than the reader allows.
bool parse_json(const std::string& text, Json::Value& root);

}  // namespace quorvane
