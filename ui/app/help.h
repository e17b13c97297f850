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

/// Opens a document; false when nothing could be started.
using document_opener = std::function<bool(const QString& path)>;

/// Opens `path` with xdg-open (started detached); false when it could not be started.
bool open_with_desktop(const QString& path);

/// The "Contents" command: opens the help document with `open`; when there is none, or it cannot be
/// opened, shows "Unable to display help." in an error box captioned "Help Error" over `parent`. Returns
/// true when the document was handed to the viewer.
bool open_help(QWidget* parent, const document_opener& open = open_with_desktop,
               const QString& program_folder = QString());

}  // namespace quorvane
