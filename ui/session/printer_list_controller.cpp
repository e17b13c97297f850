#include "ui/session/printer_list_controller.h"

#include <algorithm>

#include "database/object.h"
#include "ui/session/default_printers.h"

namespace quorvane {

printer_list_controller::printer_list_controller(printer_list_model& rows, printer_pages* pages,
                                                 send_function update_printer, send_function remove_printer)
    : rows_(rows),
      pages_(pages),
      update_printer_(std::move(update_printer)),
      remove_printer_(std::move(remove_printer)) {
  // A check box the user ticks or clears in the list goes to the service at once.
  rows_.set_enabled_handler([this](model::printer_ptr printer) {
    if (update_printer_) update_printer_(std::move(printer));
  });
}

size_t printer_list_controller::slot(console_button button) {
  const auto* at = std::find(console_buttons.begin(), console_buttons.end(), button);
  return static_cast<size_t>(at - console_buttons.begin());
}

button_state printer_list_controller::button(console_button button) const {
  return buttons_[slot(button)];
}

void printer_list_controller::set_button_visible(console_button button, bool visible) {
  button_state& state = buttons_[slot(button)];
  if (state.visible == visible) return;
  state.visible = visible;
  if (button_handler_) button_handler_(button, state);
}

void printer_list_controller::set_button_enabled(console_button button, bool enabled) {
  button_state& state = buttons_[slot(button)];
  if (state.enabled == enabled) return;
  state.enabled = enabled;
  if (button_handler_) button_handler_(button, state);
}

int printer_list_controller::selected_row() const {
  if (!selected_) return -1;
  for (int row = 0; row < rows_.rowCount(); ++row) {
    if (rows_.printer_at(row).get() == selected_) return row;
  }
  return -1;
}

model::printer_ptr printer_list_controller::selected_printer() const {
  return rows_.printer_at(selected_row());
}

// ---- notifications

void printer_list_controller::printersWereUpdated(std::list<model::printer_ptr>& printers) {
  // The stored records of the whole notification are written with one commit.
  const database::transaction batch;
  for (const model::printer_ptr& printer : printers) {
    if (!printer) continue;
    if (!printer->exists()) {
      std::list<model::printer_ptr> gone = {printer};
      printersWereRemoved(gone);
      continue;
    }
    merge(printer);
  }
  // A name the service reports (the answer to a rename, or a change made elsewhere) may break the order;
  // sorted only now, the list shows the name it sorts by. The selection follows its printer.
  rows_.sort_by_name();
  if (selected_row() < 0 && rows_.rowCount() > 0) select(0);
}

void printer_list_controller::merge(const model::printer_ptr& printer) {
  // The stored record follows what the service reports; the row holds the service's own record.
  if (model::printer_ptr stored = database::find_by_uuid<model::printer>(printer->uuid())) {
    stored->update(*printer);
    stored->save();
  }
  const int row = rows_.find_row(printer->uuid());
  if (row < 0) {
    rows_.insert_printer(printer);
    return;
  }
  const bool was_selected = rows_.printer_at(row).get() == selected_;
  rows_.set_printer(row, printer);
  if (was_selected) {
    selected_ = printer.get();
    if (pages_) pages_->show_printer(printer);
  }
}

void printer_list_controller::printersWereRemoved(std::list<model::printer_ptr>& printers) {
  for (const model::printer_ptr& printer : printers) {
    if (!printer) continue;
    const int row = rows_.find_row(printer->uuid());
    if (row >= 0) delete_row(row);
  }
}

void printer_list_controller::delete_row(int row) {
  const bool was_selected = rows_.printer_at(row).get() == selected_;
  if (was_selected && editing_) {
    // The printer being edited is gone: applying the edits would send it back to the service.
    drop_editing();
  }
  rows_.remove_row(row);
  if (was_selected) {
    selected_ = nullptr;
    select(rows_.rowCount() > 0 ? 0 : -1);
  }
}

// ---- views

void printer_list_controller::enter_connecting() {
  connected_ = false;
  rows_.clear();
  selected_ = nullptr;
  if (selection_handler_) selection_handler_(-1);
  drop_editing();
  if (pages_) pages_->show_printer(nullptr);
  for (console_button b : console_buttons) set_button_visible(b, false);
}

void printer_list_controller::enter_connected() {
  connected_ = true;
  set_button_visible(button_add_printer, true);
  set_button_visible(button_remove_printer, true);
  const model::printer_ptr printer = selected_printer();
  set_button_enabled(button_remove_printer, printer && !printer->autoCreated());
  set_button_enabled(button_edit, bool(printer));
  activate(settings_page::general);
  page_activated(settings_page::general);
}

// ---- selection and buttons

void printer_list_controller::select(int row) {
  model::printer_ptr printer = rows_.printer_at(row);
  if (editing_ && printer.get() != selected_) {
    if (new_printer_pending_) {
      // Leaving an unsaved new printer keeps it, as Save does: the page sends it to the service on leaving,
      // so the stored records must know it too.
      save();
    } else {
      // The general page applies its edits itself when it is given the next printer.
      editing_ = false;
      show_edit_buttons();
    }
  }
  selected_ = printer.get();
  if (selection_handler_) selection_handler_(selected_row());
  if (pages_) pages_->show_printer(printer);
  if (printer) set_button_enabled(button_add_printer, true);
  set_button_enabled(button_remove_printer, printer && !printer->autoCreated());
  set_button_enabled(button_edit, bool(printer));
}

void printer_list_controller::add_printer() {
  if (new_printer_pending_) {
    // The earlier new printer is kept as Save would keep it, rather than left in the list unstored.
    save();
  } else {
    if (pages_) pages_->apply_edit();
    editing_ = false;
  }
  const model::printer_ptr printer = make_new_printer();
  select(rows_.insert_printer(printer));
  new_printer_pending_ = true;
  pending_uuid_ = printer->uuid();
  activate(settings_page::general);
  if (pages_) pages_->begin_edit();
  editing_ = true;
  show_edit_buttons();
}

void printer_list_controller::remove_printer() {
  const int row = selected_row();
  if (row < 0) return;
  const model::printer_ptr printer = rows_.printer_at(row);
  if (new_printer_pending_ && printer->uuid() == pending_uuid_) {
    // The new printer was never stored nor sent: removing it is dropping it.
    cancel();
    return;
  }
  // "-" is disabled for these; this holds for any other way here too.
  if (printer->autoCreated()) return;
  if (editing_) drop_editing();
  const model::printer_ptr stored = database::find_by_uuid<model::printer>(printer->uuid());
  // A row printer that was stored writes itself back on release when dirty; made clean now, it cannot
  // bring the deleted row back.
  if (printer->oid() != 0) printer->save();
  rows_.remove_row(row);
  selected_ = nullptr;
  if (stored) database::remove(*stored);
  // Without this the service keeps the printer and offers it again at the next connection.
  if (remove_printer_) remove_printer_(printer);
  select(0);
}

std::string printer_list_controller::printer_to_remove() const {
  const model::printer_ptr printer = rows_.printer_at(selected_row());
  if (!printer || printer->autoCreated() || (new_printer_pending_ && printer->uuid() == pending_uuid_))
    return {};
  return shown_display_name(printer->displayName());
}

void printer_list_controller::edit() {
  if (!selected_printer()) return;
  if (pages_) pages_->begin_edit();
  editing_ = true;
  show_edit_buttons();
}

void printer_list_controller::save() {
  if (new_printer_pending_) {
    const int row = rows_.find_row(pending_uuid_);
    if (row >= 0) rows_.printer_at(row)->save();
  }
  if (pages_) pages_->apply_edit();
  editing_ = false;
  new_printer_pending_ = false;
  pending_uuid_.clear();
  show_edit_buttons();
  rows_.sort_by_name();
}

void printer_list_controller::cancel() {
  if (pages_) pages_->cancel_edit();
  editing_ = false;
  show_edit_buttons();
  if (new_printer_pending_) {
    new_printer_pending_ = false;
    const int row = rows_.find_row(pending_uuid_);
    pending_uuid_.clear();
    if (row >= 0) {
      rows_.remove_row(row);
      selected_ = nullptr;
      select(0);
    }
  }
}

void printer_list_controller::drop_editing() {
  // While editing, a pending new printer is the selected row; whoever calls this deletes that row.
  if (pages_) pages_->cancel_edit();
  editing_ = false;
  new_printer_pending_ = false;
  pending_uuid_.clear();
  show_edit_buttons();
}

void printer_list_controller::activate(settings_page page) {
  if (activate_page_) activate_page_(page);
  page_ = page;
}

void printer_list_controller::page_activated(settings_page page) {
  page_ = page;
  const bool security = connected_ && page == settings_page::security;
  set_button_visible(button_add_user, security);
  set_button_visible(button_remove_user, security);
  show_edit_buttons();
}

void printer_list_controller::show_edit_buttons() {
  const bool general = connected_ && page_ == settings_page::general;
  set_button_visible(button_edit, general && !editing_);
  set_button_visible(button_save, general && editing_);
  set_button_visible(button_cancel, general && editing_);
}

}  // namespace quorvane
