// The base of every record of the data model: a counted object that converts itself to and from JSON.
#pragma once

#include <json/value.h>

#include "core/ref_counted.h"

namespace quorvane::model {

/// A record that writes itself into, and reads itself from, a JSON object.
class object : public ref_counted_object {
 public:
  /// Sets the record's keys on `out` (refreshing the UTF-8 copies of its wide texts).
  virtual void writeJSON(Json::Value& out) const = 0;

  /// Sets the record's fields from `in`, with a default for each missing key. Never throws: a value of a
  /// type that cannot be converted (or `in` not being an object) gives the default and a warning line.
  virtual void readJSON(const Json::Value& in) = 0;

 protected:
  /// A record of the derived class.
  object() = default;
  /// A copied record starts without references of its own.
  object(const object&) : ref_counted_object() {}
};

}  // namespace quorvane::model
