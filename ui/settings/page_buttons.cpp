#include "ui/settings/page_buttons.h"

#include "ui/layout/dialog_layout.h"

namespace quorvane {

void set_page_button_visible(QWidget* host, int id, bool visible) {
  if (QWidget* button = host ? find_control<QWidget>(host, id) : nullptr) button->setVisible(visible);
}

void set_page_button_enabled(QWidget* host, int id, bool enabled) {
  if (QWidget* button = host ? find_control<QWidget>(host, id) : nullptr) button->setEnabled(enabled);
}

}  // namespace quorvane
