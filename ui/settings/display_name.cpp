#include "ui/settings/display_name.h"

namespace quorvane {

display_name_parts split_display_name(std::string_view display_name) {
  // U+E000..U+F8FF encode as EE 80 80 .. EF A3 BF.
  if (display_name.size() >= 3) {
    const auto b0 = static_cast<unsigned char>(display_name[0]);
    const auto b1 = static_cast<unsigned char>(display_name[1]);
    const auto b2 = static_cast<unsigned char>(display_name[2]);
    const bool continuation = (b1 & 0xC0) == 0x80 && (b2 & 0xC0) == 0x80;
    if (continuation && (b0 == 0xEE || (b0 == 0xEF && b1 <= 0xA3)))
      return {std::string(display_name.substr(0, 3)), std::string(display_name.substr(3))};
  }
  return {std::string(), std::string(display_name)};
}

}  // namespace quorvane
