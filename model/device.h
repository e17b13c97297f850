// The device record: one client device (phone, tablet) that the local print service knows.
#pragma once

#include <cstdint>

#include "core/os.h"
#include "database/object.h"
#include "model/object.h"

namespace quorvane::model {

/// One client device; built from the service's device notifications, stored in the table "device".
class device final : public object, public database::object {
 public:
  static constexpr const char* table_name = "device";

  /// Empty host, `lastUsed` 0; no row, clean.
  device() = default;
  /// Saves the record first when it has a row and is dirty.
  ~device() override;
  // A copy would write the same row twice on release: records are shared through smart pointers instead.
  /// Not copyable.
  device(const device&) = delete;
  /// Not assignable.
  device& operator=(const device&) = delete;

  /// Creates the table "device" and its index; false when the table is missing afterwards (the
  /// index statements' results are ignored).
  static bool createTable();

  /// Sets every field's key on `out`.
  void writeJSON(Json::Value& out) const override;
  /// Sets every field from `in`, with the read defaults for missing keys.
  void readJSON(const Json::Value& in) override;
  /// Returns "device".
  const char* tableName() const override { return table_name; }
  /// Writes a dirty record (inserting it when it has no row); true when clean afterwards, false when the
  /// statement failed.
  bool save() override;

  /// The device's host name as the service reports it.
  const wide_string& host() const { return host_; }
  /// The service's time of last use, carried unchanged.
  int64_t lastUsed() const { return lastUsed_; }

  /// Sets the host name (dirty when it changes).
  void setHost(const wide_string& value);
  /// Sets the time of last use (dirty when it changes).
  void setLastUsed(int64_t value);

 private:
  wide_string host_;
  int64_t lastUsed_ = 0;
};

using device_ptr = smart_ptr<device>;

}  // namespace quorvane::model
