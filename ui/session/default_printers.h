// The printers the console makes by itself: the first run's defaults and the new printer of "+".
#pragma once

#include <string>

#include "model/printer.h"

namespace quorvane {

/// The Dropbox folder of the user, looked up in this order; the first that is a directory wins:
///   1. the documents folder (XDG_DOCUMENTS_DIR, else the one in ~/.config/user-dirs.dirs, else ~/Documents)
///      followed by "Dropbox", then by "My Dropbox";
///   2. the "path" of "personal", then of "business", in ~/.dropbox/info.json (the Linux client's record);
///   3. ~/Dropbox.
/// Returns "" when none is a directory.
std::string find_dropbox_folder();

/// The console's own folder inside the Dropbox folder: `find_dropbox_folder()` + "/Quorvane", created when
/// missing. "" when there is no Dropbox folder or the folder cannot be created (logged).
std::string dropbox_quorvane_folder();

/// A new printer with the fields every printer the console makes shares: a new uuid, location "Quorvane @ "
/// and the computer name, make "Quorvane", model "Virtual Printer", the default formats and paper sizes,
/// the four feature words 0, not auto-created. Not stored.
model::printer_ptr new_console_printer();

/// The first run's "open_on_my_pc" printer (action 1, the default application), not stored.
model::printer_ptr make_open_on_my_pc_printer();

/// The first run's "send_to_dropbox" printer (action 0) copying into `folder`, not stored.
model::printer_ptr make_send_to_dropbox_printer(const std::string& folder);

/// The printer "+" adds: "new_printer", action 0, not stored.
model::printer_ptr make_new_printer();

/// Stores the first run's printers: "open_on_my_pc", then "send_to_dropbox" when a Dropbox folder is found.
/// Returns the number stored.
int create_default_printers();

}  // namespace quorvane
