#include "ui/settings/console_pages.h"

#include <QPushButton>
#include <QTabWidget>

#include "ui/lists/printer_list.h"
#include "ui/main/quorvane_dlg.h"
#include "ui/settings/general_settings.h"
#include "ui/settings/security_settings.h"

namespace quorvane {

console_pages::console_pages(CQuorvaneDlg& window, const image_loader& images)
    : QObject(&window),
      list_(new CPrinterList(nullptr, images)),
      general_(new CGeneralSettings(nullptr, images)),
      security_(new CSecuritySettings(nullptr, images)) {}

console_pages* console_pages::install(CQuorvaneDlg& window, const image_loader& images) {
  auto* pages = new console_pages(window, images);
  // Every change goes to the service; the completion has nothing to do (the service reports back).
  const update_printer_function send = [&window](smart_ptr<model::printer> p) { window.updatePrinter(p); };
  pages->list_->set_update_printer(send);
  pages->general_->set_update_printer(send);
  pages->security_->set_update_printer(send);
  pages->general_->set_button_host(&window);
  pages->security_->set_button_host(&window);

  window.install_printer_list(pages->list_);
  window.install_pages(pages->general_, pages->security_, pages);

  QTabWidget* holder = window.page_holder();
  auto follow_tab = [pages](int index) {
    pages->general_->set_active(index == 0);
    pages->security_->set_active(index == 1);
  };
  connect(holder, &QTabWidget::currentChanged, pages, follow_tab);
  follow_tab(holder->currentIndex());
  if (QPushButton* add = window.button(button_add_user))
    connect(add, &QPushButton::clicked, pages->security_, &CSecuritySettings::ask_and_add_user);
  if (QPushButton* remove = window.button(button_remove_user))
    connect(remove, &QPushButton::clicked, pages->security_, &CSecuritySettings::remove_selected_user);
  return pages;
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
