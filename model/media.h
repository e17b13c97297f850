// Paper sizes: one size with its margins, and the process-wide default tables of formats and sizes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "model/object.h"

namespace quorvane::model {

/// One set of margins of a paper size, in hundredths of a millimetre.
struct media_margins {
  std::string name;
  int32_t left = 0;
  int32_t top = 0;
  int32_t right = 0;
  int32_t bottom = 0;

  /// Equal when every member is equal.
  friend bool operator==(const media_margins&, const media_margins&) = default;
};

/// A paper size as a print system lists it (libcups's `cups_size_t`): its name, and its size and margins in
/// hundredths of a millimetre.
struct paper_size {
  std::string name = {};  // PWG self-describing name, "iso_a4_210x297mm"
  int32_t width = 0;
  int32_t length = 0;
  int32_t left = 0;
  int32_t bottom = 0;
  int32_t right = 0;
  int32_t top = 0;
};

/// One paper size with its margins; travels inside printer and job JSON, never in a table of its own.
class media final : public object {
 public:
  /// Empty names, zero sizes, no margins, enabled.
  media() = default;
  /// A size without margins, enabled.
  media(std::string name, std::string displayName, int32_t klass, int32_t type, int32_t width,
        int32_t height);
  /// Copies every field including the margins; the copy is always enabled.
  media(const media& other);

  /// Sets every field's key on `out`; "margins" only when there are margins.
  void writeJSON(Json::Value& out) const override;
  /// Reads the keys; a missing "enabled" reads as false, and "margins" (when an array) replaces the margins.
  void readJSON(const Json::Value& in) override;

  /// The size's self-describing name, for example "iso_a4_210x297mm".
  const std::string& name() const { return name_; }
  /// The name shown to people.
  const std::string& displayName() const { return displayName_; }
  /// Size class: 0 document, 1 photo, 2 envelope.
  int32_t klass() const { return klass_; }
  /// Size number (0 to 10 in the built-in table).
  int32_t type() const { return type_; }
  /// Width in hundredths of a millimetre.
  int32_t width() const { return width_; }
  /// Height in hundredths of a millimetre.
  int32_t height() const { return height_; }
  /// The margins, in order.
  const std::vector<media_margins>& margins() const { return margins_; }
  /// Whether the printer offers this size.
  bool enabled() const { return enabled_; }

  /// Sets the size's name.
  void setName(std::string name) { name_ = std::move(name); }
  /// Sets the name shown to people.
  void setDisplayName(std::string name) { displayName_ = std::move(name); }
  /// Sets the size class.
  void setKlass(int32_t klass) { klass_ = klass; }
  /// Sets the size number.
  void setType(int32_t type) { type_ = type; }
  /// Sets width and height in hundredths of a millimetre.
  void setSize(int32_t width, int32_t height) {
    width_ = width;
    height_ = height;
  }
  /// Replaces the margins.
  void setMargins(std::vector<media_margins> margins) { margins_ = std::move(margins); }
  /// Appends one set of margins.
  void addMargins(media_margins margins) { margins_.push_back(std::move(margins)); }
  /// Switches the size on or off.
  void setEnabled(bool enabled) { enabled_ = enabled; }

 private:
  std::string name_;
  std::string displayName_;
  int32_t klass_ = 0;
  int32_t type_ = 0;
  int32_t width_ = 0;
  int32_t height_ = 0;
  std::vector<media_margins> margins_;
  bool enabled_ = true;
};

using media_ptr = smart_ptr<media>;
using media_list = std::vector<media_ptr>;

/// The MIME types a new printer accepts (every format of `document_formats` that devices may send), built on
/// first use.
const std::vector<std::string>& default_formats();

/// The number of built-in paper sizes (11), building the table on first use.
int32_t builtin_media_count();

/// The built-in size at `index`; null when `index` is negative or not below the count.
media_ptr builtin_media_at(int32_t index);

/// A copy of every built-in size with one set of margins (0 for A5, 6.35 mm for the others), built on first
/// use.
const media_list& default_printer_media();

}  // namespace quorvane::model
