#include "ui/app/console_pages.h"

#include <QPushButton>
#include <QTabWidget>

#include "ui/lists/printer_list.h"
#include "ui/main/quorvane_dlg.h"
#include "ui/settings/general_settings.h"
#include "ui/settings/security_settings.h"

namespace quorvane {

console_pages::console_pages(CQuorvaneDlg& window)
    : general_(new CGeneralSettings()), security_(new CSecuritySettings()) {
  const update_printer_function send = [&window](model::printer_ptr p) {
    window.updatePrinter(std::move(p));
  };
  general_->set_update_printer(send);
  general_->set_button_host(window.centralWidget());
  security_->set_update_printer(send);
  security_->set_button_host(window.centralWidget());

  auto* list = new CPrinterList();
  list->set_update_printer(send);
  window.install_printer_list(list);
  window.install_pages(general_, security_, this);

  QTabWidget* holder = window.page_holder();
  // A page shows the buttons it works with when it becomes active; the window has the last word, so that
  // the connecting view shows none and an edit in progress keeps Save and Cancel.
  auto follow = [this, &window](int index) {
    general_->set_active(index == 0);
    security_->set_active(index == 1);
    window.sync_button_visibility();
  };
  QObject::connect(holder, &QTabWidget::currentChanged, general_, follow);
  follow(holder->currentIndex());
  QObject::connect(window.button(button_add_user), &QPushButton::clicked, security_,
                   [this] { security_->ask_and_add_user(); });
  QObject::connect(window.button(button_remove_user), &QPushButton::clicked, security_,
                   [this] { security_->remove_selected_user(); });
}

void console_pages::show_printer(model::printer_ptr printer) {
  general_->show_printer(printer);
  security_->show_printer(printer);
}

void console_pages::begin_edit() {
  general_->begin_edit();
}

void console_pages::apply_edit() {
  general_->apply_edit();
}

void console_pages::cancel_edit() {
  general_->cancel_edit();
}

}  // namespace quorvane
