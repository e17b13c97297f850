// The full printer list and settings pages of the console, installed in the main window.
#pragma once

#include "ui/session/printer_pages.h"

namespace quorvane {

class CGeneralSettings;
class CQuorvaneDlg;
class CSecuritySettings;

/// Puts `CPrinterList`, `CGeneralSettings` and `CSecuritySettings` into the main window and drives the two
/// pages for the window's flows: the general page edits, both show the selected printer, the security page
/// answers the user buttons ("+" 1017 and "-" 1040). Must outlive the window's use of it.
class console_pages final : public printer_pages {
 public:
  /// Installs the list and the pages in `window`.
  explicit console_pages(CQuorvaneDlg& window);

  /// Shows `printer` on both pages (the general page applies edits in progress first).
  void show_printer(model::printer_ptr printer) override;
  /// Starts editing on the general page.
  void begin_edit() override;
  /// Applies the general page's edits (which sends the printer).
  void apply_edit() override;
  /// Drops the general page's edits.
  void cancel_edit() override;

  /// The general page.
  CGeneralSettings* general() const { return general_; }
  /// The security page.
  CSecuritySettings* security() const { return security_; }

 private:
  CGeneralSettings* general_;
  CSecuritySettings* security_;
};

}  // namespace quorvane
