// The printer list's behaviour: merging the service's printer notifications into the rows and the stored
// records, the selection, and the flows of the buttons "+", "-", "Edit", "Save" and "Cancel".
#pragma once

#include <array>
#include <functional>
#include <list>
#include <string>

#include "model/printer.h"
#include "ui/session/printer_pages.h"
#include "ui/session/printer_rows.h"

namespace quorvane {

/// The main window's flat buttons under the list and the pages, by control id.
enum console_button : int {
  button_add_user = 1017,        ///< "+" of the security page: add a user to the access list
  button_add_printer = 1018,     ///< "+" under the printer list
  button_remove_printer = 1019,  ///< "-" under the printer list
  button_remove_user = 1040,     ///< "-" of the security page: remove the selected user
  button_edit = 1050,            ///< "Edit": start editing on the general page
  button_cancel = 1060,          ///< "Cancel": drop the edits
  button_save = 1070,            ///< "Save": apply the edits
};

/// The seven buttons, in table order.
inline constexpr std::array<console_button, 7> console_buttons = {
    button_add_printer, button_remove_printer, button_edit,       button_save,
    button_cancel,      button_add_user,       button_remove_user};

/// Whether a button is shown and whether it can be pressed.
struct button_state {
  bool visible = false;
  bool enabled = true;
  /// Equal when both members are.
  friend bool operator==(const button_state&, const button_state&) = default;
};

/// The settings pages, by tab position.
enum class settings_page { general = 0, security = 1 };

/// Keeps the printer list's rows, selection and buttons in step with the service and the user. Plain
/// logic: the window forwards the user's actions here and follows what it reports.
class printer_list_controller {
 public:
  /// Sends a printer to the service ("updatePrinter" or "removePrinter"); the answer is not waited for.
  using send_function = std::function<void(model::printer_ptr printer)>;

  /// A controller over `rows` (not owned) driving `pages` (not owned; may be set later).
  printer_list_controller(printer_list_model& rows, printer_pages* pages, send_function update_printer,
                          send_function remove_printer);

  /// Replaces the pages the flows drive (null: none).
  void set_pages(printer_pages* pages) { pages_ = pages; }

  /// Called with the row that became selected by the controller's doing (-1: none), so the view follows.
  void on_selection_changed(std::function<void(int row)> handler) { selection_handler_ = std::move(handler); }
  /// Called to make `page` the page holder's current page (the window then reports `page_activated`).
  void on_activate_page(std::function<void(settings_page)> handler) { activate_page_ = std::move(handler); }
  /// Called with each button whose state changed.
  void on_button_changed(std::function<void(console_button, button_state)> handler) {
    button_handler_ = std::move(handler);
  }

  // ---- the service's notifications

  /// Merges the printers into the rows and the stored records; a printer with `exists` false is removed.
  /// Selects row 0 afterwards when nothing is selected.
  void printersWereUpdated(std::list<model::printer_ptr>& printers);
  /// Deletes the rows of these printers; unknown printers are ignored.
  void printersWereRemoved(std::list<model::printer_ptr>& printers);

  // ---- the window's views

  /// The connecting view: every row deleted, editing dropped, every button hidden, no pending new printer.
  void enter_connecting();
  /// The connected view: "+", "-" and "Edit" shown, the general page active.
  void enter_connected();

  // ---- the user's actions

  /// The selection moved to `row` (-1: none): the pages get its printer, "-" is enabled only for a printer
  /// the service did not create, "Edit" only with a printer.
  void select(int row);
  /// "+": applies edits in progress, adds a new unsaved printer, selects it and starts editing it.
  void add_printer();
  /// "-": deletes the selected printer's row and stored record and asks the service to remove it. A printer
  /// the service created (one of its CUPS queues) is never removed: the service would offer it again.
  void remove_printer();
  /// The name of the printer "-" would remove, as the list shows it, for the question asked first; empty
  /// when there is nothing to ask: no selection, a printer the service created, or the new printer not
  /// saved yet (which "-" only drops).
  std::string printer_to_remove() const;
  /// "Edit": starts editing on the general page.
  void edit();
  /// "Save": stores a pending new printer, applies the edits (which sends the printer) and sorts the list.
  void save();
  /// "Cancel": drops the edits; a pending new printer's row goes.
  void cancel();
  /// The page holder's current page changed: the buttons of that page are shown, the other page's hidden.
  void page_activated(settings_page page);

  /// Shows or hides a button (pages and the window use it); reports a change.
  void set_button_visible(console_button button, bool visible);
  /// Enables or disables a button; reports a change.
  void set_button_enabled(console_button button, bool enabled);
  /// The state of `button`.
  button_state button(console_button button) const;

  // ---- state

  /// The selected row, -1 when none.
  int selected_row() const;
  /// The selected row's printer; null when none.
  model::printer_ptr selected_printer() const;
  /// True between "+" and the next Save or Cancel.
  bool new_printer_pending() const { return new_printer_pending_; }
  /// The uuid of the pending new printer.
  const std::string& pending_printer_uuid() const { return pending_uuid_; }
  /// True while the general page edits (after "Edit" or "+", until Save or Cancel).
  bool editing() const { return editing_; }
  /// The page holder's current page.
  settings_page current_page() const { return page_; }
  /// The rows.
  printer_list_model& rows() { return rows_; }

 private:
  /// Applies one printer of "printersWereUpdated".
  void merge(const model::printer_ptr& printer);
  /// Deletes `row`, keeping the selection on the same printer, or on row 0 when it was the selected one.
  void delete_row(int row);
  /// Makes `page` the current page (through the window when it listens).
  void activate(settings_page page);
  /// Drops the edits of the general page and a pending new printer's flag.
  void drop_editing();
  /// Shows or hides "Edit", "Save" and "Cancel" for the editing state.
  void show_edit_buttons();
  /// Index of `button` in `buttons_`.
  static size_t slot(console_button button);

  printer_list_model& rows_;
  printer_pages* pages_;
  send_function update_printer_;
  send_function remove_printer_;
  std::function<void(int)> selection_handler_;
  std::function<void(console_button, button_state)> button_handler_;
  std::function<void(settings_page)> activate_page_;
  std::array<button_state, console_buttons.size()> buttons_{};
  // The selected row's printer object, found again by identity after rows move.
  const model::printer* selected_ = nullptr;
  bool new_printer_pending_ = false;
  std::string pending_uuid_;
  bool editing_ = false;
  bool connected_ = false;
  settings_page page_ = settings_page::general;
};

}  // namespace quorvane
