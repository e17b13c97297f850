// The main window's layout table, in dialog units (client area 585 x 350).
#pragma once

#include <span>

#include "ui/layout/dialog_layout.h"

namespace quorvane {

/// Control ids of the main window besides the buttons (`console_button`).
enum main_window_control : int {
  control_printer_list = 1003,
  control_progress = 1015,
  control_page_placeholder = 1030,
  control_background = 1034,
  control_connecting_picture = 1035,
  control_connecting_text = 1038,
  control_connecting_hint = 1039,
};

/// The client area's size in dialog units.
inline constexpr int main_window_width_du = 585;
/// The client area's height in dialog units.
inline constexpr int main_window_height_du = 350;
/// The smallest client area the window can be shrunk to, in dialog units: the list and the pages keep a
/// few rows, and a 1280 x 800 screen with text at 150 % still holds the whole window.
inline constexpr int main_window_min_width_du = 460;
/// The smallest client area's height in dialog units.
inline constexpr int main_window_min_height_du = 240;

/// The main window's controls, bottom of the stacking order first: the connecting view's panel lies under
/// its picture, caption, activity bar and the hint shown once the service has not answered a few times. The
/// printer list (1003) and the panel (1034) are custom rows.
std::span<const dialog_control> main_window_controls();

}  // namespace quorvane
