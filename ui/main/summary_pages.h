// The settings pages the main window shows until the full general and security pages are installed: a
// read-only summary of the selected printer on each tab.
#pragma once

#include <QLabel>

#include <functional>
#include <string>

#include "ui/session/printer_pages.h"

namespace quorvane {

/// The summary texts of a printer: the general tab's lines (name, location, folder, action) and the
/// security tab's users ("Everyone" for an empty access list). Empty for no printer.
struct printer_summary {
  std::string general;
  std::string security;
};

/// The summary of `printer` (null: empty texts).
printer_summary summarize(const model::printer* printer);

/// `printer_pages` over two labels: shows the summary; editing has no working values, so applying the edits
/// sends the printer unchanged (which is what Save of a new printer needs).
class summary_pages final : public printer_pages {
 public:
  /// Pages writing into `general` and `security` (not owned) and sending through `send`.
  summary_pages(QLabel* general, QLabel* security, std::function<void(model::printer_ptr)> send);

  /// Holds and shows `printer`.
  void show_printer(model::printer_ptr printer) override;
  /// Marks the page as editing.
  void begin_edit() override;
  /// Ends editing and sends the printer.
  void apply_edit() override;
  /// Ends editing.
  void cancel_edit() override;

  /// The printer shown; null when none.
  const model::printer_ptr& printer() const { return printer_; }
  /// True between `begin_edit` and `apply_edit` or `cancel_edit`.
  bool editing() const { return editing_; }

 private:
  QLabel* general_;
  QLabel* security_;
  std::function<void(model::printer_ptr)> send_;
  model::printer_ptr printer_;
  bool editing_ = false;
};

}  // namespace quorvane
