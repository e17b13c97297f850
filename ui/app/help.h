// Opening the console's help document with the desktop's viewer.
#pragma once

#include <QString>

#include <functional>

class QWidget;

namespace quorvane {

/// The help document's path: "<program folder>/../share/quorvane/help/index.html" (an installed tree),
/// else "<program folder>/help/index.html" (the copy the build puts beside the program). "" when neither
/// file exists. `program_folder` defaults to the folder of /proc/self/exe.
QString help_document_path(const QString& program_folder = QString());

/// Says whether a document could be opened; called once, possibly later, from the event loop.
using open_outcome = std::function<void(bool opened)>;

/// Opens a document and reports through `done` whether it could.
using document_opener = std::function<void(const QString& path, open_outcome done)>;

/// Opens `path` with xdg-open and reports false when xdg-open cannot be started or ends with a failure (no
/// application for the document's type: exit status 3, or one that failed: 4), true when it ends well. An
/// xdg-open that waits for the viewer reports when the viewer ends.
void open_with_desktop(const QString& path, open_outcome done);

/// The "Contents" command: opens the help document with `open`; when there is none, or it cannot be
/// opened (at once or when the opener reports so later), shows "Unable to display help." in an error box
/// captioned "Help Error" over `parent` (or with no parent once `parent` is gone).
void open_help(QWidget* parent, const document_opener& open = open_with_desktop,
               const QString& program_folder = QString());

}  // namespace quorvane
