#include "ui/main/settings_pages.h"

#include "ui/settings/general_page.h"
#include "ui/settings/security_page.h"

namespace quorvane {

settings_pages::settings_pages(CGeneralSettings* general, CSecuritySettings* security)
    : general_(general), security_(security) {}

void settings_pages::show_printer(model::printer_ptr printer) {
  general_->show_printer(printer);
  security_->show_printer(printer);
}

void settings_pages::begin_edit() {
  general_->begin_edit();
}

void settings_pages::apply_edit() {
  general_->apply_edit();
}

void settings_pages::cancel_edit() {
  general_->cancel_edit();
}

}  // namespace quorvane
