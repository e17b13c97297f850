// The main window's buttons under the settings pages, which the pages show, hide, enable and disable, and the
// size the pages share.
#pragma once

#include <QWidget>

#include "ui/session/printer_list_controller.h"  // console_button: the buttons' control ids

namespace quorvane {

/// The settings pages' size in dialog units, as their tables are drawn.
inline constexpr int settings_page_width_du = 379;
/// The settings pages' height in dialog units.
inline constexpr int settings_page_height_du = 311;

/// Shows or hides the control `id` of `host` (found by its "ctrlId"); nothing when there is none.
void set_page_button_visible(QWidget* host, int id, bool visible);

/// Enables or disables the control `id` of `host`; nothing when there is none.
void set_page_button_enabled(QWidget* host, int id, bool enabled);

}  // namespace quorvane
