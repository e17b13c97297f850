// The printer record: what the service offers for one printer and what the console does with its jobs.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/os.h"
#include "database/object.h"
#include "model/media.h"
#include "model/object.h"
#include "model/values.h"

namespace quorvane::model {

/// One printer that the local print service offers; stored in the table "printer".
class printer final : public object, public database::object {
 public:
  static constexpr const char* table_name = "printer";

  /// Every field at its default; no row, clean.
  printer();
  /// The record of a result row of the table "printer" (oid, uuid, name, owner, action, json): oid and uuid
  /// from the row, everything else from the json column; a json column that is not a JSON object leaves the
  /// other fields at their defaults. Clean.
  explicit printer(database::statement& row);
  /// Saves the record first when it has a row and is dirty.
  ~printer() override;
  // A copy would write the same row twice on release: records are shared through smart pointers instead.
  /// Not copyable.
  printer(const printer&) = delete;
  /// Not assignable.
  printer& operator=(const printer&) = delete;

  /// Creates the table "printer" and its indexes; false when the table is missing afterwards (the
  /// index statements' results are ignored).
  static bool createTable();

  /// Sets every field's key on `out`.
  void writeJSON(Json::Value& out) const override;
  /// Sets every field from `in`, with the read defaults for missing keys.
  void readJSON(const Json::Value& in) override;
  /// Returns "printer".
  const char* tableName() const override { return table_name; }
  /// Inserts a record without a row, or replaces the row of a dirty one; false when the statement failed.
  bool save() override;

  /// Takes over `other`'s fields (bit 0 only of the feature words); the record is always dirty afterwards.
  void update(const printer& other);

  // ---- read access

  /// The internal name (for `action_print`, the system printer's name).
  const wide_string& name() const { return name_; }
  /// The name shown to people.
  const std::string& displayName() const { return displayName_; }
  /// Where the printer stands.
  const wide_string& location() const { return location_; }
  /// The maker's name.
  const wide_string& make() const { return make_; }
  /// The model's name.
  const wide_string& model() const { return model_; }
  /// The colour feature word.
  int32_t color() const { return color_; }
  /// The landscape feature word.
  int32_t landscape() const { return landscape_; }
  /// The duplex feature word.
  int32_t duplex() const { return duplex_; }
  /// The copies feature word.
  int32_t copy() const { return copy_; }
  /// The feature word `f`.
  int32_t feature(printer_feature f) const;
  /// MIME types of the accepted documents.
  const std::vector<std::string>& formats() const { return formats_; }
  /// The accepted paper sizes.
  const media_list& media() const { return media_; }
  /// Folder into which each received job is copied; empty for none.
  const wide_string& directory() const { return directory_; }
  /// The service's printer state (3 idle).
  int32_t state() const { return state_; }
  /// The service's bit mask of state reasons.
  int32_t reasons() const { return reasons_; }
  /// One of `printer_action`.
  int32_t action() const { return action_; }
  /// The application path for `action_open`; shown for `action_print`.
  const wide_string& actionParam() const { return actionParam_; }
  /// Whether the printer is switched on.
  bool enabled() const { return enabled_; }
  /// Names of the users who may use the printer.
  const std::vector<std::string>& acl() const { return acl_; }
  /// The service created the printer by itself.
  bool autoCreated() const { return autoCreated_; }
  /// The owning user's name.
  const wide_string& owner() const { return owner_; }
  /// False in a notification means the printer no longer exists.
  bool exists() const { return exists_; }

  // ---- setters: each marks the record dirty only when the value changes (formats and media always)

  /// Sets the internal name.
  void setName(const wide_string& value);
  /// Sets the name shown to people.
  void setDisplayName(const std::string& value);
  /// Sets the location.
  void setLocation(const wide_string& value);
  /// Sets the make.
  void setMake(const wide_string& value);
  /// Sets the model.
  void setModel(const wide_string& value);
  /// Sets the whole feature word `f`.
  void setFeature(printer_feature f, int32_t word);
  /// Sets or clears one bit (`feature_on` or `feature_offered`) of the feature word `f`.
  void setFeatureBit(printer_feature f, int32_t bit, bool on);
  /// Replaces the formats and marks the record dirty.
  void setFormats(std::vector<std::string> value);
  /// Replaces the paper sizes and marks the record dirty.
  void setMedia(media_list value);
  /// Sets the copy folder.
  void setDirectory(const wide_string& value);
  /// Sets the service's state.
  void setState(int32_t value);
  /// Sets the service's state reasons.
  void setReasons(int32_t value);
  /// Sets the action (`printer_action`).
  void setAction(int32_t value);
  /// Sets the action's parameter.
  void setActionParam(const wide_string& value);
  /// Switches the printer on or off.
  void setEnabled(bool value);
  /// Sets the users who may use the printer.
  void setAcl(const std::vector<std::string>& value);
  /// Sets whether the service created the printer.
  void setAutoCreated(bool value);
  /// Sets the owning user's name.
  void setOwner(const wide_string& value);
  /// Sets whether the printer exists.
  void setExists(bool value);

 private:
  /// The field that holds the feature word `f`.
  int32_t& feature_word(printer_feature f);

  wide_string name_;
  std::string displayName_;
  wide_string location_;
  wide_string make_;
  wide_string model_;
  int32_t color_ = 0;
  int32_t landscape_ = 0;
  int32_t duplex_ = 0;
  int32_t copy_ = 0;
  std::vector<std::string> formats_;
  media_list media_;
  wide_string directory_;
  int32_t state_ = 3;
  int32_t reasons_ = 0;
  int32_t action_ = action_none;
  wide_string actionParam_;
  bool enabled_ = true;
  std::vector<std::string> acl_;
  bool autoCreated_ = false;
  wide_string owner_;
  bool exists_ = true;
};

using printer_ptr = smart_ptr<printer>;

}  // namespace quorvane::model
