#include "ui/preferences/general_page.h"

#include <QCheckBox>

#include "ui/base/preference_values.h"

namespace quorvane {
namespace {

// "General", 284 x 115 dialog units.
const dialog_control general_table[] = {
    {CPreferencesGeneral::id_start_minimized, control_kind::check_box, "startMinimized",
     QT_TRANSLATE_NOOP("quorvane::CPreferencesGeneral", "Start Minimized"), 15, 12, 222, 10},
    {CPreferencesGeneral::id_notify_arrivals, control_kind::check_box, "notifyArrivals",
     QT_TRANSLATE_NOOP("quorvane::CPreferencesGeneral", "Show a notification when a document arrives"), 15,
     26, 222, 10},
};

// Each check box and the preference it writes.
struct check_box_preference {
  int id;
  const preference_value& preference;
};
const check_box_preference check_boxes[] = {
    {CPreferencesGeneral::id_start_minimized, start_minimized_preference},
    {CPreferencesGeneral::id_notify_arrivals, notify_arrivals_preference},
};

}  // namespace

CPreferencesGeneral::CPreferencesGeneral(QWidget* parent) : QWidget(parent) {
  const dialog_units units = dialog_units::from_dialog_font();
  setMinimumSize(units.size(284, 115));
  layout_ = dialog_layout::build(this, "quorvane::CPreferencesGeneral", general_table, units);
  for (const check_box_preference& row : check_boxes) {
    auto* box = layout_.find<QCheckBox>(row.id);
    box->setChecked(read_preference(row.preference) != 0);
    const preference_value& preference = row.preference;
    connect(box, &QCheckBox::clicked, this,
            [&preference](bool ticked) { write_preference(preference, ticked ? 1 : 0); });
  }
}

}  // namespace quorvane
