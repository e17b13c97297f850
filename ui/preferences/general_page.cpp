#include "ui/preferences/general_page.h"

#include <QCheckBox>

#include "ui/base/preference_values.h"

namespace quorvane {
namespace {

// "General", 284 x 115 dialog units.
const dialog_control general_table[] = {
    {CPreferencesGeneral::id_start_minimized, control_kind::check_box, "startMinimized", "Start Minimized",
     15, 12, 222, 10},
};

}  // namespace

CPreferencesGeneral::CPreferencesGeneral(QWidget* parent) : QWidget(parent) {
  const dialog_units units = dialog_units::from_dialog_font();
  setMinimumSize(units.size(284, 115));
  layout_ = dialog_layout::build(this, general_table, units);
  auto* box = layout_.find<QCheckBox>(id_start_minimized);
  box->setChecked(read_preference(start_minimized_preference) != 0);
  connect(box, &QCheckBox::clicked, this,
          [](bool ticked) { write_preference(start_minimized_preference, ticked ? 1 : 0); });
}

}  // namespace quorvane
