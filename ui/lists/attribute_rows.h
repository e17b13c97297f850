// The rows of a printer's attribute list (features and paper sizes) as plain values, and how their on/off
// values go back into the printer.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "model/printer.h"

namespace quorvane {

/// What one row of the attribute list shows.
enum attribute_kind : int32_t {
  attribute_features_header = 0,  ///< the "FEATURES" section header
  attribute_paper_header = 1,     ///< the "PAPER" section header
  attribute_color = 2,            ///< colour printing
  attribute_landscape = 3,        ///< landscape orientation
  attribute_duplex = 4,           ///< two-sided printing
  attribute_paper = 5,            ///< one paper size of the printer
};

/// One row of the attribute list.
struct attribute_entry {
  int32_t kind = attribute_features_header;
  bool value = false;             ///< the on/off state as shown and edited; false for headers
  smart_ptr<model::media> media;  ///< the printer's paper size, for `attribute_paper` rows only
};

/// True for the two section headers.
inline bool is_attribute_header(int32_t kind) {
  return kind == attribute_features_header || kind == attribute_paper_header;
}

/// The rows for `p`: "FEATURES", then colour, duplex and landscape rows for the features the printer offers
/// (bit `feature_offered` set; value = bit `feature_on`), then "PAPER" and one row per paper size in order
/// (value = the size's `enabled`).
std::vector<attribute_entry> attribute_rows(const model::printer& p);

/// Writes the rows' values into `p`: bit `feature_on` of the colour, landscape and duplex words (marking
/// `p` dirty when a bit changes) and `enabled` of each row's paper size. Header rows are skipped.
void apply_attribute_rows(model::printer& p, const std::vector<attribute_entry>& rows);

/// The text a row shows: "FEATURES", "PAPER", "Color", "Landscape", "Duplex" or the paper size's
/// `displayName` (UTF-8; empty for a paper row without a size).
std::string attribute_text(const attribute_entry& entry);

/// The name of the image a row shows ("IDI_COLOR", "IDI_LANDSCAPE", "IDI_DUPLEX", "IDI_PAPER"); null for
/// headers.
const char* attribute_image_name(int32_t kind);

}  // namespace quorvane
