// Reading JSON values of the records without exceptions, and the compact JSON text of a record.
#pragma once

#include <json/value.h>

#include <cstdint>
#include <string>
#include <vector>

#include "core/os.h"

namespace quorvane::model::json {

/// Reads the keys of one JSON object for the record kind `record` ("printer", "job", ...).
///
/// A missing key, or a key holding null, gives the caller's default. A value the JSON library converts
/// (a boolean where an integer is expected, a number where text is expected) is converted by its rules;
/// any other value (text for a number, an object for text, a number beyond the field's range) gives the
/// default and a warning line naming the key.
class reader {
 public:
  /// A reader over `in`; `in` neither an object nor null is read as an empty object, with a warning.
  reader(const Json::Value& in, const char* record);

  /// The key as UTF-8 text, or `fallback`.
  std::string text(const char* key, const std::string& fallback = {}) const;
  /// The key as UTF-16 text; empty when missing, unconvertible or not valid UTF-8 (with a warning).
  wide_string wide(const char* key) const;
  /// The key as a signed 32-bit integer, or `fallback`.
  int32_t int32(const char* key, int32_t fallback) const;
  /// The key as a signed 64-bit integer, or `fallback`.
  int64_t int64(const char* key, int64_t fallback) const;
  /// The key as a boolean, or `fallback`.
  bool boolean(const char* key, bool fallback) const;
  /// The key's value when it is an array, else null (a present non-array value also logs a warning).
  const Json::Value* array(const char* key) const;
  /// The key's value, or a null value when it is missing.
  const Json::Value& value(const char* key) const;

  /// Replaces `out` with the texts of the array `key`, leaving out (with a warning) elements that are not
  /// text. Returns false, with `out` unchanged, when the key is missing or not an array.
  bool text_list(const char* key, std::vector<std::string>& out) const;

  /// One element of the array `key` as text; false (with a warning) when it cannot be converted.
  bool element_text(const Json::Value& element, const char* key, std::string& out) const;

 private:
  /// The key's value; null when it is missing, null, or `in` is not an object.
  const Json::Value* find(const char* key) const;
  /// Logs the warning naming `key`, what was expected and what was found.
  void warn(const char* key, const char* expected, const Json::Value& got) const;

  const Json::Value& in_;
  const char* record_;
  bool usable_;
};

}  // namespace quorvane::model::json
