// The printer list and the two settings pages put into the main window, and the window's page flows
// forwarded to them.
#pragma once

#include <QObject>

#include "ui/lists/list_images.h"
#include "ui/main/printer_pages.h"

namespace quorvane {

class CGeneralSettings;
class CPrinterList;
class CQuorvaneDlg;
class CSecuritySettings;

/// The console's own printer list and settings pages inside a `CQuorvaneDlg`: every change they make is
/// sent with the window's `updatePrinter`; the security page's "+" and "-" open "Add User" and remove the
/// selected user; the pages follow the page holder's current tab.
class console_pages final : public QObject, public printer_pages {
  Q_OBJECT

 public:
  /// Puts a `CPrinterList`, a `CGeneralSettings` and a `CSecuritySettings` (drawing with `images`) into
  /// `window`; the returned object belongs to the window.
  static console_pages* install(CQuorvaneDlg& window, const image_loader& images = console_images());

  /// Shows `printer` on both pages (the general page applies edits in progress first).
  void show_printer(model::printer_ptr printer) override;
  /// "Edit" on the general page.
  void begin_edit() override;
  /// "Save" on the general page (also before "+").
  void apply_edit() override;
  /// "Cancel" on the general page (also in the connecting view).
  void cancel_edit() override;

  /// The printer list.
  CPrinterList* list() const { return list_; }
  /// The general page.
  CGeneralSettings* general() const { return general_; }
  /// The security page.
  CSecuritySettings* security() const { return security_; }

 private:
  /// Pages for `window`, not yet installed.
  console_pages(CQuorvaneDlg& window, const image_loader& images);

  CPrinterList* list_;
  CGeneralSettings* general_;
  CSecuritySettings* security_;
};

}  // namespace quorvane
