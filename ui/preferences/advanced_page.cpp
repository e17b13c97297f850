#include "ui/preferences/advanced_page.h"

#include <QCheckBox>
#include <QLabel>
#include <QMenu>
#include <QTimer>
#include <QToolButton>

#include "core/log.h"

namespace quorvane {
namespace {

using k = control_kind;
namespace s = control_style;

// "Advanced", 284 x 115 dialog units. Some texts are a few units wider than a narrower face would need, so
// that none is cut off in the dialog font and its larger check indicators.
const dialog_control advanced_table[] = {
    {no_control_id, k::text, "generateLabel",
     QT_TRANSLATE_NOOP("quorvane::CPreferencesAdvanced", "Generate Print Job Filename Using:"), 15, 11, 130,
     8, s::no_wrap},
    {CPreferencesAdvanced::id_sample, k::text, "sample", "", 16, 26, 260, 8, s::center | s::no_wrap},
    {CPreferencesAdvanced::id_device_user, k::check_box, "deviceUser",
     QT_TRANSLATE_NOOP("quorvane::CPreferencesAdvanced", "Device User"), 29, 41, 58, 10},
    {CPreferencesAdvanced::id_device_ip, k::check_box, "deviceIpAddress",
     QT_TRANSLATE_NOOP("quorvane::CPreferencesAdvanced", "Device IP Address"), 29, 55, 77, 10},
    {CPreferencesAdvanced::id_device_ethernet, k::check_box, "deviceEthernetAddress",
     QT_TRANSLATE_NOOP("quorvane::CPreferencesAdvanced", "Device Ethernet Address"), 29, 69, 99, 10},
    {no_control_id, k::horizontal_line, "line", "", 14, 89, 258, 1},
    {no_control_id, k::text, "loggingLabel", QT_TRANSLATE_NOOP("quorvane::CPreferencesAdvanced", "Logging:"),
     15, 101, 30, 8, s::no_wrap},
    {CPreferencesAdvanced::id_logging, k::split_button, "logging", "", 48, 98, 80, 14},
};

// Which bit each check box sets.
const struct {
  int id;
  int32_t bit;
} flag_boxes[] = {
    {CPreferencesAdvanced::id_device_user, advanced_preferences::device_user},
    {CPreferencesAdvanced::id_device_ip, advanced_preferences::device_ip_address},
    {CPreferencesAdvanced::id_device_ethernet, advanced_preferences::device_ethernet_address},
};

}  // namespace

CPreferencesAdvanced::CPreferencesAdvanced(const preferences_links& links, QWidget* parent)
    : QWidget(parent), links_(with_defaults(links)), values_(links_.filename_flags()) {
  const dialog_units units = dialog_units::from_dialog_font();
  setMinimumSize(units.size(284, 115));
  layout_ = dialog_layout::build(this, "quorvane::CPreferencesAdvanced", advanced_table, units);

  for (const auto& box : flag_boxes) {
    auto* check = layout_.find<QCheckBox>(box.id);
    check->setChecked(values_.has(box.bit));
    connect(check, &QCheckBox::clicked, this,
            [this, bit = box.bit](bool ticked) { flag_clicked(bit, ticked); });
  }

  auto* logging = layout_.find<QToolButton>(id_logging);
  menu_ = logging->menu();
  for (const log_level_choice& choice : log_level_choices) {
    if (choice.level == 0) menu_->addSeparator();
    QAction* action = menu_->addAction(tr(choice.name));
    action->setData(choice.command);
  }
  // The menu reports its choice after it has hidden itself; a menu closed without one gives "None".
  connect(menu_, &QMenu::aboutToShow, this, [this] { chosen_.reset(); });
  connect(menu_, &QMenu::triggered, this, [this](QAction* action) { chosen_ = action->data().toInt(); });
  connect(menu_, &QMenu::aboutToHide, this,
          [this] { QTimer::singleShot(0, this, [this] { choose_level(chosen_); }); });
  // The face is a click that chose no entry.
  connect(logging, &QToolButton::clicked, this, [this] { choose_level(std::nullopt); });
}

void CPreferencesAdvanced::choose_level(std::optional<int> command) {
  const int32_t level = chosen_log_level(command);
  layout_.find<QToolButton>(id_logging)->setText(log_level_name(level));
  set_log_level(level);
  send(log_level_attributes(level));
}

void CPreferencesAdvanced::showEvent(QShowEvent* event) {
  layout_.find<QLabel>(id_sample)->setText(advanced_preferences::sample_text(values_.flags()));
  layout_.find<QToolButton>(id_logging)->setText(log_level_name(log_level_threshold()));
  QWidget::showEvent(event);
}

void CPreferencesAdvanced::flag_clicked(int32_t bit, bool ticked) {
  // The main window's flags are the base, so that bits set by the service since the page opened stay.
  values_ = advanced_preferences(links_.filename_flags());
  const Json::Value attributes = values_.set(bit, ticked);
  links_.set_filename_flags(values_.flags());
  send(attributes);
  layout_.find<QLabel>(id_sample)->setText(advanced_preferences::sample_text(values_.flags()));
}

void CPreferencesAdvanced::send(const Json::Value& attributes) {
  if (!links_.service) return;
  links_.service->saveAttributes(attributes, [](int32_t) {});
}

}  // namespace quorvane
