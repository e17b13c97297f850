// What the folder and application choosers accept, checked on the file system without a dialog.
#pragma once

#include <QString>

namespace quorvane {

/// True when `path` names an existing folder (a link to one counts).
bool is_choosable_folder(const QString& path);

/// True when `path` names an existing regular file (or a link to one) that the user may execute.
bool is_choosable_application(const QString& path);

}  // namespace quorvane
