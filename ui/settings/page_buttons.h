// The main window's buttons under the settings pages, which the pages show, hide, enable and disable.
#pragma once

#include <QWidget>

namespace quorvane {

/// Control ids of the main window's page buttons.
enum page_button_id : int {
  button_add_user = 1017,
  button_remove_user = 1040,
  button_edit = 1050,
  button_cancel = 1060,
  button_save = 1070,
};

/// Shows or hides the control `id` of `host` (found by its "ctrlId"); nothing when there is none.
void set_page_button_visible(QWidget* host, int id, bool visible);

/// Enables or disables the control `id` of `host`; nothing when there is none.
void set_page_button_enabled(QWidget* host, int id, bool enabled);

}  // namespace quorvane
