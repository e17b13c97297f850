// Where a printer keeps the documents it receives: its own folder, or the default folder in the user's
// download folder for a printer whose folder is "Default".
#pragma once

#include <cstdint>
#include <string>

#include "model/printer.h"

namespace quorvane {

/// The user's download folder: XDG_DOWNLOAD_DIR of the user's folder list ($XDG_CONFIG_HOME/user-dirs.dirs,
/// else ~/.config/user-dirs.dirs), else ~/Downloads. Empty when no home folder is known.
std::string download_folder();

/// The folder where a printer whose folder is "Default" keeps its documents: "Quorvane" in the download
/// folder. Empty when no home folder is known.
std::string default_document_folder();

/// Whether a printer with the folder `folder` ("" for "Default") and the action `action` keeps its documents
/// in a folder: every printer with a folder of its own, and every printer that neither opens nor prints them
/// (a document it took would otherwise go nowhere).
bool keeps_documents(const std::string& folder, int32_t action);

/// `keeps_documents` for the folder and action of `p`.
bool keeps_documents(const model::printer& p);

/// The folder where `p` keeps its documents: its own, else (when it keeps them) the default folder. Empty for
/// a printer without a folder that opens or prints its documents, or when no home folder is known.
std::string document_folder_of(const model::printer& p);

}  // namespace quorvane
