// The two settings pages of the main window as its printer list's flows drive them.
#pragma once

#include "ui/session/printer_pages.h"

namespace quorvane {

class CGeneralSettings;
class CSecuritySettings;

/// Drives `CGeneralSettings` and `CSecuritySettings` for the window's flows: both show the selected printer,
/// the general page edits.
class settings_pages final : public printer_pages {
 public:
  /// Pages over `general` and `security` (not owned).
  settings_pages(CGeneralSettings* general, CSecuritySettings* security);

  /// Shows `printer` on both pages (the general page applies edits in progress first).
  void show_printer(model::printer_ptr printer) override;
  /// Starts editing on the general page.
  void begin_edit() override;
  /// Applies the general page's edits (which sends the printer).
  void apply_edit() override;
  /// Drops the general page's edits.
  void cancel_edit() override;

 private:
  CGeneralSettings* general_;
  CSecuritySettings* security_;
};

}  // namespace quorvane
