// The console's own printers begin their display name with a private-use character that is never shown.
#pragma once

#include <string>
#include <string_view>

namespace quorvane {

/// A display name split into the hidden prefix and the text shown to people.
struct display_name_parts {
  std::string prefix;  ///< the three-byte UTF-8 form of a private-use character (U+E000..U+F8FF), or empty
  std::string shown;   ///< the rest
};

/// Splits `display_name`. Only a leading private-use character is taken as the prefix: a name made by the
/// service from a system queue ("Office Laser") has none and is shown whole.
display_name_parts split_display_name(std::string_view display_name);

}  // namespace quorvane
