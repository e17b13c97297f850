// JSON text: the one compact writer (wire messages, stored records) and the one reader of stored text.
#pragma once

#include <cstdint>
#include <string>

#include <json/value.h>

namespace quorvane {

/// The compact JSON text of `value`: no spaces, members in key order, one "\n" at the end.
std::string compact_json(const Json::Value& value);

/// Parses `text` (comments allowed) into `root`. Returns false, with `root` null, when it is not JSON or
/// nests deeper than the reader allows.
bool parse_json(const std::string& text, Json::Value& root);

/// The text of `object`'s member `name`; empty when `object` is no object or the member is no text.
std::string string_member(const Json::Value& object, const char* name);

/// The member `name` of `object` as a 32-bit integer; `fallback` when `object` is no object or the member is
/// missing or no integer of that range.
int32_t int_member(const Json::Value& object, const char* name, int32_t fallback = 0);

/// Whether `object` has a member `name` that is text holding a NUL byte: a file name or a user cut there
/// would name something else than what was sent. False when `object` is no object or the member is no text.
bool has_nul_text(const Json::Value& object, const char* name);

}  // namespace quorvane
