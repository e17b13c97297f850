// What the main window asks of the two settings pages ("General" and "Security") beside the printer list.
#pragma once

#include "model/printer.h"

namespace quorvane {

/// The settings pages as the printer list's flows drive them. The general page owns the editing of a printer
/// (its working values and what changed); the security page owns the access list. Every change a page makes
/// reaches the service through `CQuorvaneDlg::updatePrinter`.
class printer_pages {
 public:
  virtual ~printer_pages() = default;

  /// Shows `printer` (null: no printer) on both pages. The general page applies edits in progress to the
  /// printer it showed before (as `apply_edit`) unless it is the same object; the security page refreshes.
  virtual void show_printer(model::printer_ptr printer) = 0;
  /// Starts editing the shown printer on the general page; nothing when already editing or no printer.
  virtual void begin_edit() = 0;
  /// Ends editing and applies the working values to the printer, then sends it with `updatePrinter`;
  /// nothing when not editing.
  virtual void apply_edit() = 0;
  /// Ends editing and drops the working values; nothing when not editing.
  virtual void cancel_edit() = 0;
};

}  // namespace quorvane
