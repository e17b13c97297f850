#include "ui/preferences/preferences_dlg.h"

#include <QPushButton>
#include <QTabWidget>

#include "ui/preferences/advanced_page.h"
#include "ui/preferences/general_page.h"
#include "ui/preferences/network_page.h"

namespace quorvane {
namespace {

// "Quorvane Preferences", 298 x 165 dialog units; the frame marks where the pages go.
const dialog_control preferences_table[] = {
    {PreferencesDlg::id_ok, control_kind::default_button, "ok",
     QT_TRANSLATE_NOOP("quorvane::PreferencesDlg", "OK"), 241, 144, 50, 14},
    {PreferencesDlg::id_page_frame, control_kind::frame, "pageFrame", "", 7, 7, 284, 120},
};

}  // namespace

PreferencesDlg::PreferencesDlg(QWidget* parent, const preferences_links& links) : QDialog(parent) {
  setWindowTitle(tr("Quorvane Preferences"));
  const dialog_units units = dialog_units::from_dialog_font();
  setFixedSize(units.size(298, 165));
  layout_ = dialog_layout::build(this, "quorvane::PreferencesDlg", preferences_table, units);
  const preferences_links full = with_defaults(links);

  pages_ = new QTabWidget(this);
  pages_->setObjectName(QStringLiteral("pages"));
  general_ = new CPreferencesGeneral();
  network_ = new CPreferencesNetwork(full);
  advanced_ = new CPreferencesAdvanced(full);
  pages_->addTab(general_, tr("General"));
  pages_->addTab(network_, tr("Network"));
  pages_->addTab(advanced_, tr("Advanced"));
  // The holder's top-left corner sits 7 pixels left of and above the frame's; it keeps the same margin on
  // the right and ends 7 pixels above OK, which leaves the pages at least their table's size.
  const QRect frame = layout_.control(id_page_frame)->geometry();
  const QPoint corner = frame.topLeft() - QPoint(7, 7);
  const int ok_top = layout_.control(id_ok)->y();
  pages_->setGeometry(corner.x(), corner.y(), width() - 2 * corner.x(), ok_top - 7 - corner.y());
  pages_->setFocusPolicy(Qt::TabFocus);
  setTabOrder(pages_, layout_.control(id_ok));

  connect(layout_.find<QPushButton>(id_ok), &QPushButton::clicked, this, &QDialog::accept);
  connect(pages_, &QTabWidget::currentChanged, this, &PreferencesDlg::page_changed);
}

PreferencesDlg::~PreferencesDlg() {
  if (!stored_) network_->store();
}

void PreferencesDlg::page_changed(int index) {
  if (index == current_page_) return;
  if (pages_->widget(current_page_) == network_ && !network_->check_leaving()) {
    pages_->setCurrentWidget(network_);
    return;
  }
  current_page_ = index;
}

void PreferencesDlg::done(int result) {
  if (!stored_) {
    if (!network_->check_leaving()) {
      pages_->setCurrentWidget(network_);
      return;
    }
    network_->store();
    stored_ = true;
  }
  QDialog::done(result);
}

}  // namespace quorvane
